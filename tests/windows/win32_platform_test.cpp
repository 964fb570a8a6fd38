// The Windows platform layer against the real system calls (run under wine in
// a cross-build): handle values, overlapped records, clocks and
// the executable's folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include "platform/clock.h"
#include "platform/os.h"
#include "platform/win32/usb/win32_usb.h"

namespace maltor::platform {
namespace {

// wine's winusb.dll has the WinUSB names but no bodies behind them: any call
// ends the process. Tests that reach WinUSB run on Windows only.
bool under_wine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(Win32Handles, InvalidHandleValueIsAllBitsSet) {
  EXPECT_EQ(win32::from_handle(INVALID_HANDLE_VALUE), kInvalidHandle);
  EXPECT_EQ(win32::to_handle(kInvalidHandle), INVALID_HANDLE_VALUE);
  EXPECT_EQ(open_device_file("\\\\.\\maltor-no-such-device"), kInvalidHandle);
  close_device_file(kInvalidHandle);  // ignored, as the core relies on
}

TEST(Win32Handles, AnOrdinaryFileIsNoWinUsbDevice) {
  if (under_wine()) GTEST_SKIP() << "wine has no WinUSB";
  const std::string path = (std::filesystem::temp_directory_path() / "maltor_not_usb.bin").string();
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  const Handle file = open_device_file(path.c_str());
  ASSERT_NE(file, kInvalidHandle);
  EXPECT_EQ(usb_initialize(file), kInvalidHandle);
  close_device_file(file);
  std::filesystem::remove(path);
}

// An overlapped read of a temporary file through an IoRecord: the event, the
// wait and the collected count all come from the record.
TEST(Win32Overlapped, ARecordCarriesAnOverlappedReadToItsResult) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "maltor_overlapped.bin").string();
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const char data[100] = "0123456789";
    std::fwrite(data, 1, sizeof data, f);
    std::fclose(f);
  }
  const Handle file = open_device_file(path.c_str());
  ASSERT_NE(file, kInvalidHandle);
  IoRecord io;
  io_open(io, /*manual_reset=*/true);
  char buffer[256] = {};
  const BOOL ok =
      ReadFile(win32::to_handle(file), buffer, sizeof buffer, nullptr, &win32::overlapped_of(io));
  ASSERT_TRUE(ok || GetLastError() == ERROR_IO_PENDING);
  EXPECT_TRUE(io_wait(io, 5000));
  std::uint32_t count = 0;
  EXPECT_EQ(io_result(file, io, /*wait=*/true, &count), IoStatus::kDone);
  EXPECT_EQ(count, 100u);
  EXPECT_STREQ(buffer, "0123456789");
  io_close(io);
  close_device_file(file);
  std::filesystem::remove(path);
}

TEST(Win32Overlapped, PollingARunningTransferReportsIncomplete) {
  IoRecord io;
  io_open(io, /*manual_reset=*/false);
  OVERLAPPED& overlapped = win32::overlapped_of(io);
  overlapped.Internal = 0x103;  // STATUS_PENDING: the system's mark of a running transfer
  std::uint32_t count = 7;
  EXPECT_EQ(io_result(kInvalidHandle, io, /*wait=*/false, &count), IoStatus::kIncomplete);
  EXPECT_EQ(count, 0u);
  overlapped.Internal = 0;  // completed with 42 bytes
  overlapped.InternalHigh = 42;
  EXPECT_EQ(io_result(kInvalidHandle, io, /*wait=*/false, &count), IoStatus::kDone);
  EXPECT_EQ(count, 42u);
  io_close(io);
}

TEST(Win32Overlapped, EventsResetAsAsked) {
  for (const bool manual : {false, true}) {
    IoRecord io;
    io_open(io, manual);
    EXPECT_FALSE(io_wait(io, 0)) << "a new event starts unsignalled";
    SetEvent(win32::overlapped_of(io).hEvent);
    EXPECT_TRUE(io_wait(io, 0));
    EXPECT_EQ(io_wait(io, 0), manual) << (manual ? "manual" : "automatic") << " reset";
    io_close(io);
    EXPECT_EQ(win32::overlapped_of(io).hEvent, nullptr);
    io_close(io);  // a second close is harmless
  }
}

TEST(Win32Clock, WallClockTickAndSleepAgree) {
  std::int64_t seconds = 0;
  std::uint16_t milliseconds = 1000;
  const std::int64_t before = now_seconds();
  now_seconds_ms(&seconds, &milliseconds);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, now_seconds());
  EXPECT_LT(milliseconds, 1000);
  const std::uint32_t start = tick_ms();
  sleep_ms(30);
  EXPECT_GE(static_cast<std::uint32_t>(tick_ms() - start), 15u);
}

TEST(Win32Clock, LocalTimeTextHasTheRuntimeForm) {
  char text[26];
  std::memset(text, 'x', sizeof text);
  local_time_text(1700000000, text);  // mid-November 2023 in every time zone
  EXPECT_TRUE(
      std::regex_match(text, std::regex("[A-Z][a-z]{2} Nov 1[45] \\d\\d:\\d\\d:\\d\\d 2023\n")))
      << text;
  local_time_text(-1, text);  // outside the runtime's range
  EXPECT_STREQ(text, "");
}

TEST(Win32Host, ExecutableFolderHoldsThisProgram) {
  char folder[1024];
  ASSERT_TRUE(executable_folder(folder, sizeof folder));
  const std::filesystem::path self = std::filesystem::path(folder) / "maltor_win32_tests.exe";
  EXPECT_TRUE(std::filesystem::exists(self)) << self.string();
  EXPECT_FALSE(executable_folder(folder, std::strlen(folder)));  // no room for the terminator
  EXPECT_FALSE(executable_folder(nullptr, sizeof folder));
}

}  // namespace
}  // namespace maltor::platform
