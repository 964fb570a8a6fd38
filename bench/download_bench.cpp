// Sector download from the virtual device into a file, against a plain loop
// that writes the same bytes in 32 KiB chunks to the same folder; and the
// peak memory of downloads of different sizes, each in a process of its own.
//
//   maltor_download_bench [--mib N] [--rounds R] [--folder PATH]
//
// Prints the throughput of both, their ratio (download / plain), the
// throughput of a download whose bytes are dropped (device and loop alone),
// and the peak resident set of a process that sets up and downloads 0, 64
// and 256 MiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "link/connection.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSector = 512;
constexpr std::size_t kChunk = 32768;
constexpr std::uint64_t kMiB = 1u << 20;

bool connect() {
  CloseDevice();
  MaltorSim_Reset();
  return MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1) > 0 && DeviceIsReady() != 0;
}

// The bytes the virtual card holds from byte 0 on.
std::vector<std::uint8_t> card_bytes(std::uint64_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::uint64_t k = 0; k < n; ++k) {
    const std::uint64_t s = k / kSector;
    out[k] = static_cast<std::uint8_t>((k % kSector) ^ (s * 7) ^ (s >> 8));
  }
  return out;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double time_download(const std::string& path, std::uint64_t bytes, bool to_file = true) {
  const auto start = Clock::now();
  const std::uint8_t result =
      SCSDRequestSendData(path.c_str(), 0, static_cast<std::uint32_t>(bytes / kSector) - 1);
  const double elapsed = seconds_since(start);
  if (result != MALTOR_OK || (to_file && fs::file_size(path) != bytes)) {
    std::fprintf(stderr, "download failed (result %u)\n", result);
    std::exit(1);
  }
  return elapsed;
}

// What the download does with the file, without the device: delete, open
// for binary append, write chunk by chunk, close.
double time_plain(const std::string& path, const std::vector<std::uint8_t>& data) {
  const auto start = Clock::now();
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) std::exit(1);
  for (std::size_t at = 0; at < data.size(); at += kChunk) {
    std::fwrite(data.data() + at, 1, std::min(kChunk, data.size() - at), file);
  }
  std::fclose(file);
  return seconds_since(start);
}

long max_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Child: connect, download `mib` MiB (0: set-up only), print the peak RSS.
int rss_child(std::uint64_t mib, const std::string& folder) {
  if (!connect()) return 1;
  const std::string path = folder + "/rss.bin";
  if (mib > 0) time_download(path, mib * kMiB);
  std::remove(path.c_str());
  std::printf("%ld\n", max_rss_kib());
  return 0;
}

// Runs this program as a child in rss mode and returns the peak RSS it reported.
long measure_rss(const char* self, std::uint64_t mib, const std::string& folder) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(channel[1], STDOUT_FILENO);
    close(channel[0]);
    const std::string size = std::to_string(mib);
    execl(self, self, "--rss-child", size.c_str(), "--folder", folder.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(channel[1]);
  char text[64] = {};
  const ssize_t n = read(channel[0], text, sizeof text - 1);
  close(channel[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::atol(text);
}

}  // namespace

int main(int argc, char** argv) {
  maltor::link::library_attach();
  std::uint64_t mib = 256;
  int rounds = 5;
  std::string folder;
  long rss_mib = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--mib") mib = std::strtoull(argv[i + 1], nullptr, 10);
    if (option == "--rounds") rounds = std::atoi(argv[i + 1]);
    if (option == "--folder") folder = argv[i + 1];
    if (option == "--rss-child") rss_mib = std::atol(argv[i + 1]);
  }
  if (folder.empty()) {
    folder = (fs::temp_directory_path() / ("maltor_download_bench_" + std::to_string(getpid())))
                 .string();
  }
  fs::create_directories(folder);
  if (rss_mib >= 0) return rss_child(static_cast<std::uint64_t>(rss_mib), folder);

  // First, while this process is still small: Linux keeps the peak RSS
  // across fork and exec, so a child forked later would start at ours.
  const long base = measure_rss(argv[0], 0, folder);
  std::printf("peak RSS, set-up only:     %ld KiB\n", base);
  for (const std::uint64_t size : {std::uint64_t{64}, std::uint64_t{256}}) {
    const long rss = measure_rss(argv[0], size, folder);
    std::printf("peak RSS, %3llu MiB download: %ld KiB (growth %ld KiB)\n",
                static_cast<unsigned long long>(size), rss, rss - base);
  }

  if (!connect()) {
    std::fprintf(stderr, "the virtual device did not connect\n");
    return 1;
  }
  const std::uint64_t bytes = mib * kMiB;
  const std::vector<std::uint8_t> data = card_bytes(bytes);
  const std::string download_path = folder + "/download.bin";
  const std::string plain_path = folder + "/plain.bin";

  // Alternate the two so that both meet the same state of the page cache;
  // keep each one's best round.
  double best_download = 1e9;
  double best_plain = 1e9;
  for (int round = 0; round < rounds; ++round) {
    best_download = std::min(best_download, time_download(download_path, bytes));
    std::remove(download_path.c_str());
    best_plain = std::min(best_plain, time_plain(plain_path, data));
    std::remove(plain_path.c_str());
  }
  // The device and the download loop alone: a destination that cannot be
  // opened makes the download read the stream and drop the bytes.
  double best_dropped = 1e9;
  for (int round = 0; round < rounds; ++round) {
    best_dropped =
        std::min(best_dropped, time_download(folder + "/missing/none.bin", bytes, false));
  }
  const double mib_d = static_cast<double>(mib);
  std::printf("download, bytes dropped: %7.1f MiB/s\n", mib_d / best_dropped);
  std::printf("download into file: %8.1f MiB/s  (%llu MiB, best of %d)\n", mib_d / best_download,
              static_cast<unsigned long long>(mib), rounds);
  std::printf("plain 32 KiB writes: %7.1f MiB/s\n", mib_d / best_plain);
  std::printf("throughput ratio download/plain: %.3f\n", best_plain / best_download);

  fs::remove_all(folder);
  return 0;
}
