// The one shape of an export: its body is one call of a named operation,
// run behind a call barrier that stops any C++ exception at the C boundary
// and turns it into the call's failure result and a sentence in the error
// detail.
//
//   MALTOR_API uint8_t MALTOR_CALL GetMicroType(uint8_t* type) {
//     return guarded([&] { return device::get_micro_type(type); });
//   }
//
// A device operation starts with a fresh detail: the barrier clears it on
// entry and makes a result code the detail's result. The library's own
// services (version, result texts, the detail itself, the device list and
// choice, the wait for an update) run with Detail::kKept: they leave the
// detail as it is, so it still describes the last device operation, and only
// an exception writes it.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <system_error>
#include <type_traits>

#include "link/error_detail.h"
#include "link/result.h"

namespace maltor::exports {

enum class Detail : std::uint8_t {
  kFresh,  // cleared on entry, its result made the call's
  kKept,   // left alone unless an exception arrives
};

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

// What a call returns when its body threw: kExchangeFailed for a result
// code, 0 (or null) for any other value, nothing for a void call.
struct NoResult {};
template <typename Result>
using Failure = std::conditional_t<std::is_void_v<Result>, NoResult, Result>;

template <typename Result>
constexpr Failure<Result> default_failure() {
  if constexpr (std::is_same_v<Result, std::uint8_t>) {
    return kExchangeFailed;
  } else {
    return Failure<Result>{};
  }
}

// Runs `body` behind the barrier; `failed` is what the call returns when it
// throws.
template <Detail mode = Detail::kFresh, typename Body,
          typename Result = std::invoke_result_t<Body&>>
Result guarded(Body&& body, Failure<Result> failed = default_failure<Result>()) noexcept {
  if constexpr (mode == Detail::kFresh) detail::clear();
  if constexpr (std::is_void_v<Result>) {
    try {
      body();
    } catch (...) {
      record_exception(0);
    }
  } else {
    Result result = failed;
    try {
      result = body();
    } catch (...) {
      if constexpr (std::is_integral_v<Result>) {
        record_exception(static_cast<std::uint8_t>(failed));
      } else {
        record_exception(0);
      }
    }
    if constexpr (mode == Detail::kFresh && std::is_same_v<Result, std::uint8_t>) {
      detail::settle(result);
    }
    return result;
  }
}

}  // namespace maltor::exports
