#include "update/reflash.h"

#include <cstdio>

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/file_transfer.h"
#include "link/result.h"
#include "platform/os.h"

namespace maltor::update {

namespace {

using link::chunk_limit;
using link::kHighSpeedChunk;
using link::kImageCapacity;
using link::kReflashCommands;
using link::load_image;
using link::run_file_transfer;

// SCReflash's own sequence counter: 0 at load, never reset.
std::uint8_t g_reflash_sequence MALTOR_GUARDED_BY(link::g_exchange_lock) = 0;

bool reflash(const char* path, std::uint32_t limit, std::uint8_t& sequence)
    MALTOR_REQUIRES(link::g_exchange_lock) {
  std::uint32_t length = 0;
  if (!load_image(path, &length)) return false;
  // The whole buffer goes out whatever the file's length; past it, zeros.
  std::uint8_t start[8] = {};
  link::put_u32(start + 4, kImageCapacity);
  return run_file_transfer(kReflashCommands, start, kImageCapacity, limit, sequence).done;
}

}  // namespace

std::uint8_t reflash_file(const char* path) {
  if (path == nullptr) return maltor::detail::refused_argument(kBadArgument);
  // Held from the image's load to the end frame: the image buffer and the
  // sequence counter are shared with every other transfer.
  const link::ExchangeTurn turn;
  if (!turn.granted()) return kUpdateRunning;
  const std::uint32_t limit = chunk_limit();
  return reflash(path, limit, link::g_sequence) ? kOk : kTransferFailed;
}

std::int32_t reflash_fixed() {
  char path[4096];
  if (!fixed_image_path(path, sizeof path)) return 0;
  // Refused like any exchange while an update is alive; 0 is this export's failure.
  const link::ExchangeTurn turn;
  if (!turn.granted()) return 0;
  return reflash(path, kHighSpeedChunk, g_reflash_sequence) ? 1 : 0;
}

#ifdef _WIN32

bool fixed_image_path(char* out, std::size_t capacity) {
  const int n =
      std::snprintf(out, capacity, "%s", "C:\\Current Projects\\Streamcore\\SC\\firmware2.bin");
  return n > 0 && static_cast<std::size_t>(n) < capacity;
}

#else

// A drive-letter path means nothing on this host. The image keeps its file
// name and lies beside the host executable instead: still one fixed place,
// and one the application's installation controls, as it does the
// configuration log's folder.
bool fixed_image_path(char* out, std::size_t capacity) {
  char folder[4096];
  if (!platform::executable_folder(folder, sizeof folder)) return false;
  const int n = std::snprintf(out, capacity, "%s/firmware2.bin", folder);
  return n > 0 && static_cast<std::size_t>(n) < capacity;
}

#endif

}  // namespace maltor::update
