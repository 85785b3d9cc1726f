// Critical section stand-in: a recursive mutex, so the owning thread may enter it again.
#pragma once

#include <mutex>

namespace platform {

using CriticalSection = std::recursive_mutex;
using CriticalSectionLock = std::lock_guard<std::recursive_mutex>;

}  // namespace platform
