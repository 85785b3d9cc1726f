// The multimedia clocks: timeGetTime's millisecond count and the performance counter's
// microseconds, both read from one steady clock and counted from the same start (the first
// call in the process), so the two can be compared.
// Threading: any thread.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since the start; wraps around after 2^32 ms (about 49.7 days) as timeGetTime
// does, so callers compare with unsigned differences.
std::uint32_t timeGetTime();

// Microseconds since the start; never wraps in practice, never goes backwards.
std::int64_t MicrosecondClock();

}  // namespace platform
