#include "device/image_version.h"

#include <cstdio>
#include <cstring>

#include "link/error_detail.h"
#include "platform/os.h"

namespace maltor::device {

namespace {

using detail::FileStep;

// The image keeps its version in two 6-byte fields.
constexpr std::int64_t kFirstFieldOffset = 0x3FF0;
constexpr std::int64_t kSecondFieldOffset = 0x7FFF8;
constexpr std::size_t kFieldLength = 6;

}  // namespace

std::uint8_t image_firmware_version(const char* path, char* text) {
  if (path == nullptr || text == nullptr) return detail::refused_argument(0);
  platform::File image;
  // Opened for update as well, as the device tools always have: a read-only
  // or locked image is reported as unreadable.
  if (!image.open(path, platform::FileMode::kReadUpdate)) {
    return detail::file_failure(0, FileStep::kOpenForReading, image, path, 0, 0);
  }
  std::memset(text, 0, 10);

  char field[kFieldLength] = {};
  if (!image.seek(kFirstFieldOffset, SEEK_SET) || image.read(field, kFieldLength) == 0) {
    return detail::file_failure(0, FileStep::kRead, image, path, 0,
                                kFirstFieldOffset + kFieldLength);
  }
  std::memcpy(text, field, kFieldLength);
  text[5] = '_';  // replaces the field's sixth byte

  char second[kFieldLength] = {};
  const std::size_t got =
      image.seek(kSecondFieldOffset, SEEK_SET) ? image.read(second, kFieldLength) : 0;
  // An image that ends before the second field leaves text bytes 6–11 at 0
  // and the text unterminated, so a caller can tell it apart.
  std::memcpy(text + 6, second, kFieldLength);
  if (got > 0) text[13] = '\0';
  // Byte 12 is never written: the text keeps whatever the caller had there.
  return 1;
}

}  // namespace maltor::device
