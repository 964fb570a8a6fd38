// How the tool reads and writes the device clock value. The library passes the
// 32-bit value through; the tool takes it as Unix time: whole seconds since
// 1970-01-01 00:00:00 UTC. That is the count a logger's real-time clock keeps
// most often, needs no time zone on the device, and lasts until 2106.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace maltor::tool {

// The clock value for a host time in Unix seconds. Throws ToolError(kExitUsage)
// before 1970 or after 2106-02-07 06:28:15 UTC, which 32 bits cannot hold.
std::uint32_t clock_value_from_unix(std::int64_t unix_seconds);

// "2024-10-04T14:47:28Z", or "2024-10-04T14:47:28.000125Z" with a fraction of a second.
std::string iso8601_utc(std::int64_t unix_microseconds);

// "2024-10-04 14:47:28 UTC".
std::string format_clock_value(std::uint32_t value);

// A clock value given on the command line: a number (decimal or 0x...) or a
// UTC date and time "YYYY-MM-DDTHH:MM:SS" (a blank may stand for the T, and a
// trailing Z is allowed). Throws ToolError(kExitUsage).
std::uint32_t parse_clock_value(std::string_view text);

}  // namespace maltor::tool
