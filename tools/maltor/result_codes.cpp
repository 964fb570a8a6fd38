#include "result_codes.h"

#include "MaltorUSBdrv.h"
#include "errors.h"

namespace maltor::tool {

namespace {

struct ResultRow {
  std::uint8_t code;
  std::string_view words;
};

// Code 1 reads as the update starts and the gateway configuration mean it;
// the file transfers mean another thing by it (kTransferFailed).
constexpr ResultRow kResults[] = {
    {MALTOR_OK, "done"},
    {MALTOR_ERR_UPDATE_RUNNING, "refused: a firmware update is running"},
    {MALTOR_ERR_PATH, "a path is missing or empty"},
    {MALTOR_ERR_FILE_OPEN, "the firmware file or the progress log could not be opened"},
    {MALTOR_ERR_NO_CALLBACK, "no status callback is registered"},
    {MALTOR_ERR_EXCHANGE, "the exchange failed"},
    {MALTOR_ERR_NO_DEVICE, "no device open"},
    {MALTOR_ERR_LOG_SUM, "the log file's sum does not match the device's"},
    {MALTOR_ERR_LOG_OPEN, "the log file could not be opened"},
    {MALTOR_ERR_ARGUMENT, "an argument is out of range; nothing was sent"},
};

constexpr std::string_view kTransferFailed = "a frame was not written or its reply not read";

const ResultRow* find_result(std::uint8_t code) {
  for (const ResultRow& row : kResults) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

}  // namespace

std::string_view result_words(std::uint8_t code) {
  const ResultRow* row = find_result(code);
  return row != nullptr ? row->words : "unknown result";
}

std::string describe_result(std::uint8_t code) {
  return std::string(result_words(code)) + " (result " + std::to_string(code) + ")";
}

std::string describe_result(std::uint8_t code, std::span<const std::uint8_t> library_codes) {
  const std::string number = std::to_string(code);
  if (code == MALTOR_OK) return describe_result(code);
  for (const std::uint8_t library_code : library_codes) {
    if (library_code == code) {
      return describe_result(code) + ", or the device refused with status " + number;
    }
  }
  return "the device refused with status " + number;
}

std::string describe_transfer_result(std::uint8_t code) {
  if (code != MALTOR_ERR_TRANSFER) return describe_result(code);
  return std::string(kTransferFailed) + " (result " + std::to_string(code) + ")";
}

void check_result(std::uint8_t code, std::string_view what) {
  if (code == MALTOR_OK) return;
  throw ToolError(kExitFailed, std::string(what) + ": " + describe_result(code));
}

void check_result(std::uint8_t code, std::string_view what,
                  std::span<const std::uint8_t> library_codes) {
  if (code == MALTOR_OK) return;
  throw ToolError(kExitFailed, std::string(what) + ": " + describe_result(code, library_codes));
}

void check_transfer_result(std::uint8_t code, std::string_view what) {
  if (code == MALTOR_OK) return;
  throw ToolError(kExitFailed, std::string(what) + ": " + describe_transfer_result(code));
}

}  // namespace maltor::tool
