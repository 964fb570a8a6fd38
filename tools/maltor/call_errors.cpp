#include "call_errors.h"

#include <cstring>

#include "errors.h"
#include "output.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace maltor::tool {

namespace {

LibraryErrorSource g_source;

std::string trimmed_sentence(const char* text) {
  std::string sentence = text != nullptr ? text : "";
  while (!sentence.empty() && (sentence.back() == '.' || sentence.back() == ' ')) {
    sentence.pop_back();
  }
  return sentence;
}

bool is_library_code(std::uint8_t code, std::span<const std::uint8_t> library_codes) {
  for (const std::uint8_t library_code : library_codes) {
    if (library_code == code) return true;
  }
  return false;
}

// A result of 0 is a failure only when the detail says data was lost on the way.
bool detail_means_loss(const MaltorErrorDetail& detail) {
  return detail.kind == MALTOR_DETAIL_FILE || detail.kind == MALTOR_DETAIL_LIMIT;
}

[[noreturn]] void fail(std::uint8_t code, std::string_view what, const std::string& reason,
                       std::optional<MaltorErrorDetail> detail,
                       std::span<const std::uint8_t> library_codes = {}) {
  const bool device_status = !library_codes.empty() && !is_library_code(code, library_codes);
  std::string text = device_status ? "device status " + std::to_string(code) : result_text(code);
  throw ToolError(kExitFailed, std::string(what) + ": " + reason,
                  CallFailure{code, std::move(text), std::move(detail)});
}

}  // namespace

void use_library_errors(LibraryErrorSource source) {
  g_source = source;
}

std::string result_text(std::uint8_t code) {
  if (g_source.result_text == nullptr) return "result " + std::to_string(code);
  return trimmed_sentence(g_source.result_text(code));
}

std::string describe_result(std::uint8_t code) {
  return result_text(code) + " (result " + std::to_string(code) + ")";
}

std::string describe_result(std::uint8_t code, std::span<const std::uint8_t> library_codes) {
  if (code == MALTOR_OK) return describe_result(code);
  const std::string status = "the device refused with status " + std::to_string(code);
  if (is_library_code(code, library_codes)) return describe_result(code) + ", or " + status;
  return status;
}

std::optional<MaltorErrorDetail> last_error_for(std::uint8_t code) {
  if (g_source.last_error == nullptr) return std::nullopt;
  MaltorErrorDetail detail{};
  if (g_source.last_error(&detail) == MALTOR_DETAIL_NONE || detail.result != code) {
    return std::nullopt;
  }
  detail.text[sizeof detail.text - 1] = '\0';
  return detail;
}

std::string detail_kind_name(std::uint8_t kind) {
  static constexpr const char* kNames[] = {"none",     "file", "device", "usb",
                                           "argument", "busy", "limit"};
  if (kind < std::size(kNames)) return kNames[kind];
  return "kind " + std::to_string(kind);
}

void check_result(std::uint8_t code, std::string_view what) {
  check_result(code, what, {});
}

void check_result(std::uint8_t code, std::string_view what,
                  std::span<const std::uint8_t> library_codes) {
  const std::optional<MaltorErrorDetail> detail = last_error_for(code);
  if (code == MALTOR_OK && !(detail && detail_means_loss(*detail))) return;
  std::string reason =
      library_codes.empty() ? describe_result(code) : describe_result(code, library_codes);
  if (detail && detail->text[0] != '\0') reason = trimmed_sentence(detail->text) + "; " + reason;
  fail(code, what, reason, detail, library_codes);
}

void check_file_result(std::uint8_t code, std::string_view what, const std::string& path,
                       std::span<const std::uint8_t> library_codes) {
  const std::optional<MaltorErrorDetail> detail = last_error_for(code);
  if (detail && detail->kind == MALTOR_DETAIL_FILE && detail->bytes_expected > 0) {
    fail(code, what,
         short_write_sentence(detail->bytes_done, detail->bytes_expected, path, detail->os_error),
         detail);
  }
  check_result(code, what, library_codes);
}

std::string group_digits(std::uint64_t value) {
  // Built by appending: inserting into the string trips a false -Wrestrict
  // of GCC 12 in optimised builds.
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string short_write_sentence(std::uint64_t done, std::uint64_t expected,
                                 const std::string& path, std::int32_t os_error) {
  std::string sentence =
      "wrote " + group_digits(done) + " of " + group_digits(expected) + " bytes to " + path;
  if (os_error != 0) sentence += ": " + os_error_text(os_error);
  return sentence;
}

std::string error_json(const ToolError& error) {
  JsonWriter json;
  json.begin_object().key("error").value(error.what());
  const std::optional<CallFailure>& failure = error.failure();
  if (failure) {
    json.key("result").value(unsigned{failure->result});
    json.key("text").value(failure->text);
  } else {
    json.key("result").null().key("text").null();
  }
  json.key("detail");
  if (failure && failure->detail) {
    const MaltorErrorDetail& detail = *failure->detail;
    json.begin_object().key("kind").value(detail_kind_name(detail.kind));
    json.key("os_error").value(std::int64_t{detail.os_error});
    if (detail.os_error != 0) json.key("os_error_text").value(os_error_text(detail.os_error));
    json.key("bytes_done").value(std::uint64_t{detail.bytes_done});
    json.key("bytes_expected").value(std::uint64_t{detail.bytes_expected});
    json.key("text").value(detail.text).end_object();
  } else {
    json.null();
  }
  json.key("exit").value(error.exit_code()).end_object();
  return json.text();
}

std::string os_error_text(std::int32_t os_error) {
#ifdef _WIN32
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(os_error), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                     text, sizeof text, nullptr);
  std::string sentence(text, length);
  while (!sentence.empty() && (sentence.back() == '\n' || sentence.back() == '\r' ||
                               sentence.back() == '.' || sentence.back() == ' ')) {
    sentence.pop_back();
  }
  return sentence.empty() ? "system error " + std::to_string(os_error) : sentence;
#else
  return std::strerror(os_error);
#endif
}

}  // namespace maltor::tool
