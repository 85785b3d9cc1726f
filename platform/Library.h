// Run-time loaded modules (the stand-in for LoadLibrary/GetProcAddress/FreeLibrary): a module is
// looked up beside the running executable first, then on the system's library path.
// Threading: any thread.
#pragma once

#include <string>

namespace platform {

using ModuleHandle = void*;

// The folder of the running executable ("" when it cannot be found).
std::string ExecutableFolder();
// Loads `name` (a file name such as "libmmmpeg.so"); null when it cannot be loaded.
ModuleHandle LoadModule(const std::string& name);
void* ModuleSymbol(ModuleHandle module, const char* symbol);
void FreeModule(ModuleHandle module);

}  // namespace platform
