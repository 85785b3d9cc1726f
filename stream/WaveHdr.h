// The wave buffer header: one block of audio is this 60-byte header followed by its data.
// The first 32 bytes mirror the platform's WAVEHDR; the rest is the framework's extension.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace stream {

constexpr std::size_t kWaveHdrSize = 60;

#pragma pack(push, 1)
struct TWaveHdr {
  // Where the data bytes start, counted from the header's own address. Every field is 32 bits
  // wide, so the address is kept relative to the header; pool blocks have their data right
  // after the header (kWaveHdrSize).
  std::uint32_t lpData;
  std::uint32_t dwBufferLength;   // capacity asked for; after a load, the bytes delivered
  std::uint32_t dwBytesRecorded;  // bytes the producer wrote (0 = nothing)
  std::uint32_t dwUser;
  std::uint32_t dwFlags;  // device flags
  std::uint32_t dwLoops;
  std::uint32_t lpNext;
  std::uint32_t reserved;
  std::uint32_t extUnused;       // not used by the stream model
  std::uint32_t extBytesPlayed;  // copy of dwBytesRecorded kept by an output device
  std::uint32_t extRingNext;     // an output device's link to the next header of its ring
  std::int32_t Looping;          // 0, or all bits set: a source at its end may wrap to its start
  std::int32_t LoopCount;        // wraps allowed; 0 = endless
  std::int32_t LoopsLeft;        // wraps still allowed; decremented on each wrap when LoopCount > 0
  std::int32_t LoopMark;         // -1 when the source wrapped inside this block, else 0

  char* Data() { return reinterpret_cast<char*>(this) + lpData; }
  const char* Data() const { return reinterpret_cast<const char*>(this) + lpData; }
  // Points the header at `data`, which must lie after the header in the same block.
  void SetData(char* data) {
    const std::ptrdiff_t offset = data - reinterpret_cast<char*>(this);
    assert(offset >= static_cast<std::ptrdiff_t>(kWaveHdrSize) && offset <= INT32_MAX);
    lpData = static_cast<std::uint32_t>(offset);
  }
};
#pragma pack(pop)

using PWaveHdr = TWaveHdr*;

static_assert(sizeof(TWaveHdr) == kWaveHdrSize);
static_assert(offsetof(TWaveHdr, lpData) == 0);
static_assert(offsetof(TWaveHdr, dwBufferLength) == 4);
static_assert(offsetof(TWaveHdr, dwBytesRecorded) == 8);
static_assert(offsetof(TWaveHdr, dwUser) == 12);
static_assert(offsetof(TWaveHdr, dwFlags) == 16);
static_assert(offsetof(TWaveHdr, dwLoops) == 20);
static_assert(offsetof(TWaveHdr, lpNext) == 24);
static_assert(offsetof(TWaveHdr, reserved) == 28);
static_assert(offsetof(TWaveHdr, extUnused) == 32);
static_assert(offsetof(TWaveHdr, extBytesPlayed) == 36);
static_assert(offsetof(TWaveHdr, extRingNext) == 40);
static_assert(offsetof(TWaveHdr, Looping) == 44);
static_assert(offsetof(TWaveHdr, LoopCount) == 48);
static_assert(offsetof(TWaveHdr, LoopsLeft) == 52);
static_assert(offsetof(TWaveHdr, LoopMark) == 56);

}  // namespace stream
