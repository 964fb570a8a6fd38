// A download whose file fails, over libusb: the stream is still read to its
// end, so the device is left idle, and the error detail tells what the file
// did not take.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "libusb_fixture.h"

namespace maltor::test {
namespace {

TEST_F(LibusbTest, DownloadIntoAFailingFileIsReportedAndLeavesTheDeviceIdle) {
  connect();
  const auto folder = std::filesystem::temp_directory_path() /
                      ("maltor_libusb_files_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string missing = (folder / "missing" / "log.bin").string();
  const struct {
    std::string path;
    std::int32_t os_error;
  } cases[] = {{missing, ENOENT}, {"/dev/full", ENOSPC}};
  for (const auto& c : cases) {
    struct stat info {};
    if (c.os_error == ENOSPC && stat("/dev/full", &info) != 0) continue;
    EXPECT_EQ(SCSDRequestSendData(c.path.c_str(), 0, 63), MALTOR_OK) << c.path;
    MaltorErrorDetail detail{};
    EXPECT_EQ(MaltorGetLastError(&detail), MALTOR_DETAIL_FILE) << c.path;
    EXPECT_EQ(std::tuple(detail.os_error, detail.bytes_done, detail.bytes_expected),
              std::tuple(c.os_error, 0u, 32768u))
        << detail.text;
  }
  // The next download gets its own data, whole.
  const std::string good = (folder / "log.bin").string();
  EXPECT_EQ(SCSDRequestSendData(good.c_str(), 0, 63), MALTOR_OK);
  EXPECT_EQ(MaltorGetLastError(nullptr), MALTOR_DETAIL_NONE);
  EXPECT_EQ(std::filesystem::file_size(good), 32768u);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace maltor::test
