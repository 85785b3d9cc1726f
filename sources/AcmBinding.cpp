#include "sources/AcmBinding.h"

#include <mutex>

#include "platform/Library.h"

namespace sources {
namespace {

struct Binding {
  platform::ModuleHandle module = nullptr;
  bool usable = false;
  AcmApi api;

  Binding() {
    module = platform::LoadModule(kAcmModuleName);
    if (module == nullptr) return;
    Resolve(api.GetVersion, "acmGetVersion");
    if (api.GetVersion == nullptr) {
      platform::FreeModule(module);
      module = nullptr;
      return;
    }
    if ((api.GetVersion() >> 16) < kMinAcmVersion) return;  // present, but too old to use
    Resolve(api.Metrics, "acmMetrics");
    Resolve(api.DriverEnum, "acmDriverEnum");
    Resolve(api.DriverDetails, "acmDriverDetailsA");
    Resolve(api.DriverAdd, "acmDriverAddA");
    Resolve(api.DriverRemove, "acmDriverRemove");
    Resolve(api.DriverOpen, "acmDriverOpen");
    Resolve(api.DriverClose, "acmDriverClose");
    Resolve(api.DriverMessage, "acmDriverMessage");
    Resolve(api.DriverID, "acmDriverID");
    Resolve(api.DriverPriority, "acmDriverPriority");
    Resolve(api.FormatTagDetails, "acmFormatTagDetailsA");
    Resolve(api.FormatTagEnum, "acmFormatTagEnumA");
    Resolve(api.FormatChoose, "acmFormatChooseA");
    Resolve(api.FormatDetails, "acmFormatDetailsA");
    Resolve(api.FormatEnum, "acmFormatEnumA");
    Resolve(api.FormatSuggest, "acmFormatSuggest");
    Resolve(api.FilterTagDetails, "acmFilterTagDetailsA");
    Resolve(api.FilterTagEnum, "acmFilterTagEnumA");
    Resolve(api.FilterChoose, "acmFilterChooseA");
    Resolve(api.FilterDetails, "acmFilterDetailsA");
    Resolve(api.FilterEnum, "acmFilterEnumA");
    Resolve(api.StreamOpen, "acmStreamOpen");
    Resolve(api.StreamClose, "acmStreamClose");
    Resolve(api.StreamSize, "acmStreamSize");
    Resolve(api.StreamConvert, "acmStreamConvert");
    Resolve(api.StreamReset, "acmStreamReset");
    Resolve(api.StreamPrepareHeader, "acmStreamPrepareHeader");
    Resolve(api.StreamUnprepareHeader, "acmStreamUnprepareHeader");
    // The functions every conversion needs must all be there.
    usable = api.FormatSuggest && api.StreamOpen && api.StreamClose && api.StreamSize &&
             api.StreamConvert && api.StreamPrepareHeader && api.StreamUnprepareHeader;
  }
  // The module stays loaded until the process ends: the OpenMP runtime that libsoxr brings in
  // keeps allocations that it only releases with the process, and unloading it at exit would
  // leave them unreachable.

  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(platform::ModuleSymbol(module, name));
  }
};

Binding& TheBinding() {
  static Binding binding;  // loaded once, on first use, thread-safely
  return binding;
}

}  // namespace

bool AcmUsable() {
  return TheBinding().usable;
}
const AcmApi& Acm() {
  return TheBinding().api;
}

}  // namespace sources
