// Tells a WAVE file whose audio is already plain PCM from one that needs decoding, and how long a
// WAVE file is, from its header alone.
// Threading: any thread; calls share nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace cli {

// Whether `file` is a WAVE file holding 8- or 16-bit PCM (format tag 1): converting it would only
// copy it. The decision is the WAVE reader's, the same one the converter opens sources with, so a
// file it refuses (not RIFF, cut inside its header, no usable format) answers false and is left
// for the converter to report. Reads the chunk headers and the format record, not the audio.
bool IsPlainPcmWave(const std::filesystem::path& file);

// The sample frames in the "data" chunk of a WAVE (or RF64) file, from its header; nothing when
// the reader refuses the file.
std::optional<std::int64_t> WaveFrames(const std::filesystem::path& file);

}  // namespace cli
