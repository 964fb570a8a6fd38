// The version text read from a firmware image file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"

namespace maltor::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t image_byte(std::size_t offset) {
  return static_cast<std::uint8_t>('A' + (offset * 7 + offset / 251) % 26);
}

class ImageVersion : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }

  // Writes an image of `size` bytes and returns its path.
  const char* image(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = image_byte(i);
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (size > 0) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, size, file), size);
    }
    std::fclose(file);
    return path_.c_str();
  }

  static Bytes text_of(const char (&text)[14]) { return Bytes(text, text + 14); }

  std::string path_ =
      (std::filesystem::temp_directory_path() /
       ("maltor_image_" +
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
        std::to_string(std::random_device{}()) + ".bin"))
          .string();
};

constexpr std::size_t kFirst = 16368;
constexpr std::size_t kSecond = 524280;

// The text after a call, from a pattern: F and S are the next byte of the
// first (file offset 16,368) and second (524,280) field, 0 a zero, others as
// written.
Bytes expected_text(const char* pattern) {
  Bytes out;
  std::size_t first = kFirst, second = kSecond;
  for (const char* p = pattern; *p != '\0'; ++p) {
    out.push_back(*p == 'F'   ? image_byte(first++)
                  : *p == 'S' ? image_byte(second++)
                  : *p == '0' ? 0
                              : static_cast<std::uint8_t>(*p));
  }
  return out;
}

// Byte 5 is always '_' (file byte 16,373 never reaches the text), byte 12 is
// left as the caller had it; a second field ending early is zero-filled.
TEST_F(ImageVersion, FieldsFollowTheImageLength) {
  const struct {
    std::size_t size;
    std::uint8_t result;
    const char* text;
  } cases[] = {
      {524288, 1, "FFFFF_SSSSSS#0"},
      {20000, 1, "FFFFF_000000##"},  // no second field: unterminated
      {kSecond + 1, 1, "FFFFF_S00000#0"},
      {kFirst, 0, "0000000000####"},  // too short for the first field
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    char text[14];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(GetFileNameFirmwareVersion(image(c.size), text), c.result);
    EXPECT_EQ(text_of(text), expected_text(c.text));
  }
}

TEST_F(ImageVersion, MissingFileOrNullArgumentsLeaveTheTextAlone) {
  char text[14];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(GetFileNameFirmwareVersion(path_.c_str(), text), 0);
  EXPECT_EQ(GetFileNameFirmwareVersion(nullptr, text), 0);
  EXPECT_EQ(text_of(text), Bytes(14, '#'));
  EXPECT_EQ(GetFileNameFirmwareVersion(image(524288), nullptr), 0);
}

}  // namespace
}  // namespace maltor::test
