// What the library's result codes mean, in words. Every message the tool
// prints about a failed call takes its wording from here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace maltor::tool {

// "the exchange failed" for 6, "no device open" for 7, ...; "unknown result"
// for a code the library does not define.
std::string_view result_words(std::uint8_t code);

// "the exchange failed (result 6)".
std::string describe_result(std::uint8_t code);

// For a call that may also hand back the device's status byte, which shares
// the 8-bit space with the library's codes: `library_codes` are the codes the
// library itself can return from this call. Another code reads "the device
// refused with status 2"; one of them keeps its words and names the other
// reading too.
std::string describe_result(std::uint8_t code, std::span<const std::uint8_t> library_codes);

// For the file transfers (SCReflashFile, SCReconfigureFile), whose code 1
// (MALTOR_ERR_TRANSFER) means a pipe transfer failed, not a running update.
std::string describe_transfer_result(std::uint8_t code);

// Do nothing for MALTOR_OK; otherwise throw ToolError(kExitFailed,
// "<what>: <description>").
void check_result(std::uint8_t code, std::string_view what);
void check_result(std::uint8_t code, std::string_view what,
                  std::span<const std::uint8_t> library_codes);
void check_transfer_result(std::uint8_t code, std::string_view what);

}  // namespace maltor::tool
