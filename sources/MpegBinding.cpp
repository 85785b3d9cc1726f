#include "sources/MpegBinding.h"

#include <mutex>

#include "platform/ExceptionHandler.h"
#include "platform/Library.h"

namespace sources {
namespace {

struct Binding {
  std::mutex mutex;
  platform::ModuleHandle module = nullptr;
  bool loaded = false;
  MpegApi api;

  ~Binding() { platform::FreeModule(module); }  // at program exit
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

}  // namespace

bool LoadDecoder() {
  Binding& b = TheBinding();
  std::lock_guard lock(b.mutex);
  if (b.loaded) return true;
  b.module = platform::LoadModule(kMpegModuleName);
  if (b.module == nullptr) {
    platform::ShowErrorMessage(kUnableToLoadDecoder);
    return false;
  }
  b.loaded = true;
  MpegApi& a = b.api;
  platform::SymbolLoader load(b.module);
  load.Resolve(a.Version, "mpeg_Version");
  load.Resolve(a.Init, "mpeg_Init");
  load.Resolve(a.Done, "mpeg_Done");
  load.Resolve(a.Clear, "mpeg_Clear");
  load.Resolve(a.SetTrailingHeader, "mpeg_SetTrailingHeader");
  load.Resolve(a.SetExactPosition, "mpeg_SetExactPosition");
  load.Resolve(a.SetFileName, "mpeg_SetFileName");
  load.Resolve(a.GetFileName, "mpeg_GetFileName");
  load.Resolve(a.GetEmpty, "mpeg_GetEmpty");
  load.Resolve(a.GetFileInfo, "mpeg_GetFileInfo");
  load.Resolve(a.SetChannelMode, "mpeg_SetChannelMode");
  load.Resolve(a.GetChannelMode, "mpeg_GetChannelMode");
  load.Resolve(a.SetPosition, "mpeg_SetPosition");
  load.Resolve(a.GetPosition, "mpeg_GetPosition");
  load.Resolve(a.OpenFile, "mpeg_OpenFile");
  load.Resolve(a.CloseFile, "mpeg_CloseFile");
  load.Resolve(a.ResetFile, "mpeg_ResetFile");
  load.Resolve(a.ReadDataBytes, "mpeg_ReadDataBytes");
  load.Resolve(a.GetDone, "mpeg_GetDone");
  load.Resolve(a.GetErrorText, "mpeg_GetErrorText");
  // A library without an entry point the system calls is as good as too old.
  if (!load.Complete() || a.Version() < kMinDecoderVersion) {
    b.loaded = false;
    platform::FreeModule(b.module);
    b.module = nullptr;
    b.api = MpegApi{};
    platform::ShowErrorMessage(kInvalidDecoderVersion);
  } else if (a.Version() >= kSampleFormatDecoderVersion) {
    // Optional: the callers do without them (16-bit samples, no clip count).
    a.SetSampleFormat =
        platform::Symbol<decltype(::mpeg_SetSampleFormat)>(b.module, "mpeg_SetSampleFormat");
    a.GetSampleFormat =
        platform::Symbol<decltype(::mpeg_GetSampleFormat)>(b.module, "mpeg_GetSampleFormat");
    a.GetClipCount = platform::Symbol<decltype(::mpeg_GetClipCount)>(b.module, "mpeg_GetClipCount");
    if (a.Version() >= kSegmentDecoderVersion) {
      a.PlanSegments =
          platform::Symbol<decltype(::mpeg_PlanSegments)>(b.module, "mpeg_PlanSegments");
      a.OpenSegment = platform::Symbol<decltype(::mpeg_OpenSegment)>(b.module, "mpeg_OpenSegment");
    }
  }
  return b.loaded;
}

const MpegApi& Mpeg() {
  return TheBinding().api;
}

std::string ErrorText(std::int32_t code) {
  char buffer[256] = {};
  if (Mpeg().GetErrorText == nullptr || Mpeg().GetErrorText(code, buffer, sizeof buffer) != 0) {
    return {};
  }
  buffer[sizeof buffer - 1] = 0;
  return buffer;
}

}  // namespace sources
