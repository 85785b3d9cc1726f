// Application of a gain envelope (TMMFadeList) to blocks of PCM, in place. Between two points
// the gains move in a straight line, sample by sample, with integer arithmetic only; a channel
// whose gain stays at unity over a stretch is not touched, one that stays at 0 is silenced.
// Threading: the caller serialises access to the list; the overflow flag is atomic.
#pragma once

#include <cstdint>

#include "stream/WaveFormat.h"
#include "wave/FadeList.h"

namespace wave {

// Applies `list` to count bytes at data, starting at list.CurrentPosition, and advances the
// list's position and reached gains so that the next block continues the same ramps. Bytes
// beyond the last point are left as they are. Non-PCM formats are not touched. 8-bit formats
// take the unsigned-byte path, all others are read as 16-bit; nChannels 1 is mono and any
// other value two interleaved channels. Returns true when a sample had to be saturated.
bool ApplyGainEnvelope(const stream::TWaveFormatEx& format, void* data, std::int64_t count,
                       TMMFadeList& list);

// The overflow result of the most recent ApplyGainEnvelope in the process, by any thread.
bool GainOverflowed();

}  // namespace wave
