// Enumerations of MPEG audio streams and the published ID3v1 genre names.
#pragma once

#include <array>

namespace sources {

enum TMpegVersion { v2LSF, v1 };
enum TSampleMode { smStereo, smJointStereo, smDualChannel, smSingleChannel };
enum TChannelMode { cmLeft, cmRight, cmBoth, cmDownMix };

constexpr std::size_t kGenreCount = 126;
// ID3v1 genre names, indexes 0 ("Blues") to 125 ("Dance Hall").
extern const std::array<const char*, kGenreCount> kGenreNames;

}  // namespace sources
