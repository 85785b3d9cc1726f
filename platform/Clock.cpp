#include "platform/Clock.h"

#include <chrono>

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

SteadyClock::duration SinceStart() {
  static const SteadyClock::time_point start = SteadyClock::now();
  return SteadyClock::now() - start;
}

}  // namespace

std::uint32_t timeGetTime() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(SinceStart()).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::int64_t MicrosecondClock() {
  return std::chrono::duration_cast<std::chrono::microseconds>(SinceStart()).count();
}

}  // namespace platform
