// Time side of the platform layer: clocks, sleeping and timed waits.
//
// The real backends use the host's clocks; the virtual device replaces all of
// them with a virtual clock, so that the library's multi-second waits cost no
// real time in tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace maltor::platform {

// Millisecond tick counter; wraps modulo 2^32.
std::uint32_t tick_ms();
// Wall clock in whole seconds since 1970-01-01 UTC.
std::int64_t now_seconds();
// Wall clock as seconds and milliseconds (the _ftime64 pair).
void now_seconds_ms(std::int64_t* seconds, std::uint16_t* milliseconds);
// Wall clock in microseconds since 1970-01-01 UTC, for the USB trace's
// timestamps. Reading it never moves the virtual clock.
std::int64_t now_microseconds();
// Local-time text of a wall-clock value in the C library's ctime form,
// "Sun Dec  6 04:58:01 2026\n" (25 characters and a terminator), in English
// whatever the process's locale.
void local_time_text(std::int64_t seconds, char (&out)[26]);

// The ctime form of a broken-down time, for the clocks above: weekday 0 is
// Sunday, month 1 is January. Always 25 characters and a terminator: fields
// out of their ranges are wrapped, the year to its last four digits.
void format_ctime(int weekday, int month, int day, int hour, int minute, int second, int year,
                  char (&out)[26]);
// Suspends the calling thread.
void sleep_ms(std::uint32_t milliseconds);

class Event;
// Waits at most `timeout_ms` on this clock for `event` to be signalled; true
// when it was (an automatic-reset event is reset by the wait). Event::wait
// comes here, so timed event waits run on the virtual clock in the virtual
// device's build.
bool wait_event(Event& event, std::uint32_t timeout_ms);

}  // namespace maltor::platform
