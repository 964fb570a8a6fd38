// The data-processor reflash: a firmware image of 524,288 bytes sent with
// the file-transfer exchange, from a file the caller names or from the fixed
// image path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace maltor::update {

// SCReflashFile: kOk when every frame was written and every reply read;
// kTransferFailed when a transfer failed, or, with nothing sent, when the
// image is missing, empty, unreadable or longer than 524,288 bytes;
// kBadArgument for a null path, nothing sent. Stamps the frames with the
// library-wide sequence counter.
std::uint8_t reflash_file(const char* path);

// SCReflash: the image at the fixed image path, always in data frames of
// the high-speed limit, stamped with a sequence counter of its own. 1 on
// success, 0 on any failure.
std::int32_t reflash_fixed();

// Writes the fixed image path into `out`; false when it does not fit or the
// executable's folder is unknown.
bool fixed_image_path(char* out, std::size_t capacity);

}  // namespace maltor::update
