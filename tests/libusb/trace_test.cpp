// The USB trace over libusb: the same session as through the virtual device,
// recorded at the same seam. scripts/ci-trace.sh sets MALTOR_TRACE_SAMPLE to
// keep the file and compares tshark's decoding of both.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "libusb_fixture.h"
#include "trace_session.h"

namespace maltor::test {
namespace {

TEST_F(LibusbTest, TracesASessionWithTheDevicesIds) {
  connect();
  const char* kept = std::getenv("MALTOR_TRACE_SAMPLE");
  const std::string path = kept != nullptr
                               ? kept
                               : (std::filesystem::temp_directory_path() /
                                  ("maltor_libusb_trace_" + std::to_string(getpid()) + ".pcapng"))
                                     .string();
  ASSERT_TRUE(run_traced_session(path.c_str()));
  std::ifstream in(path, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (kept == nullptr) std::filesystem::remove(path);
  // The descriptor exchange carries the logger's ids; its serial number
  // reply, data from the emulated device, went through the trace too.
  const std::string ids("\x54\x4D\x01\x00", 4);
  EXPECT_NE(file.find(ids), std::string::npos);
  EXPECT_NE(file.find("MALTOR-SIM"), std::string::npos);
}

}  // namespace
}  // namespace maltor::test
