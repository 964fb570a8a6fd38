// Two processes on one host, each with its own device: both download the same
// number of sectors, first one after the other, then at the same time, and
// every file is checked byte for byte. Prints both times and their ratio.
//
// The devices are emulated with umockdev in this process; the downloads run
// in child processes (this program again, with --child) that reach the same
// emulated bus through umockdev's preload and choose their device by serial
// number. Run it under umockdev-wrapper:
//   umockdev-wrapper ./maltor_parallel_download_bench [--mib N]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "emulated_device.h"
#include "link/connection.h"

extern char** environ;

namespace {

constexpr const char* kSerials[2] = {"MTR0001", "MTR0002"};

// The child: choose the device, connect, download sectors 0 to sectors - 1.
int run_child(const char* serial, const char* file, std::uint32_t sectors) {
  // umockdev names the socket that stands in for libusb's uevent monitor
  // after its descriptor number, so two children starting at once with the
  // same number collide and one finds no devices. Each child first takes a
  // different number of descriptors, so their monitors get different names.
  const int spare = std::strcmp(serial, kSerials[0]) == 0 ? 0 : 8;
  for (int i = 0; i < spare; ++i) {
    if (dup(STDERR_FILENO) < 0) return 1;
  }
  maltor::link::library_attach();
  if (MaltorSelectDevice(serial) != MALTOR_OK) {
    std::fprintf(stderr, "%s: no such device\n", serial);
    return 1;
  }
  if (DeviceIsReady() == 0) {
    std::fprintf(stderr, "%s: did not connect\n", serial);
    return 1;
  }
  const std::uint8_t result = SCSDRequestSendData(file, 0, sectors - 1);
  CloseDevice();
  if (result != MALTOR_OK) std::fprintf(stderr, "%s: download returned %u\n", serial, result);
  return result == MALTOR_OK ? 0 : 1;
}

pid_t spawn_child(const char* self, const char* serial, const std::string& file,
                  std::uint32_t sectors) {
  const std::string count = std::to_string(sectors);
  const char* argv[] = {self, "--child", serial, file.c_str(), count.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, self, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    return -1;
  }
  return pid;
}

bool child_succeeded(pid_t pid) {
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// The virtual device's card: byte k of sector s is (k ^ s * 7 ^ s >> 8) & 0xFF.
bool file_is_right(const std::string& file, std::uint32_t sectors) {
  std::ifstream in(file, std::ios::binary);
  std::vector<unsigned char> sector(512);
  for (std::uint32_t s = 0; s < sectors; ++s) {
    if (!in.read(reinterpret_cast<char*>(sector.data()), 512)) return false;
    for (std::uint32_t k = 0; k < 512; ++k) {
      if (sector[k] != ((k ^ (s * 7) ^ (s >> 8)) & 0xFF)) return false;
    }
  }
  return in.peek() == std::char_traits<char>::eof();
}

using Clock = std::chrono::steady_clock;

// Runs the two downloads, both at once or one after the other; the seconds
// they took, or a negative value when a download or a file went wrong.
double run_pair(const char* self, const std::filesystem::path& folder, std::uint32_t sectors,
                bool parallel) {
  std::string files[2];
  for (int i = 0; i < 2; ++i) {
    files[i] =
        (folder / (std::string(kSerials[i]) + (parallel ? "_parallel" : "_serial"))).string();
  }
  const Clock::time_point start = Clock::now();
  bool ok = true;
  if (parallel) {
    const pid_t first = spawn_child(self, kSerials[0], files[0], sectors);
    const pid_t second = spawn_child(self, kSerials[1], files[1], sectors);
    ok = child_succeeded(first);
    ok = child_succeeded(second) && ok;
  } else {
    for (int i = 0; i < 2 && ok; ++i)
      ok = child_succeeded(spawn_child(self, kSerials[i], files[i], sectors));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const std::string& file : files) {
    if (ok && !file_is_right(file, sectors)) {
      std::fprintf(stderr, "%s: wrong bytes\n", file.c_str());
      ok = false;
    }
    std::filesystem::remove(file);
  }
  return ok ? seconds : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
    return run_child(argv[2], argv[3],
                     static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10)));
  }
  std::uint32_t mib = 64;
  if (argc == 3 && std::strcmp(argv[1], "--mib") == 0) {
    mib = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  } else if (argc != 1 || mib == 0) {
    std::fprintf(stderr, "usage: %s [--mib N]\n", argv[0]);
    return 2;
  }
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    std::fprintf(stderr, "run under umockdev-wrapper\n");
    return 1;
  }
  const std::uint32_t sectors = mib * 2048;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("maltor_parallel_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);

  // Children find the bus through the testbed's folder, which the testbed
  // names in this process's environment.
  UMockdevTestbed* testbed = umockdev_testbed_new();
  double serial_s = -1;
  double parallel_s = -1;
  {
    maltor::test::EmulatedDevice first(testbed, {1, 0x4D54, 0x0001, kSerials[0], 480, 1});
    maltor::test::EmulatedDevice second(testbed, {2, 0x4D54, 0x0002, kSerials[1], 480, 2});
    first.plug();
    second.plug();
    serial_s = run_pair(argv[0], folder, sectors, false);
    if (serial_s >= 0) parallel_s = run_pair(argv[0], folder, sectors, true);
  }
  g_object_unref(testbed);
  std::filesystem::remove_all(folder);
  if (serial_s < 0 || parallel_s < 0) {
    std::printf("two %u MiB downloads from two devices: FAILED\n", mib);
    return 1;
  }
  std::printf(
      "two %u MiB downloads from two devices, each in its own process, files checked: "
      "one after the other %.2f s, at the same time %.2f s, ratio %.2f\n",
      mib, serial_s, parallel_s, parallel_s / serial_s);
  return 0;
}
