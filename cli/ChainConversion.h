// Converts a source that the MPEG decoder does not take (a WAVE file of PCM, ADPCM, A-law,
// float...) through the audio file chain: audio file -> sync driver -> wave file sink, which
// writes 16-bit PCM into the partial file. The decoder's samples are written unchanged (no
// fades). An output past the 4 GiB limit of RIFF is written as RF64.
// Threading: any thread; each call builds, runs and destroys a chain of its own.
#pragma once

#include <atomic>
#include <filesystem>

#include "cli/FileConverter.h"

namespace cli {

ConversionResult ConvertThroughChain(const std::filesystem::path& source,
                                     const std::filesystem::path& destination,
                                     const std::filesystem::path& partial,
                                     const wave::FreeSpaceQuery& freeSpace,
                                     const std::atomic<bool>* cancel,
                                     const FileConverter::Progress& progress);

}  // namespace cli
