// A sentence for every result code, beside the codes themselves.
#include <array>

#include "link/result.h"

namespace maltor {

namespace {

struct ResultSentence {
  std::uint8_t code;
  const char* text;
};

// Code 1 has two readings: the update starts and the gateway configuration
// refuse with it while an update runs, the file transfers report a failed
// pipe transfer with it.
constexpr ResultSentence kSentences[] = {
    {kOk, "Done."},
    {kUpdateRunning,
     "Refused because a firmware update is running, or a file transfer's pipe transfer failed."},
    {kBadPath, "A path is missing or empty."},
    {kFileOpenFailed, "The firmware file or the progress log could not be opened."},
    {kNoCallback, "No status callback is registered."},
    {kExchangeFailed,
     "The exchange with the device failed: nothing was written or read, a check failed, or a "
     "transfer stopped part-way."},
    {kNoDevice, "No device is open; nothing was sent."},
    {kLogSumMismatch, "The log file's sum does not match the device's."},
    {kLogOpenFailed, "The log file could not be opened or written."},
    {kBadArgument, "An argument is null or out of range; nothing was sent."},
};

// "device status N" for every value, made at compile time so that the text
// returned for a code the library does not define is static too.
struct StatusTexts {
  std::array<std::array<char, 20>, 256> text{};
  constexpr StatusTexts() {
    for (int code = 0; code < 256; ++code) {
      auto& out = text[static_cast<std::size_t>(code)];
      const char prefix[] = "device status ";
      std::size_t n = 0;
      for (; prefix[n] != '\0'; ++n) out[n] = prefix[n];
      if (code >= 100) out[n++] = static_cast<char>('0' + code / 100);
      if (code >= 10) out[n++] = static_cast<char>('0' + code / 10 % 10);
      out[n++] = static_cast<char>('0' + code % 10);
      out[n] = '\0';
    }
  }
};
constexpr StatusTexts kStatusTexts;

}  // namespace

const char* result_text(std::uint8_t code) {
  for (const ResultSentence& sentence : kSentences) {
    if (sentence.code == code) return sentence.text;
  }
  return kStatusTexts.text[code].data();
}

bool result_is_defined(std::uint8_t code) {
  for (const ResultSentence& sentence : kSentences) {
    if (sentence.code == code) return true;
  }
  return false;
}

}  // namespace maltor
