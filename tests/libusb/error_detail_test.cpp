// What the error detail tells over libusb: a download whose file fails (the
// stream is still read to its end, so the device is left idle), and a device
// that vanished.
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

// libusb reports a vanished device as gone (ENODEV), during the read it
// vanished in and at the start of every later transfer.
TEST_F(LibusbTest, AVanishedDeviceIsReportedGone) {
  connect();
  logger().with_model([](sim::DeviceModel& model) {
    return model.arm_fault(sim::FaultKind::kUnplugOnRead, 0x02, 0, 0);
  });
  for (int call = 0; call < 2; ++call) {
    std::uint16_t word = 0;
    std::uint8_t a = 0, b = 0, c = 0;
    EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_ERR_EXCHANGE) << call;
    MaltorErrorDetail detail{};
    EXPECT_EQ(MaltorGetLastError(&detail), MALTOR_DETAIL_DEVICE) << call;
    EXPECT_NE(std::strstr(detail.text, "gone"), nullptr) << detail.text;
  }
  logger().unplug();  // the next test plugs it in afresh
}

}  // namespace
}  // namespace maltor::test
