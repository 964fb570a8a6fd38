// The error detail: what each call leaves in it, the result texts, and the
// failures it reports that a result code cannot tell (files that would not
// take the data, sizes the library refuses, inputs that are not files).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "exports/call_barrier.h"
#include "link/result.h"
#include "sim/virtual_bus.h"
#include "sim_fixture.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

namespace maltor::test {
namespace {

MaltorErrorDetail last_detail() {
  MaltorErrorDetail detail{};
  MaltorGetLastError(&detail);
  return detail;
}

// ---- Result texts -----------------------------------------------------------

// Every code the public header defines has a sentence of its own, so a code
// added there without one is caught here.
TEST(ResultText, EveryCodeInThePublicHeaderHasASentence) {
  // The source path may be relative to the build folder, which lies one or
  // two levels above where the tests run.
  const auto relative =
      std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "include" / "MaltorUSBdrv.h";
  std::filesystem::path header = relative;
  for (const char* up : {"", "..", "../.."}) {
    if (std::filesystem::exists(std::filesystem::path(up) / relative)) {
      header = std::filesystem::path(up) / relative;
      break;
    }
  }
  std::ifstream in(header);
  if (!in) GTEST_SKIP() << "header not reachable from here: " << header;
  int codes = 0;
  for (std::string line; std::getline(in, line);) {
    char name[64] = {};
    int value = 0;
    if (std::sscanf(line.c_str(), "#define MALTOR_%63s %d", name, &value) != 2) continue;
    if (std::strcmp(name, "OK") != 0 && std::strncmp(name, "ERR_", 4) != 0) continue;
    const auto code = static_cast<std::uint8_t>(value);
    ++codes;
    EXPECT_TRUE(result_is_defined(code)) << name;
    EXPECT_STRNE(MaltorResultText(code), "") << name;
    EXPECT_EQ(std::string(MaltorResultText(code)).rfind("device status", 0), std::string::npos);
  }
  EXPECT_GE(codes, 10);
  EXPECT_STREQ(MaltorResultText(200), "device status 200");
}

// ---- What a call leaves in the detail --------------------------------------

class LastError : public SimFolderTest {};

TEST_F(LastError, EachExportDescribesItsOwnCallAndTheServicesLeaveItAlone) {
  // Nothing plugged: refused before anything is sent.
  EXPECT_EQ(SCSetDateTime(5), MALTOR_ERR_NO_DEVICE);
  MaltorErrorDetail detail = last_detail();
  EXPECT_EQ(detail.kind, MALTOR_DETAIL_DEVICE);
  EXPECT_EQ(detail.result, MALTOR_ERR_NO_DEVICE);
  EXPECT_NE(detail.text[0], '\0');

  // The library services neither clear nor change it; a null record is allowed.
  MaltorGetVersion();
  MaltorResultText(6);
  EXPECT_EQ(MaltorGetLastError(nullptr), MALTOR_DETAIL_DEVICE);
  EXPECT_STREQ(last_detail().text, detail.text);

  // A second thread has a detail of its own.
  std::uint8_t other_kind = 0xFF;
  std::thread([&] {
    other_kind = MaltorGetLastError(nullptr);
    uint32_t clock = 0;
    SCGetDateTime(&clock);
  }).join();
  EXPECT_EQ(other_kind, MALTOR_DETAIL_NONE);
  EXPECT_EQ(MaltorGetLastError(nullptr), MALTOR_DETAIL_DEVICE);

  // A null output is an argument refusal.
  EXPECT_EQ(SCGetDateTime(nullptr), MALTOR_ERR_ARGUMENT);
  detail = last_detail();
  EXPECT_EQ(std::tuple(detail.kind, detail.result), std::tuple(MALTOR_DETAIL_ARGUMENT, 11));

  // The next call that succeeds leaves nothing behind.
  plug_and_connect();
  EXPECT_EQ(SCSetDateTime(5), MALTOR_OK);
  detail = last_detail();
  EXPECT_EQ(std::tuple(detail.kind, detail.result, detail.os_error, detail.text[0]),
            std::tuple(MALTOR_DETAIL_NONE, 0, 0, '\0'));
}

TEST_F(LastError, DeviceFailuresNameWhatWentWrong) {
  const auto set_date_time = [] { return SCSetDateTime(5); };
  const auto get_serial = [] {
    std::uint8_t block[128];
    return SCGetSerialNumber(block);
  };
  const auto set_settings = [] {
    const std::uint8_t settings[2] = {7, 9};
    return SCSetHWSettings(1, 0, 2, settings);
  };
  const struct {
    std::uint32_t fault;
    std::function<std::uint8_t()> call;
    const char* words;
  } cases[] = {
      {MALTOR_SIM_FAULT_NO_REPLY, set_date_time, "no reply"},
      {MALTOR_SIM_FAULT_WRONG_SEQUENCE, get_serial, "sequence"},
      {MALTOR_SIM_FAULT_WRONG_ECHO, set_settings, "answers command"},
  };
  const std::int32_t id = plug_and_connect();
  for (const auto& c : cases) {
    ASSERT_EQ(MaltorSim_InjectFault(id, c.fault, MALTOR_SIM_ANY_COMMAND, 1, 0), 0);
    EXPECT_EQ(c.call(), MALTOR_ERR_EXCHANGE);
    const MaltorErrorDetail detail = last_detail();
    EXPECT_EQ(std::tuple(detail.kind, detail.result), std::tuple(MALTOR_DETAIL_DEVICE, 6))
        << c.words;
    EXPECT_NE(std::strstr(detail.text, c.words), nullptr) << detail.text;
  }
}

// An exception never crosses the C boundary: the call fails and says why.
TEST(CallBarrier, ExceptionsBecomeTheCallsFailure) {
  const struct {
    std::function<void()> raise;
    std::int32_t os_error;
    const char* words;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, 0, "out of memory"},
      {[] { throw std::system_error(EAGAIN, std::generic_category(), "thread"); }, EAGAIN,
       "system"},
      {[] { throw 42; }, 0, "failed inside"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(exports::guarded([&]() -> std::uint8_t {
                c.raise();
                return kOk;
              }),
              kExchangeFailed);
    MaltorErrorDetail detail = last_detail();
    EXPECT_EQ(std::tuple(detail.kind, detail.result, detail.os_error),
              std::tuple(MALTOR_DETAIL_LIMIT, kExchangeFailed, c.os_error));
    EXPECT_NE(std::strstr(detail.text, c.words), nullptr) << detail.text;

    EXPECT_EQ(exports::guarded([&]() -> std::uint32_t {
                c.raise();
                return 7;
              }),
              0u);
    exports::guarded([&] { c.raise(); });
    EXPECT_EQ(MaltorGetLastError(nullptr), MALTOR_DETAIL_LIMIT);
  }
}

// ---- Files that do not take the data ----------------------------------------

struct Outcome {
  std::uint8_t result;
  MaltorErrorDetail detail;
};

// The three downloads into a file, each with what it returns when its
// destination fails and how many bytes it means to write.
struct Download {
  const char* name;
  std::function<std::uint8_t(const char*)> call;
  std::uint8_t result;
  std::uint64_t expected;
};

constexpr std::uint32_t kLogFileBytes = 200000;
constexpr std::uint32_t kConfigurationBytes = 65536;

const Download kDownloads[] = {
    {"GetLogData", [](const char* p) { return SCSDRequestSendData(p, 0, 2047); }, 0, 1048576},
    {"MirelGetFirstLogFile",
     [](const char* p) { return MirelGetFirstLogFile(1, kLogFileBytes, p); }, MALTOR_ERR_LOG_OPEN,
     kLogFileBytes},
    {"SCConfigFileData", [](const char* p) { return SCConfigFileData(p); }, MALTOR_ERR_EXCHANGE,
     kConfigurationBytes},
};

class FileDetail : public SimFolderTest {
 protected:
  void SetUp() override {
    SimFolderTest::SetUp();
    const std::int32_t id = plug_and_connect();
    const std::vector<std::uint8_t> configuration(kConfigurationBytes, 0x5A);
    ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_CONFIGURATION, configuration.data(),
                                   kConfigurationBytes),
              0);
    id_ = id;
  }
  static Outcome run(const Download& d, const std::string& path) {
    Outcome o{};
    o.result = d.call(path.c_str());
    MaltorGetLastError(&o.detail);
    return o;
  }
  std::int32_t id_ = 0;
};

#ifdef _WIN32
constexpr std::int32_t kNoFolder = 3;  // ERROR_PATH_NOT_FOUND
#else
constexpr std::int32_t kNoFolder = ENOENT;
#endif

TEST_F(FileDetail, DestinationInAMissingFolderIsReportedWithTheOsError) {
  const std::string path = (dir_ / "missing" / "out.bin").string();
  for (const Download& d : kDownloads) {
    SCOPED_TRACE(d.name);
    const Outcome o = run(d, path);
    EXPECT_EQ(o.result, d.result);
    EXPECT_EQ(std::tuple(o.detail.kind, o.detail.result, o.detail.os_error, o.detail.bytes_done),
              std::tuple(MALTOR_DETAIL_FILE, d.result, kNoFolder, 0u));
    EXPECT_NE(std::strstr(o.detail.text, path.c_str()), nullptr) << o.detail.text;
  }
}

#ifndef _WIN32

// How many bytes of section 1's log file a text-mode file of `disk` bytes
// holds whole: each line feed takes two bytes there.
std::uint64_t log_bytes_in(std::uint64_t disk) {
  std::uint64_t k = 0;
  for (std::uint64_t used = 0;; ++k) {
    const std::uint8_t b = k % 64 == 63 ? 0x0A : static_cast<std::uint8_t>(k + 1);
    used += b == 0x0A ? 2 : 1;
    if (used > disk) return k;
  }
}

// Runs `call` in a child process whose files may not grow beyond `limit`
// bytes (a write past it fails with EFBIG instead of raising SIGXFSZ), and
// returns what it returned and the detail it left.
Outcome in_size_limited_child(rlim_t limit, const std::function<Outcome()>& call) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit bound{limit, limit};
    setrlimit(RLIMIT_FSIZE, &bound);
    const Outcome o = call();
    const ssize_t written = write(fds[1], &o, sizeof o);
    _exit(written == static_cast<ssize_t>(sizeof o) ? 0 : 1);
  }
  close(fds[1]);
  Outcome o{};
  std::size_t got = 0;
  while (got < sizeof o) {
    const ssize_t n = read(fds[0], reinterpret_cast<char*>(&o) + got, sizeof o - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(got, sizeof o);
  return o;
}

// A file that stops growing part-way: the result is the one the call has for
// its destination failing (0 stays 0 for the log data), and the detail says
// how much arrived.
TEST_F(FileDetail, FileThatCanTakeOnlyPartIsReportedWithWhatArrived) {
  const struct {
    const Download& download;
    rlim_t limit;
    std::uint64_t done;  // bytes of the caller's data that reached the file
  } cases[] = {
      {kDownloads[0], 102400, 102400},
      {kDownloads[1], 102400, log_bytes_in(102400)},
      {kDownloads[2], 10000, 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.download.name);
    const std::string path = (dir_ / (std::string(c.download.name) + ".out")).string();
    const Outcome o = in_size_limited_child(c.limit, [&] { return run(c.download, path); });
    EXPECT_EQ(o.result, c.download.result);
    EXPECT_EQ(std::tuple(o.detail.kind, o.detail.os_error, o.detail.bytes_expected),
              std::tuple(MALTOR_DETAIL_FILE, EFBIG, c.download.expected));
    EXPECT_EQ(o.detail.bytes_done, c.done);
    EXPECT_EQ(std::filesystem::file_size(path), c.limit);
    EXPECT_NE(std::strstr(o.detail.text, path.c_str()), nullptr) << o.detail.text;
  }
  // The example a user meets first, exactly.
  const std::string path = (dir_ / "exact.bin").string();
  const Outcome o = in_size_limited_child(102400, [&] { return run(kDownloads[0], path); });
  EXPECT_EQ(o.detail.bytes_done, 102400u);
  EXPECT_NE(std::strstr(o.detail.text, "wrote 102,400 of 1,048,576 bytes"), nullptr)
      << o.detail.text;
}

// A full device takes nothing, and it stays the device it was: a download
// replaces regular files only.
TEST_F(FileDetail, FullDeviceIsReportedAndLeftInPlace) {
  struct stat before {};
  if (stat("/dev/full", &before) != 0 || !S_ISCHR(before.st_mode)) {
    GTEST_SKIP() << "no /dev/full on this machine";
  }
  for (const Download& d : kDownloads) {
    SCOPED_TRACE(d.name);
    const Outcome o = run(d, "/dev/full");
    EXPECT_EQ(o.result, d.result);
    EXPECT_EQ(std::tuple(o.detail.kind, o.detail.os_error, o.detail.bytes_done),
              std::tuple(MALTOR_DETAIL_FILE, ENOSPC, 0u));
    struct stat after {};
    ASSERT_EQ(stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
  }
}

#endif  // _WIN32

// A configuration size beyond what the library sends is not believed: no
// read request goes out and the file is not touched.
TEST_F(FileDetail, HostileConfigurationSizeIsRefusedBeforeAnyRead) {
  const std::string path = (dir_ / "back.cfg").string();
  std::ofstream(path) << "keep";
  for (const std::uint32_t size : {524289u, 0xFFFFFFFFu}) {
    {
      sim::VirtualBus& bus = sim::VirtualBus::get();
      std::lock_guard held(bus.lock);
      bus.by_id(id_)->model.content().config_size = size;
    }
    MaltorSim_TraceClear();
    EXPECT_EQ(SCConfigFileData(path.c_str()), MALTOR_ERR_EXCHANGE);
    const MaltorErrorDetail detail = last_detail();
    EXPECT_EQ(std::tuple(detail.kind, detail.bytes_expected),
              std::tuple(MALTOR_DETAIL_LIMIT, std::uint64_t{size}));
    ASSERT_EQ(frames_written().size(), 1u);
    EXPECT_EQ(frames_written()[0][3], 0x0A);
    EXPECT_EQ(read_bytes(path), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  }
}

// Inputs that are not regular files are refused as unreadable before
// anything is sent: a device would be read without end, a folder not at all.
TEST_F(FileDetail, InputsThatAreNotRegularFilesAreRefusedBeforeAnythingIsSent) {
  ReflashStatusCallBack([](uint32_t) {});
  const std::string log = (dir_ / "update.log").string();
  const struct {
    const char* name;
    std::function<std::uint8_t(const char*)> call;
    std::uint8_t result;
  } inputs[] = {
      {"UpdateLoggerFirmware", [&](const char* p) { return UpdateLoggerFirmware(p, log.c_str()); },
       MALTOR_ERR_FILE_OPEN},
      {"UpdateFirmware", [&](const char* p) { return UpdateFirmware(p, log.c_str()); },
       MALTOR_ERR_FILE_OPEN},
      {"SCReflashFile", [](const char* p) { return SCReflashFile(p); }, MALTOR_ERR_TRANSFER},
      {"SCReconfigureFile",
       [](const char* p) {
         uint16_t status = 0;
         return SCReconfigureFile(p, &status);
       },
       MALTOR_ERR_TRANSFER},
      {"GetFileNameFirmwareVersion",
       [](const char* p) {
         char text[16] = {};
         return GetFileNameFirmwareVersion(p, text);
       },
       0},
  };
  std::vector<std::string> paths = {dir_.string()};
#ifndef _WIN32
  paths.emplace_back("/dev/zero");
#endif
  for (const auto& input : inputs) {
    for (const std::string& path : paths) {
      SCOPED_TRACE(std::string(input.name) + " " + path);
      MaltorSim_TraceClear();
      EXPECT_EQ(input.call(path.c_str()), input.result);
      const MaltorErrorDetail detail = last_detail();
      EXPECT_EQ(detail.kind, MALTOR_DETAIL_FILE);
      EXPECT_NE(std::strstr(detail.text, "not a regular file"), nullptr) << detail.text;
      EXPECT_TRUE(trace().empty());
    }
  }
  ReflashStatusCallBack(nullptr);
}

// The stream stall fires once: the download it cut short says how far it
// got, and the next download runs whole.
TEST_F(FileDetail, StreamStallClearsItselfAfterTheDownloadItStopped) {
  const std::string path = (dir_ / "log.bin").string();
  ASSERT_EQ(
      MaltorSim_InjectFault(id_, MALTOR_SIM_FAULT_STREAM_STALL, MALTOR_SIM_ANY_COMMAND, 0, 5000),
      0);
  EXPECT_EQ(SCSDRequestSendData(path.c_str(), 0, 127), MALTOR_ERR_EXCHANGE);
  const MaltorErrorDetail detail = last_detail();
  EXPECT_EQ(std::tuple(detail.kind, detail.bytes_done, detail.bytes_expected),
            std::tuple(MALTOR_DETAIL_DEVICE, 5000u, 65536u));

  EXPECT_EQ(SCSDRequestSendData(path.c_str(), 0, 127), MALTOR_OK);
  EXPECT_EQ(MaltorGetLastError(nullptr), MALTOR_DETAIL_NONE);
  EXPECT_EQ(std::filesystem::file_size(path), 65536u);
}

}  // namespace
}  // namespace maltor::test
