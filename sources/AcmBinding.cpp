#include "sources/AcmBinding.h"

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
    platform::SymbolLoader load(module);
    load.Resolve(api.GetVersion, "acmGetVersion");
    if (api.GetVersion == nullptr) {
      platform::FreeModule(module);
      module = nullptr;
      return;
    }
    if ((api.GetVersion() >> 16) < kMinAcmVersion) return;  // present, but too old to use
    load.Resolve(api.FormatSuggest, "acmFormatSuggest");
    load.Resolve(api.StreamOpen, "acmStreamOpen");
    load.Resolve(api.StreamClose, "acmStreamClose");
    load.Resolve(api.StreamSize, "acmStreamSize");
    load.Resolve(api.StreamConvert, "acmStreamConvert");
    load.Resolve(api.StreamPrepareHeader, "acmStreamPrepareHeader");
    load.Resolve(api.StreamUnprepareHeader, "acmStreamUnprepareHeader");
    usable = load.Complete();  // every entry point a conversion needs is there
  }
  // The module stays loaded until the process ends: the OpenMP runtime that libsoxr brings in
  // keeps allocations that it only releases with the process, and unloading it at exit would
  // leave them unreachable.
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
