// The binding to the MPEG decoder library, loaded at run time: the entry points, the version
// check and the error texts.
// Threading: LoadDecoder from any thread (serialised); the entry points per decoder instance.
#pragma once

#include <cstdint>
#include <string>

#include "mpegdec/mpegdec.h"
#include "stream/MMError.h"

namespace sources {

class EMMMpegError : public stream::EMMError {
 public:
  using stream::EMMError::EMMError;
};

inline constexpr const char* kMpegModuleName = "libmmmpeg.so";
inline constexpr const char* kUnableToLoadDecoder = "Unable to load MMMPEG32.DLL";
inline constexpr const char* kInvalidDecoderVersion = "Invalid Mpeg Decoder DLL version";
constexpr std::int32_t kMinDecoderVersion = 20;
// The first version with the sample format and clip count entry points.
constexpr std::int32_t kSampleFormatDecoderVersion = 21;
// The first version with the segment entry points.
constexpr std::int32_t kSegmentDecoderVersion = 22;

// One pointer per entry point that the system calls; each has the type the library's header
// declares. Loading fails unless all of them are there, but for the optional ones at the end.
struct MpegApi {
  decltype(&::mpeg_Version) Version = nullptr;
  decltype(&::mpeg_Init) Init = nullptr;
  decltype(&::mpeg_Done) Done = nullptr;
  decltype(&::mpeg_Clear) Clear = nullptr;
  decltype(&::mpeg_SetTrailingHeader) SetTrailingHeader = nullptr;
  decltype(&::mpeg_SetExactPosition) SetExactPosition = nullptr;
  decltype(&::mpeg_SetFileName) SetFileName = nullptr;
  decltype(&::mpeg_GetFileName) GetFileName = nullptr;
  decltype(&::mpeg_GetEmpty) GetEmpty = nullptr;
  decltype(&::mpeg_GetFileInfo) GetFileInfo = nullptr;
  decltype(&::mpeg_SetChannelMode) SetChannelMode = nullptr;
  decltype(&::mpeg_GetChannelMode) GetChannelMode = nullptr;
  decltype(&::mpeg_SetPosition) SetPosition = nullptr;
  decltype(&::mpeg_GetPosition) GetPosition = nullptr;
  decltype(&::mpeg_OpenFile) OpenFile = nullptr;
  decltype(&::mpeg_CloseFile) CloseFile = nullptr;
  decltype(&::mpeg_ResetFile) ResetFile = nullptr;
  decltype(&::mpeg_ReadDataBytes) ReadDataBytes = nullptr;
  decltype(&::mpeg_GetDone) GetDone = nullptr;
  decltype(&::mpeg_GetErrorText) GetErrorText = nullptr;
  // Optional: loaded from a library of version 21 and above, null otherwise.
  decltype(&::mpeg_SetSampleFormat) SetSampleFormat = nullptr;
  decltype(&::mpeg_GetSampleFormat) GetSampleFormat = nullptr;
  decltype(&::mpeg_GetClipCount) GetClipCount = nullptr;
  // Optional: loaded from a library of version 22 and above, null otherwise.
  decltype(&::mpeg_PlanSegments) PlanSegments = nullptr;
  decltype(&::mpeg_OpenSegment) OpenSegment = nullptr;
};

// Loads the library once (later calls only report whether it is loaded). A missing library, or
// one older than version 20 or without a required entry point of MpegApi, is shown to the user
// in a message box and gives false. The optional entry points are looked up only in a library
// of the version that brought them (21 or 22) or above.
bool LoadDecoder();
// The entry points; valid only after LoadDecoder returned true.
const MpegApi& Mpeg();
// The decoder's text for an error number ("" when it has none).
std::string ErrorText(std::int32_t code);
// Low byte of a Boolean result.
inline bool MpegBool(std::int32_t value) {
  return (value & 0xFF) != 0;
}

}  // namespace sources
