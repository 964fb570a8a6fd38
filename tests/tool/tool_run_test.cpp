// The maltor program run whole against the virtual device: what reaches the
// user (output, files, exit codes) across the command, the library and the
// device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tool_process.h"

namespace {

namespace fs = std::filesystem;

using maltor::test::ToolRun;

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

  // Runs maltor --sim on the built library with the arguments (shell words,
  // quoted by the caller) and standard input from /dev/null, after
  // `shell_prefix` (shell commands).
  ToolRun maltor(const std::string& args, const std::string& shell_prefix = "") const {
    return maltor_with(shell_prefix, std::string("--lib '") + MALTOR_SIM_LIBRARY + "' " + args);
  }

  // Runs maltor --sim after `prefix` (shell commands or variable assignments);
  // the tool finds its library itself unless the arguments name one.
  ToolRun maltor_with(const std::string& prefix, const std::string& args) const {
    const std::string err_path = path("stderr.txt");
    const std::string command =
        prefix + " '" + MALTOR_TOOL_PATH + "' --sim " + args + " </dev/null 2>'" + err_path + "'";
    ToolRun run = maltor::test::run_shell(command);
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
      {"clock set 2024-02-29T12:00:00Z ';' clock --json", {"\"utc\":\"2024-02-29T12:00:0"}, ""},
      // The virtual card: two logs in partition 0, one in partition 1, none in 2.
      {"logs --json --partitions 3",
       {"{\"card\":{\"count\":3,", "{\"partition\":1,\"count\":1,",
        "\"block_16_text\":\"LOG-P1-0000\"", "{\"partition\":2,\"count\":0,\"logs\":[]}"},
       ""},
      {"format --yes ';' logs --partitions 2",
       {"card formatted; format reply 0x0000\nCard: 0 logs\n\nNo logs in partitions 0-1\n"},
       ""},
      // Every frame the device took is counted.
      // Progress goes to stderr, results to stdout.
      {"--sim-speed high reflash " + image,
       {"(300000 bytes, zero-filled to 524288)"},
       "reflash 100%  1072 / 1072"},
      {"--sim-speed full reflash " + image, {}, "reflash 100%  12486 / 12486"},
      {"download 0 2047 '" + path("out.bin") + "'",
       {"downloaded sectors 0-2047"},
       "download 100%  1.0 MiB / 1.0 MiB"},
      // Only the chosen device is opened; the list says so.
      {"--sim-devices 3 --device SIM00003 status ';' devices",
       {"0      1     SIM00001             1-1          free",
        "1      1     SIM00002             1-2          free",
        "2      1     SIM00003             1-3          this process"},
       ""},
      {"--json --sim-devices 2 --device 1 status ';' devices",
       {"{\"index\":1,\"kind\":1,\"vendor_id\":\"0x4D54\",\"product_id\":\"0x0001\","
        "\"serial\":\"SIM00002\",\"location\":\"1-2\",\"path\":"},
       ""},
      {"live --count 3 --out '" + path("live.bin") + "'", {}, "stopping live data"},
      // A trace is read back once the run that wrote it has ended.
      {"--trace '" + path("t.pcapng") + "' can send 0 7E0#01 ';' can dump 0 --count 1", {}, ""},
      {"trace summary '" + path("t.pcapng") + "'",
       {"CANRx                                  1         0",
        "CANTx                                  1         0", "0 failures"},
       ""},
      {"gateway-config '" + config + "' ';' config send '" + config + "' ';' config get '" +
           path("back.bin") + "'",
       {"gateway configuration sent: 1000 bytes", "device status word 0x0000\n",
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
  const std::string fifo = path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string args;
    int exit_code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"--sim-devices 0 info", 1, "no device found"},
      {"--sim-devices 2 --device NOPE info", 1, "no device matches 'NOPE'"},
      {"logfile 70 100 '" + path("log.txt") + "'", 1, "the device refused with status 2"},
      {"format", 2, "add --yes"},  // standard input is not a terminal
      {"--trace '" + path("no/such/t.pcapng") + "' info", 1, "could not be created"},
      {"trace summary '" + path("none.pcapng") + "'", 1, "cannot read the trace"},
      {"trace summary '" + pattern_file("junk.pcapng", 100) + "'", 1,
       "no little-endian pcapng section header"},
      {"download 5 4 '" + path("x.bin") + "'", 2, "END (4) is below START (5)"},
      {"can send 0 800#00", 2, "the ID is out of range"},
      // The library would remove the pipe and write a plain file in its place.
      {"download 0 1 '" + fifo + "'", 1, "pipe is not a regular file"},
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

// A file that takes only part of what is written: the command fails and says
// how much arrived, whoever wrote the file (the library or the tool).
TEST_F(ToolRunTest, ShortWritesFailWithTheBytesThatArrived) {
  struct Case {
    std::string args;
    int limit_blocks;  // the file size limit the command runs under, in 512-byte blocks
    std::string message;
  };
  const std::string config = pattern_file("config.bin", 60000);
  std::string frames;
  for (int i = 0; i < 4; ++i) frames += "can send 0 7E0#" + std::string(128, '0' + i) + " ';' ";
  const std::vector<Case> cases = {
      {"-q download 0 2047 '" + path("out.bin") + "'", 200,
       "wrote 102,400 of 1,048,576 bytes to " + path("out.bin")},
      {"-q config send '" + config + "' ';' config get '" + path("back.bin") + "'", 100,
       "wrote 51,200 of 60,000 bytes to " + path("back.bin")},
      {"-q live --count 3 --out '" + path("live.bin") + "'", 2,
       "wrote 1,024 of 1,536 bytes to " + path("live.bin") + ": File too large"},
      // Four lines of 160 bytes (64 data bytes each).
      {"-q " + frames + "can dump 0 --count 4 --log '" + path("can.log") + "'", 1,
       "wrote 512 of 640 bytes to " + path("can.log") + ": File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    // The limit is the child's alone; writing past it fails with EFBIG
    // rather than killing the process.
    const ToolRun run =
        maltor(c.args, "trap '' XFSZ; ulimit -f " + std::to_string(c.limit_blocks) + "; ");
    EXPECT_EQ(run.exit_code, 1) << run.out;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

// With --json a failure is a JSON document on stdout, with the same exit code.
TEST_F(ToolRunTest, JsonErrorsGoToStdout) {
  const ToolRun usage = maltor("--json download 5 4 x.bin");
  EXPECT_EQ(usage.exit_code, 2);
  EXPECT_EQ(usage.out,
            "{\"error\":\"download: END (4) is below START (5)\",\"result\":null,\"text\":null,"
            "\"detail\":null,\"exit\":2}\n");
  EXPECT_EQ(usage.err, "");
  const ToolRun failed = maltor("--sim-devices 0 info --json");
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_TRUE(failed.out.starts_with("{\"error\":\"no device found\"")) << failed.out;
  // In a sequence: the documents of the commands that ran, then the error
  // naming its command, with the device's status kept.
  const ToolRun second = maltor("--json clock ';' logfile 70 100 '" + path("log.txt") + "'");
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_TRUE(second.out.starts_with("{\"clock\":")) << second.out;
  EXPECT_NE(
      second.out.find(
          "\n{\"error\":\"command 2 (logfile): reading the log file of section "
          "70 (MirelGetFirstLogFile): the device refused command 0x000F with status 2; the device "
          "refused with status 2\","
          "\"result\":2,\"text\":\"device status 2\""),
      std::string::npos)
      << second.out;
}

// --lib names the library, else the MALTOR_LIBRARY variable does.
TEST_F(ToolRunTest, LibraryFromOptionThenVariable) {
  const std::string sim = std::string("'") + MALTOR_SIM_LIBRARY + "'";
  const std::string missing = path("libmissing.so");
  struct Case {
    std::string environment;
    std::string lib_option;
    int exit_code;
    std::string err_part;
  };
  const std::vector<Case> cases = {
      {"MALTOR_LIBRARY=" + sim, "", 0, ""},
      {"MALTOR_LIBRARY='" + missing + "'", "", 3, missing},
      {"MALTOR_LIBRARY='" + missing + "'", "--lib " + sim, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.environment + " " + c.lib_option);
    const ToolRun run = maltor_with(c.environment, c.lib_option + " devices");
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_NE(run.err.find(c.err_part), std::string::npos) << run.err;
  }
}

}  // namespace
