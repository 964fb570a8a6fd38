#include "config/gateway_config.h"

#include <string>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/gateway_frame.h"
#include "link/result.h"
#include "platform/os.h"
#include "update/progress_log.h"

namespace maltor::config {

namespace {

using link::build_gateway_frame;
using link::gateway_exchange;
using link::SumWidth;

constexpr std::uint8_t kAnnounceCommand = 0x10;
constexpr std::uint8_t kAnnounceQualifier = 0x12;
constexpr std::uint8_t kBlockCommand = 0x12;
constexpr std::uint8_t kBlockQualifier = 0x02;
constexpr std::uint32_t kBlockBytes = 16378;
constexpr std::uint32_t kAnnounceTimeoutMs = 500;
constexpr std::uint32_t kBlockTimeoutMs = 200;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// logs/Configuration.log beside the executable; empty when the executable's
// folder is unknown, and the transfer then runs without a log.
std::string log_path() {
  char folder[4096];
  if (!platform::executable_folder(folder, sizeof folder)) return {};
  return std::string(folder) + kSeparator + "logs" + kSeparator + "Configuration.log";
}

// The configuration log, when it could be opened; every write is skipped
// otherwise.
// A log that cannot be written is reported in the error detail (naming it)
// but changes no result, and it is not written to again.
class ConfigurationLog {
 public:
  explicit ConfigurationLog(const std::string& path) : path_(path) {
    if (!path.empty()) file_.open(path.c_str(), platform::FileMode::kAppendText);
  }
  ~ConfigurationLog() {
    if (file_.is_open() && !file_.close()) failed(detail::FileStep::kClose, 0, 0);
  }
  ConfigurationLog(const ConfigurationLog&) = delete;
  ConfigurationLog& operator=(const ConfigurationLog&) = delete;

  void line(const std::string& text) {
    if (!file_.is_open()) return;
    const std::size_t taken = file_.write(text.data(), text.size());
    if (taken != text.size() || !file_.flush()) {
      failed(detail::FileStep::kWrite, taken, text.size());
      file_.close();
    }
  }

 private:
  // Told only when nothing else went wrong: the transfer's own failure matters more.
  void failed(detail::FileStep step, std::size_t done, std::size_t expected) {
    if (detail::current().kind != detail::kNone) return;
    detail::file_failure(kOk, step, file_, path_.c_str(), done, expected);
  }

  std::string path_;
  platform::File file_;
};

std::string block_failure(std::uint32_t number, std::uint32_t bytes) {
  return "Block " + std::to_string(number) + " bytes    " + std::to_string(bytes) +
         "  CRC - Failed\r\n";
}

}  // namespace

std::uint8_t send_gateway_configuration(std::uint32_t length, const std::uint8_t* data) {
  const std::string path = log_path();
  // The whole transfer is one turn: no other frame comes between its blocks.
  const link::ExchangeTurn turn;
  if (!turn.granted()) return kUpdateRunning;
  // Refused before anything is sent or logged: a null image, or one whose
  // block count would not fit 16 bits and so would go out cut short.
  if ((data == nullptr && length > 0) || length > kMaxGatewayConfiguration)
    return maltor::detail::refused_argument(kBadArgument);

  ConfigurationLog log(path);
  log.line("\r\n");
  log.line(update::banner_line());
  log.line("Varden Gateway re-configuration started at " + update::local_time_line());

  const bool kind1 = link::slot0().kind == 1;
  const std::string size_line = "Configuration size " + std::to_string(length) + " ";
  std::uint8_t payload[4];
  link::put_u32(payload, length);
  const std::uint32_t announce_length =
      build_gateway_frame(false, kAnnounceCommand, kAnnounceQualifier, payload, 4, SumWidth::k16);
  if (!gateway_exchange(announce_length, kAnnounceTimeoutMs, kind1)) {
    log.line(size_line + "  preparation - Failed\r\n");
    return kExchangeFailed;
  }
  log.line(size_line + "  preparation - OK\r\n");

  const std::uint32_t full_blocks = length / kBlockBytes;
  const std::uint32_t rest = length - full_blocks * kBlockBytes;
  for (std::uint32_t k = 0; k < full_blocks; ++k) {
    const std::uint32_t frame_length = build_gateway_frame(
        false, kBlockCommand, kBlockQualifier, data + k * kBlockBytes, kBlockBytes, SumWidth::k16);
    if (!gateway_exchange(frame_length, kBlockTimeoutMs, kind1)) {
      log.line(block_failure(k + 1, frame_length));
      return kExchangeFailed;
    }
  }
  if (rest != 0) {
    const std::uint32_t frame_length =
        build_gateway_frame(false, kBlockCommand, kBlockQualifier, data + full_blocks * kBlockBytes,
                            rest, SumWidth::k16);
    if (!gateway_exchange(frame_length, kBlockTimeoutMs, kind1)) {
      log.line(block_failure(full_blocks + 1, rest));
      return kExchangeFailed;
    }
  }
  log.line("Succesfully sent " + std::to_string(length) + " bytes    ");
  return kOk;
}

}  // namespace maltor::config
