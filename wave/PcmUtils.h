// Small, allocation-free helpers on PCM sample data and PCM format records: format checks,
// per-channel peaks, trigger-level crossings and 8/16-bit sample conversion.
//
// Sample layouts: 8-bit samples are unsigned bytes with silence at 128; 16-bit samples are
// signed little-endian words with silence at 0; a stereo frame holds the left sample first.
// Data need not be aligned. Formats with more than two channels are read by FindPeak and
// FindCrossing as if they held two interleaved channels (even samples left, odd ones right).
// Threading: none of these keep state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/WaveFormat.h"

namespace wave {

// True for a PCM record with 8 or 16 bits, 1, 2 or 4 channels and 4000..100000 samples/s.
bool IsValidPCMFormat(const stream::TWaveFormatEx* format);

// Fills `format` with a PCM description; nBlockAlign = (bits * channels) >> 3 (low 16 bits).
void MakePCMFormat(stream::TWaveFormatEx& format, int bits, int channels, std::uint32_t rate);

// The sample of largest magnitude per channel, reported as the raw sample (the unsigned byte
// for 8-bit data, the signed word for 16-bit data); 0 when no sample is louder than silence.
// The first sample of the largest magnitude wins. Mono data report the same value on both.
// count is in bytes; a trailing partial frame is ignored.
void FindPeak(std::int16_t& outRight, std::int16_t& outLeft, std::size_t count, const void* data,
              const stream::TWaveFormatEx& format);

// Mode values of FindCrossing.
constexpr int kCrossingNone = 0;
constexpr int kCrossingRising = 1;
constexpr int kCrossingFalling = 2;

// Channel values of FindCrossing (ignored for mono data).
constexpr int kCrossingBothChannels = 0;
constexpr int kCrossingLeftChannel = 1;
constexpr int kCrossingRightChannel = 2;

// The byte offset of the first sample that completes a crossing of `level` (percent of full
// scale, -100..100) in the given direction, or -1. A rising edge is a pair of successive
// samples of one channel with a < T <= b, a falling one a > T >= b, where T is
// Trunc(level * 127 / 100) + 128 for 8-bit data and level * 327 for 16-bit data (the level is
// negated for falling edges). With both channels selected the left one is checked first at
// each frame. The last pair of a block is not examined. Unknown modes find nothing.
std::int64_t FindCrossing(const stream::TWaveFormatEx& format, const void* data, std::size_t count,
                          int level, int mode, int channel);

// Converts count bytes of srcBits samples into dstBits samples at dst and returns the bytes
// written. Equal depths copy; 16 -> 8 divides by 256 rounding toward zero and re-centres at
// 128; 8 -> 16 maps byte b to (b - 128) * 256. Depths other than 8 and 16 write nothing.
// dst may equal src (the buffer must then hold the larger of input and output); other
// overlaps are not allowed.
std::size_t ConvertBits(int dstBits, void* dst, int srcBits, std::size_t count, const void* src);

}  // namespace wave
