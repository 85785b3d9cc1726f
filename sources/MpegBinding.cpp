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

template <typename Fn>
void Resolve(platform::ModuleHandle module, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(platform::ModuleSymbol(module, name));
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
  Resolve(b.module, a.Version, "mpeg_Version");
  Resolve(b.module, a.Init, "mpeg_Init");
  Resolve(b.module, a.Done, "mpeg_Done");
  Resolve(b.module, a.SetDecodeCallback, "mpeg_SetDecodeCallback");
  Resolve(b.module, a.SetDecodeMode, "mpeg_SetDecodeMode");
  Resolve(b.module, a.Clear, "mpeg_Clear");
  Resolve(b.module, a.SetTrailingHeader, "mpeg_SetTrailingHeader");
  Resolve(b.module, a.SetFileOffset, "mpeg_SetFileOffset");
  Resolve(b.module, a.SetExactPosition, "mpeg_SetExactPosition");
  Resolve(b.module, a.SetFileName, "mpeg_SetFileName");
  Resolve(b.module, a.GetFileName, "mpeg_GetFileName");
  Resolve(b.module, a.GetEmpty, "mpeg_GetEmpty");
  Resolve(b.module, a.GetFileInfo, "mpeg_GetFileInfo");
  Resolve(b.module, a.SetChannelMode, "mpeg_SetChannelMode");
  Resolve(b.module, a.GetChannelMode, "mpeg_GetChannelMode");
  Resolve(b.module, a.SetPosition, "mpeg_SetPosition");
  Resolve(b.module, a.GetPosition, "mpeg_GetPosition");
  Resolve(b.module, a.OpenFile, "mpeg_OpenFile");
  Resolve(b.module, a.CloseFile, "mpeg_CloseFile");
  Resolve(b.module, a.ResetFile, "mpeg_ResetFile");
  Resolve(b.module, a.ReadDataBytes, "mpeg_ReadDataBytes");
  Resolve(b.module, a.ReadDataBytesEx, "mpeg_ReadDataBytesEx");
  Resolve(b.module, a.AbortReadData, "mpeg_AbortReadData");
  Resolve(b.module, a.GetDone, "mpeg_GetDone");
  Resolve(b.module, a.ScanFile, "mpeg_ScanFile");
  Resolve(b.module, a.ScanFileEx, "mpeg_ScanFileEx");
  Resolve(b.module, a.EncryptFile, "mpeg_EncryptFile");
  Resolve(b.module, a.ReadID3Tag, "mpeg_ReadID3Tag");
  Resolve(b.module, a.GetErrorText, "mpeg_GetErrorText");
  // Every entry point the system calls must be there, or the library is as good as too old.
  const bool complete = a.Init && a.Done && a.SetFileName && a.GetFileName && a.GetEmpty &&
                        a.GetFileInfo && a.SetTrailingHeader && a.SetExactPosition &&
                        a.SetChannelMode && a.GetChannelMode && a.SetPosition && a.GetPosition &&
                        a.OpenFile && a.CloseFile && a.ResetFile && a.ReadDataBytes && a.GetDone &&
                        a.Clear && a.GetErrorText;
  if (a.Version == nullptr || a.Version() < kMinDecoderVersion || !complete) {
    b.loaded = false;
    platform::FreeModule(b.module);
    b.module = nullptr;
    b.api = MpegApi{};
    platform::ShowErrorMessage(kInvalidDecoderVersion);
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
