// The maltor program run whole against the virtual device: what reaches the
// user (output, files, exit codes) across the command, the library and the
// device.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string read_file(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ToolRunTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("maltor_tool_run_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }

  // Runs maltor --sim with the arguments (shell words, quoted by the caller)
  // and standard input from /dev/null.
  ToolRun maltor(const std::string& args) const {
    const std::string err_path = path("stderr.txt");
    const std::string command = std::string("'") + MALTOR_TOOL_PATH + "' --sim --lib '" +
                                MALTOR_SIM_LIBRARY + "' " + args + " </dev/null 2>'" + err_path +
                                "'";
    ToolRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      run.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = read_file(err_path);
    return run;
  }

  // Writes `size` bytes of a pattern to a file in the test's folder; returns its path.
  std::string pattern_file(const std::string& name, std::size_t size) const {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

 private:
  fs::path folder_;
};

TEST_F(ToolRunTest, CommandsPrintAndSaveWhatTheDeviceDid) {
  struct Case {
    std::string args;
    std::vector<std::string> out;  // each found in standard output
    std::string err;               // found in standard error
  };
  const std::string image = "'" + pattern_file("image.bin", 300000) + "'";
  const std::string config = pattern_file("config.bin", 1000);
  const std::vector<Case> cases = {
      // The library sends under its own identifier, and the user is told so.
      {"can send 0 123#DEADBEEF ';' can dump 0 --count 1",
       {"bus 0: sent 7E0#DEADBEEF, returned word 0x00000001",
        "bus0  7E0       [4]  DE AD BE EF  attr 0x00 word 0x00000001"},
       "not 123#DEADBEEF"},
      // The device clock runs on between the commands: a second at most.
      {"clock set 2024-02-29T12:00:00Z ';' clock --json", {"\"utc\":\"2024-02-29 12:00:0"}, ""},
      // The virtual card: two logs in partition 0, one in partition 1, none in 2.
      {"logs --json --partitions 3",
       {"{\"card\":{\"count\":3,", "{\"partition\":1,\"count\":1,",
        "\"block_16_text\":\"LOG-P1-0000\"", "{\"partition\":2,\"count\":0,\"logs\":[]}"},
       ""},
      {"format --yes ';' logs --partitions 2",
       {"card formatted; format reply 0x0000\nCard: 0 logs\n\nNo logs in partitions 0-1\n"},
       ""},
      // Every frame the device took is counted.
      {"--sim-speed high reflash " + image,
       {"reflash 100%  1072 / 1072", "(300000 bytes, zero-filled to 524288)"},
       ""},
      {"--sim-speed full reflash " + image, {"reflash 100%  12486 / 12486"}, ""},
      {"download 0 2047 '" + path("out.bin") + "'", {"download 100%  1.0 MiB / 1.0 MiB"}, ""},
      {"live --count 3 --out '" + path("live.bin") + "'", {}, "stopping live data"},
      // A trace is read back once the run that wrote it has ended.
      {"--trace '" + path("t.pcapng") + "' can send 0 7E0#01 ';' can dump 0 --count 1", {}, ""},
      {"trace summary '" + path("t.pcapng") + "'",
       {"CANRx                                  1         0",
        "CANTx                                  1         0", "0 failures"},
       ""},
      {"gateway-config '" + config + "' ';' config send '" + config + "' ';' config get '" +
           path("back.bin") + "'",
       {"gateway configuration sent: 1000 bytes", "device status word 0x0000; done (result 0)",
        "configuration read: 1000 bytes"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = maltor(c.args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const std::string& text : c.out) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text << " in:\n" << run.out;
    }
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }

  // The virtual card's pattern: byte k of sector s is (k ^ 7s ^ (s >> 8)) & 0xFF.
  const std::string sectors = read_file(path("out.bin"));
  ASSERT_EQ(sectors.size(), 1u << 20);
  for (const std::size_t offset : {std::size_t{0}, std::size_t{513}, (std::size_t{1} << 20) - 1}) {
    const std::size_t sector = offset / 512;
    EXPECT_EQ(static_cast<std::uint8_t>(sectors[offset]),
              static_cast<std::uint8_t>((offset % 512) ^ (sector * 7) ^ (sector >> 8)))
        << offset;
  }
  // Live records, saved raw: byte i of record r is (r + i) & 0xFF.
  const std::string records = read_file(path("live.bin"));
  ASSERT_EQ(records.size(), 3u * 512);
  for (std::size_t r = 1; r < 3; ++r) {
    EXPECT_EQ(static_cast<std::uint8_t>(records[r * 512]),
              static_cast<std::uint8_t>(records[(r - 1) * 512] + 1));
  }
  EXPECT_EQ(read_file(path("back.bin")), read_file(config));
}

// The outcome printed and the exit code come from the progress log.
TEST_F(ToolRunTest, FirmwareUpdateOutcomeIsTheProgressLogs) {
  struct Case {
    std::string target;
    std::size_t image_bytes;
    int exit_code;
    std::string outcome;  // the last line printed
    std::string log_end;  // the log's last line
  };
  const std::vector<Case> cases = {
      {"logger", 6000, 0, "firmware update finished: 6000 bytes transferred",
       "Firmware update is finished successfully."},
      {"gateway", 40000, 0, "firmware update finished: 40000 bytes transferred",
       "Firmware update is finished successfully."},
      // An empty image: the logger sends nothing after its start frame; the
      // gateway announces nothing and its log ends without a trailer.
      {"logger", 0, 1, "firmware update not finished: 0 bytes transferred",
       "Firmware update is not finished successfuly."},
      {"gateway", 0, 1,
       "firmware update not finished: the log says \"Reprogramming  preparation - Failed\"",
       "Reprogramming  preparation - Failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target + " " + std::to_string(c.image_bytes));
    const std::string image = pattern_file("image.bin", c.image_bytes);
    const std::string log = path(c.target + std::to_string(c.image_bytes) + ".log");
    const ToolRun run = maltor("update " + c.target + " '" + image + "' --log '" + log + "'");
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_NE(run.out.find(c.outcome + " (log " + log + ")\n"), std::string::npos) << run.out;
    const std::string text = read_file(log);
    const std::string title = c.target == "logger" ? "Osprin" : "Gateway";
    EXPECT_NE(text.find(std::string(93, '*') + "\r"), std::string::npos) << text;
    EXPECT_NE(text.find("Varden " + title + " reprogramming started at "), std::string::npos);
    EXPECT_TRUE(text.ends_with(c.log_end + "\r\r\n")) << text;
  }
}

TEST_F(ToolRunTest, FailuresGiveAReasonAndANonZeroExit) {
  struct Case {
    std::string args;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"--sim-devices 0 info", 1, "no device found"},
      {"logfile 70 100 '" + path("log.txt") + "'", 1, "the device refused with status 2"},
      {"format", 2, "add --yes"},  // standard input is not a terminal
      {"--trace '" + path("no/such/t.pcapng") + "' info", 1, "could not be created"},
      {"trace summary '" + path("none.pcapng") + "'", 1, "cannot read the trace"},
      {"trace summary '" + pattern_file("junk.pcapng", 100) + "'", 1,
       "no little-endian pcapng section header"},
      {"download 5 4 '" + path("x.bin") + "'", 2, "END (4) is below START (5)"},
      {"can send 0 800#00", 2, "the ID is out of range"},
      {"firmware-version '" + path("missing.bin") + "'", 1, "no such file"},
      {"update logger '" + path("missing.bin") + "' --log '" + path("u.log") + "'", 2,
       "missing.bin does not exist"},
      {"update gateway '" + pattern_file("fw.bin", 10) + "'", 2, "--log LOG is required"},
      {"reflash '" + pattern_file("big.bin", 524289) + "'", 2, "an image is at most 524288"},
      {"config send '" + pattern_file("empty.bin", 0) + "'", 2, "empty.bin is empty"},
      // The virtual device starts without a configuration.
      {"config get '" + path("c.bin") + "'", 1, "the device holds no configuration"},
      // More than the virtual device keeps: its status word refuses it.
      {"config send '" + pattern_file("c70k.bin", 70000) + "'", 1, "status word 0x0003, not 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = maltor(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

}  // namespace
