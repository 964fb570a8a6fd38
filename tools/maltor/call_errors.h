// What the library says about its calls: its sentence for each result code
// (MaltorResultText) and the calling thread's error detail
// (MaltorGetLastError), read after every call. Every message the tool prints
// about a call takes its wording from here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "MaltorUSBdrv.h"

namespace maltor::tool {

// The two library services, resolved once the library is loaded. Until then
// (and in the helpers' own tests) results read "result N" and no detail exists.
struct LibraryErrorSource {
  const char*(MALTOR_CALL* result_text)(std::uint8_t code) = nullptr;
  std::uint8_t(MALTOR_CALL* last_error)(MaltorErrorDetail* detail) = nullptr;
};
void use_library_errors(LibraryErrorSource source);

// The library's sentence for `code`, without its final full stop.
std::string result_text(std::uint8_t code);

// "<the library's sentence> (result 6)".
std::string describe_result(std::uint8_t code);

// For a call that may also hand back the device's status byte, which shares
// the 8-bit space with the library's codes: `library_codes` are the codes the
// library itself can return from this call. Another code reads as the
// device's status; one of them keeps its words and names the other reading.
std::string describe_result(std::uint8_t code, std::span<const std::uint8_t> library_codes);

// The detail the last call on this thread left, when it has something to say
// and belongs to a call that returned `code`.
std::optional<MaltorErrorDetail> last_error_for(std::uint8_t code);

// "none", "file", "device", "usb", "argument", "busy", "limit"; "kind N" else.
std::string detail_kind_name(std::uint8_t kind);

// Throws ToolError(kExitFailed, "<what>: <reason>") carrying the result and
// the detail when the call failed, or when it reported success but the detail
// says a file or a size limit cost data. Returns quietly otherwise.
void check_result(std::uint8_t code, std::string_view what);
void check_result(std::uint8_t code, std::string_view what,
                  std::span<const std::uint8_t> library_codes);

// For a call that writes `path`: as check_result, but a detail that counts
// bytes reads "wrote 102,400 of 1,048,576 bytes to out.bin: File too large".
void check_file_result(std::uint8_t code, std::string_view what, const std::string& path,
                       std::span<const std::uint8_t> library_codes = {});

// 1048576 -> "1,048,576".
std::string group_digits(std::uint64_t value);

// "wrote 102,400 of 1,048,576 bytes to out.bin" and, with an OS error, ": <its text>".
std::string short_write_sentence(std::uint64_t done, std::uint64_t expected,
                                 const std::string& path, std::int32_t os_error);

class ToolError;
// The error as one JSON object: {"error": message, "result": N, "text": the
// library's sentence, "detail": {...}, "exit": code}; result, text and detail
// are null for an error that no library call caused.
std::string error_json(const ToolError& error);

// The operating system's text for an error number (errno on POSIX,
// GetLastError() on Windows).
std::string os_error_text(std::int32_t os_error);

}  // namespace maltor::tool
