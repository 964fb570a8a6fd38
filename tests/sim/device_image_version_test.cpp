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

TEST_F(ImageVersion, FullImageGivesBothFieldsAroundAnUnderscore) {
  char text[14];
  std::memset(text, '#', sizeof text);
  ASSERT_EQ(GetFileNameFirmwareVersion(image(524288), text), 1);

  Bytes expected(14);
  for (std::size_t i = 0; i < 5; ++i) expected[i] = image_byte(kFirst + i);
  expected[5] = '_';  // file byte 16,373 never reaches the text
  for (std::size_t i = 0; i < 6; ++i) expected[6 + i] = image_byte(kSecond + i);
  expected[12] = '#';  // left as the caller had it
  expected[13] = 0;
  EXPECT_EQ(text_of(text), expected);
}

TEST_F(ImageVersion, ImageEndingBeforeTheSecondFieldLeavesItZeroAndUnterminated) {
  char text[14];
  std::memset(text, '#', sizeof text);
  ASSERT_EQ(GetFileNameFirmwareVersion(image(20000), text), 1);
  Bytes expected(14, 0);
  for (std::size_t i = 0; i < 5; ++i) expected[i] = image_byte(kFirst + i);
  expected[5] = '_';
  expected[12] = '#';
  expected[13] = '#';
  EXPECT_EQ(text_of(text), expected);
}

TEST_F(ImageVersion, OneByteOfTheSecondFieldIsEnoughToTerminate) {
  char text[14];
  std::memset(text, '#', sizeof text);
  ASSERT_EQ(GetFileNameFirmwareVersion(image(kSecond + 1), text), 1);
  EXPECT_EQ(static_cast<std::uint8_t>(text[6]), image_byte(kSecond));
  EXPECT_EQ(Bytes(text + 7, text + 12), Bytes(5, 0));
  EXPECT_EQ(text[12], '#');
  EXPECT_EQ(text[13], 0);
}

TEST_F(ImageVersion, ImageTooShortForTheFirstFieldGivesZeroAndAClearedText) {
  char text[14];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(GetFileNameFirmwareVersion(image(kFirst), text), 0);
  Bytes expected(14, '#');
  std::fill(expected.begin(), expected.begin() + 10, 0);
  EXPECT_EQ(text_of(text), expected);
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
