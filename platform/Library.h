// Run-time loaded modules (the stand-in for LoadLibrary/GetProcAddress/FreeLibrary): a module is
// looked up beside the running executable first (the build tree), then in the private module
// folder of an installed program (<prefix>/lib/quelbarin beside <prefix>/bin), then on the
// system's library path.
// Threading: any thread.
#pragma once

#include <string>

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

}  // namespace platform
