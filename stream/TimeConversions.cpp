#include "stream/TimeConversions.h"

namespace stream {

std::int64_t MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return 0;
  const __int128 product = static_cast<__int128>(a) * b;
  const __int128 q = product / c;  // truncates toward zero
  const __int128 r = product % c;
  return static_cast<std::int64_t>(q + (2 * r) / c);
}

namespace {
std::int64_t RoundUpToBlock(std::int64_t bytes, std::uint16_t blockAlign) {
  if (blockAlign == 0 || bytes <= 0) return bytes;
  const std::int64_t rest = bytes % blockAlign;
  return rest == 0 ? bytes : bytes + (blockAlign - rest);
}
}  // namespace

std::int64_t BytesToSamples(const TWaveFormatEx& f, std::int64_t bytes) {
  return MulDivRound(bytes, f.nSamplesPerSec, f.nAvgBytesPerSec);
}
std::int64_t BytesToMs(const TWaveFormatEx& f, std::int64_t bytes) {
  return MulDivRound(bytes, 1000, f.nAvgBytesPerSec);
}
std::int64_t SamplesToMs(const TWaveFormatEx& f, std::int64_t samples) {
  return MulDivRound(samples, 1000, f.nSamplesPerSec);
}
std::int64_t MsToSamples(const TWaveFormatEx& f, std::int64_t ms) {
  return MulDivRound(ms, f.nSamplesPerSec, 1000);
}
std::int64_t SamplesToBytes(const TWaveFormatEx& f, std::int64_t samples) {
  return RoundUpToBlock(MulDivRound(samples, f.nAvgBytesPerSec, f.nSamplesPerSec), f.nBlockAlign);
}
std::int64_t MsToBytes(const TWaveFormatEx& f, std::int64_t ms) {
  return RoundUpToBlock(MulDivRound(ms, f.nAvgBytesPerSec, 1000), f.nBlockAlign);
}

}  // namespace stream
