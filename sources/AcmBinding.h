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

struct AcmApi {
  decltype(&::acmGetVersion) GetVersion = nullptr;
  decltype(&::acmMetrics) Metrics = nullptr;
  decltype(&::acmDriverEnum) DriverEnum = nullptr;
  decltype(&::acmDriverDetailsA) DriverDetails = nullptr;
  decltype(&::acmDriverAddA) DriverAdd = nullptr;
  decltype(&::acmDriverRemove) DriverRemove = nullptr;
  decltype(&::acmDriverOpen) DriverOpen = nullptr;
  decltype(&::acmDriverClose) DriverClose = nullptr;
  decltype(&::acmDriverMessage) DriverMessage = nullptr;
  decltype(&::acmDriverID) DriverID = nullptr;
  decltype(&::acmDriverPriority) DriverPriority = nullptr;
  decltype(&::acmFormatTagDetailsA) FormatTagDetails = nullptr;
  decltype(&::acmFormatTagEnumA) FormatTagEnum = nullptr;
  decltype(&::acmFormatChooseA) FormatChoose = nullptr;
  decltype(&::acmFormatDetailsA) FormatDetails = nullptr;
  decltype(&::acmFormatEnumA) FormatEnum = nullptr;
  decltype(&::acmFormatSuggest) FormatSuggest = nullptr;
  decltype(&::acmFilterTagDetailsA) FilterTagDetails = nullptr;
  decltype(&::acmFilterTagEnumA) FilterTagEnum = nullptr;
  decltype(&::acmFilterChooseA) FilterChoose = nullptr;
  decltype(&::acmFilterDetailsA) FilterDetails = nullptr;
  decltype(&::acmFilterEnumA) FilterEnum = nullptr;
  decltype(&::acmStreamOpen) StreamOpen = nullptr;
  decltype(&::acmStreamClose) StreamClose = nullptr;
  decltype(&::acmStreamSize) StreamSize = nullptr;
  decltype(&::acmStreamConvert) StreamConvert = nullptr;
  decltype(&::acmStreamReset) StreamReset = nullptr;
  decltype(&::acmStreamPrepareHeader) StreamPrepareHeader = nullptr;
  decltype(&::acmStreamUnprepareHeader) StreamUnprepareHeader = nullptr;
};

// True when the manager is present and at least version 2.00 (loads it on first use).
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
