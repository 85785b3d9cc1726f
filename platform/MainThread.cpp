#include "platform/MainThread.h"

namespace platform {
namespace {
// Static initialisation runs on the thread that then enters main().
const std::thread::id gMainThreadId = std::this_thread::get_id();
}  // namespace

std::thread::id MainThreadId() {
  return gMainThreadId;
}
bool IsMainThread() {
  return std::this_thread::get_id() == gMainThreadId;
}

}  // namespace platform
