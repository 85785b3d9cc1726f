#include "mpegdec/InstanceRegistry.h"

#include <mutex>
#include <unordered_set>

namespace mpegdec {
namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_set<const mpeg_instance*>& registry() {
  static std::unordered_set<const mpeg_instance*> instances;
  return instances;
}

}  // namespace

void InstanceRegistry::add(const mpeg_instance* instance) {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().insert(instance);
}

bool InstanceRegistry::remove(const mpeg_instance* instance) {
  std::lock_guard<std::mutex> lock(registryMutex());
  return instance && registry().erase(instance) != 0;
}

mpeg_instance* InstanceRegistry::find(MPEG_HANDLE handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::mutex> lock(registryMutex());
  return registry().count(handle) ? handle : nullptr;
}

}  // namespace mpegdec
