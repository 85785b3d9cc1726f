// The sample depths the converter writes, and the format record that describes each in a WAVE
// file.
// Threading: any thread; the functions share nothing.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace cli {

enum class OutputDepth { k16, k24, k32, k32Float };

// "16", "24", "32" or "32f"; nothing for any other text.
std::optional<OutputDepth> ParseOutputDepth(std::string_view text);

// 16, 24 or 32 (32 for float too).
int BitsPerSample(OutputDepth depth);

// 2, 3 or 4: the bytes one sample takes in the file (24-bit samples are packed).
int BytesPerSample(OutputDepth depth);

// The decoder's sample format number for the depth: 0 signed 16-bit, 1 signed 24-bit, 2 signed
// 32-bit, 3 float32.
int DecoderSampleFormat(OutputDepth depth);

// The format record for samples of `depth`, in host byte order: the 18-byte wave format record
// followed by its cbSize extra bytes. 16-bit PCM is tag 1 with no extra bytes; 24- and 32-bit
// integers are the extensible record (all bits valid, the speakers of mono or stereo, the PCM
// sub-format); float is tag 3 with no extra bytes. Throws std::invalid_argument when `channels`
// is not 1..8 or `rate` is not positive.
std::vector<char> MakeOutputFormat(OutputDepth depth, int channels, int rate);

}  // namespace cli
