// The clock the meters take their times from: microseconds on a monotonic clock, the platform's
// by default, the test's own where one is set.
// Threading: whatever the clock given allows; the platform's may be read from any thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/Clock.h"

namespace meters {

using TMMMicroClock = std::function<std::int64_t()>;

// `clock` read now, or the platform's microsecond clock when none is set.
inline std::int64_t ReadClock(const TMMMicroClock& clock) {
  return clock ? clock() : platform::MicrosecondClock();
}

}  // namespace meters
