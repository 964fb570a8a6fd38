// Result codes as the core uses them; the values are the public header's.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor {

enum Result : std::uint8_t {
  kOk = MALTOR_OK,
  kUpdateRunning = MALTOR_ERR_UPDATE_RUNNING,
  kTransferFailed = MALTOR_ERR_TRANSFER,
  kBadPath = MALTOR_ERR_PATH,
  kFileOpenFailed = MALTOR_ERR_FILE_OPEN,
  kNoCallback = MALTOR_ERR_NO_CALLBACK,
  kExchangeFailed = MALTOR_ERR_EXCHANGE,
  kNoDevice = MALTOR_ERR_NO_DEVICE,
  kLogSumMismatch = MALTOR_ERR_LOG_SUM,
  kLogOpenFailed = MALTOR_ERR_LOG_OPEN,
  kBadArgument = MALTOR_ERR_ARGUMENT,
};

// A static English sentence for `code`; "device status N" for values the
// library does not define (device status bytes share the space). Never null.
const char* result_text(std::uint8_t code);
// True when the library defines `code` (it has a sentence of its own).
bool result_is_defined(std::uint8_t code);

}  // namespace maltor
