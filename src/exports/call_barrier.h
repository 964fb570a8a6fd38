// The one shape of a device-operation export: its body runs behind a call
// barrier that clears the calling thread's error detail on entry, records in
// the detail what the call returned, and stops any C++ exception at the C
// boundary, turning it into the call's failure result and a sentence.
//
//   MALTOR_API uint8_t MALTOR_CALL SCSetDateTime(uint32_t clock_value) {
//     return maltor::exports::guarded([&] { return set_date_time(clock_value); });
//   }
//
// The Maltor* services do not use it: they leave the detail alone.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <system_error>
#include <type_traits>

#include "link/error_detail.h"
#include "link/result.h"

namespace maltor::exports {

// Records an exception that reached the barrier as the detail of a call that
// returns `result`.
inline void record_exception(std::uint8_t result) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    detail::set(result, detail::kInternal, 0, 0, 0, "the library ran out of memory");
  } catch (const std::system_error& error) {
    detail::set(result, detail::kInternal, error.code().value(), 0, 0,
                "the library could not get what it needed from the system: %s", error.what());
  } catch (const std::exception& error) {
    detail::set(result, detail::kInternal, 0, 0, 0, "the library failed inside: %s", error.what());
  } catch (...) {
    detail::set(result, detail::kInternal, 0, 0, 0, "the library failed inside");
  }
}

// Runs `body` behind the barrier. An exception makes the call return
// `failed`: kExchangeFailed by default for a result code, 0 for any other
// value. A result code also lands in the detail's result field.
template <typename Body, typename Result = std::invoke_result_t<Body&>>
Result guarded(Body&& body,
               std::type_identity_t<Result> failed = Result(std::is_same_v<Result, std::uint8_t>
                                                                ? kExchangeFailed
                                                                : 0)) noexcept
    requires(!std::is_void_v<Result>) {
  detail::clear();
  Result result = failed;
  try {
    result = body();
  } catch (...) {
    record_exception(static_cast<std::uint8_t>(failed));
  }
  if constexpr (std::is_same_v<Result, std::uint8_t>) {
    if (detail::current().kind != detail::kNone) detail::current().result = result;
  }
  return result;
}

template <typename Body>
void guarded(Body&& body) noexcept requires std::is_void_v<std::invoke_result_t<Body&>> {
  detail::clear();
  try {
    body();
  } catch (...) {
    record_exception(0);
  }
}

}  // namespace maltor::exports
