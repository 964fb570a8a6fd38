// A file written through the platform layer (common/file.cpp) has the same bytes on every OS:
// text modes write LF as CR LF (as the Windows C runtime does), binary modes
// write the bytes unchanged. The same expectations run on Linux and, in the
// Windows build, under wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os.h"

namespace maltor::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes read_back(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() /
            ("maltor_file_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove(path_);
  }
  void TearDown() override { std::filesystem::remove(path_); }

  std::filesystem::path path_;
};

// Bare CR passes through; a CR already before an LF gains another, as in the
// runtime's text mode.
const std::string kWritten = std::string("line 1\nline 2\r\n\n\rend\0\n", 23);

TEST_F(FileTest, TextAndBinaryModesWriteTheExpectedBytes) {
  const struct {
    FileMode mode;
    Bytes expected;
  } cases[] = {
      {FileMode::kWriteText, bytes_of(std::string("line 1\r\nline 2\r\r\n\r\n\rend\0\r\n", 27))},
      {FileMode::kWriteBinary, bytes_of(kWritten)},
  };
  for (const auto& c : cases) {
    File file;
    ASSERT_TRUE(file.open(path_.string().c_str(), c.mode));
    // The count is of the caller's bytes, not of the bytes on disk.
    EXPECT_EQ(file.write(kWritten.data(), kWritten.size()), kWritten.size());
    file.close();
    EXPECT_EQ(read_back(path_), c.expected) << "mode " << static_cast<int>(c.mode);
  }
}

TEST_F(FileTest, AppendModesAddToTheEndInTheirOwnTranslation) {
  File file;
  ASSERT_TRUE(file.open(path_.string().c_str(), FileMode::kWriteBinary));
  ASSERT_TRUE(file.write_text("a\n"));
  file.close();
  ASSERT_TRUE(file.open(path_.string().c_str(), FileMode::kAppendText));
  ASSERT_TRUE(file.write_text("b\n"));
  file.close();
  ASSERT_TRUE(file.open(path_.string().c_str(), FileMode::kAppendBinary));
  ASSERT_TRUE(file.write_text("c\n"));
  file.close();
  EXPECT_EQ(read_back(path_), bytes_of("a\nb\r\nc\n"));
}

TEST_F(FileTest, WriteTextModeReplacesAnExistingFile) {
  { std::ofstream(path_, std::ios::binary) << "old content that is longer"; }
  File file;
  ASSERT_TRUE(file.open(path_.string().c_str(), FileMode::kWriteText));
  ASSERT_TRUE(file.write_text("new\n"));
  file.close();
  EXPECT_EQ(read_back(path_), bytes_of("new\r\n"));
}

// Offsets past 4 GiB survive seek and tell on every OS (long has 32 bits on
// Windows). The file is sparse, so this costs no disk space.
TEST_F(FileTest, SeekAndTellCarry64BitOffsets) {
  constexpr std::int64_t kSize = 0x1'0000'0001;
  { std::ofstream(path_, std::ios::binary).put('x'); }
  std::filesystem::resize_file(path_, kSize);
  File file;
  ASSERT_TRUE(file.open(path_.string().c_str(), FileMode::kReadBinary));
  ASSERT_TRUE(file.seek(0, SEEK_END));
  EXPECT_EQ(file.tell(), kSize);
  ASSERT_TRUE(file.seek(kSize - 1, SEEK_SET));
  EXPECT_EQ(file.tell(), kSize - 1);
  ASSERT_TRUE(file.seek(0, SEEK_SET));
  char first = 0;
  EXPECT_EQ(file.read(&first, 1), 1u);
  EXPECT_EQ(first, 'x');
}

}  // namespace
}  // namespace maltor::platform
