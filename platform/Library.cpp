#include "platform/Library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace platform {

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  const std::string exe(path, static_cast<std::size_t>(n));
  const auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

ModuleHandle LoadModule(const std::string& name) {
  if (name.empty()) return nullptr;
  if (name.find('/') == std::string::npos) {
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
      for (const char* place : {"/", kPrivateModuleFolder}) {
        if (void* module = ::dlopen((folder + place + name).c_str(), RTLD_NOW | RTLD_LOCAL)) {
          return module;
        }
      }
    }
  }
  return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(ModuleHandle module, const char* symbol) {
  return module != nullptr ? ::dlsym(module, symbol) : nullptr;
}

void FreeModule(ModuleHandle module) {
  if (module != nullptr) ::dlclose(module);
}

}  // namespace platform
