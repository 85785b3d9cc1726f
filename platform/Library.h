// Run-time loaded modules (the stand-in for LoadLibrary/GetProcAddress/FreeLibrary): a module is
// looked up beside the running executable first (the build tree), then in the private module
// folder of an installed program (<prefix>/lib/quelbarin beside <prefix>/bin), then on the
// system's library path. Entry points are resolved with their declared function type.
// Threading: any thread; a SymbolLoader by one thread at a time.
#pragma once

#include <string>
#include <type_traits>

namespace platform {

using ModuleHandle = void*;

// Where an installed program's modules live, relative to the executable's folder.
inline constexpr const char* kPrivateModuleFolder = "/../lib/quelbarin/";

// The folder of the running executable ("" when it cannot be found).
std::string ExecutableFolder();
// Loads `name` (a file name such as "libmmmpeg.so"); null when it cannot be loaded.
ModuleHandle LoadModule(const std::string& name);
void* ModuleSymbol(ModuleHandle module, const char* symbol);
void FreeModule(ModuleHandle module);

// The function `name` exported by `module`, typed as F (a function type, usually
// `decltype(::name)` of the module's header); null when the module or the name is missing.
template <typename F>
requires std::is_function_v<F> F* Symbol(ModuleHandle module, const char* name) {
  return reinterpret_cast<F*>(ModuleSymbol(module, name));
}

// Resolves the entry points of one module into typed pointers and remembers whether any of
// them was missing.
class SymbolLoader {
 public:
  explicit SymbolLoader(ModuleHandle module) : module_(module) {}

  // Points `entry` at `name`; the pointer's declared type is the type the function is taken to
  // have, and a pointer to anything but a function does not compile.
  template <typename F>
  requires std::is_function_v<F>
  void Resolve(F*& entry, const char* name) {
    entry = Symbol<F>(module_, name);
    if (entry == nullptr) complete_ = false;
  }
  // Every name resolved so far was found.
  bool Complete() const { return complete_; }

 private:
  ModuleHandle module_;  // not owned
  bool complete_ = true;
};

}  // namespace platform
