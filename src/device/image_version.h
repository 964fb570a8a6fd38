// The version text stored inside a firmware image file; no device involved.
#pragma once

#include <cstdint>

namespace maltor::device {

// GetFileNameFirmwareVersion: 1 once the image's first version field was
// read into `text`, 0 when the image cannot be opened or read (or for a null
// path or text).
std::uint8_t image_firmware_version(const char* path, char* text);

}  // namespace maltor::device
