// The binding to the audio compression manager, loaded once at first use: whether it is present
// and new enough (version 2.00), and its entry points.
// Threading: any thread (loading is serialised); streams per owner.
#pragma once

#include <cstdint>

#include "acm/msacm.h"
#include "stream/WaveFormat.h"

namespace sources {

inline constexpr const char* kAcmModuleName = "libmsacm.so";
constexpr std::uint32_t kMinAcmVersion = 0x0200;  // high word of acmGetVersion

// One pointer per entry point that the system calls; each has the type the manager's header
// declares.
struct AcmApi {
  decltype(&::acmGetVersion) GetVersion = nullptr;
  decltype(&::acmFormatSuggest) FormatSuggest = nullptr;
  decltype(&::acmStreamOpen) StreamOpen = nullptr;
  decltype(&::acmStreamClose) StreamClose = nullptr;
  decltype(&::acmStreamSize) StreamSize = nullptr;
  decltype(&::acmStreamConvert) StreamConvert = nullptr;
  decltype(&::acmStreamPrepareHeader) StreamPrepareHeader = nullptr;
  decltype(&::acmStreamUnprepareHeader) StreamUnprepareHeader = nullptr;
};

// True when the manager is present, at least version 2.00 and has every entry point of AcmApi
// (loads it on first use).
bool AcmUsable();
// The entry points; valid when AcmUsable() is true.
const AcmApi& Acm();

// The manager's format record has the layout of the stream model's.
static_assert(sizeof(ACMWAVEFORMATEX) == sizeof(stream::TWaveFormatEx));
inline const ACMWAVEFORMATEX* AsAcm(const stream::TWaveFormatEx* f) {
  return reinterpret_cast<const ACMWAVEFORMATEX*>(f);
}
inline ACMWAVEFORMATEX* AsAcm(stream::TWaveFormatEx* f) {
  return reinterpret_cast<ACMWAVEFORMATEX*>(f);
}

}  // namespace sources
