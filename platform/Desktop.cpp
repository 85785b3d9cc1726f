#include "platform/Desktop.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

std::atomic<DesktopServices*> gServices{nullptr};  // nullptr: headless

}  // namespace

DesktopServices* SetDesktopServices(DesktopServices* services) {
  return gServices.exchange(services);
}

void ShowMessage(const std::string& text) {
  if (DesktopServices* services = gServices.load()) {
    services->ShowMessage(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

void SetBusyCursor(bool busy) {
  if (DesktopServices* services = gServices.load()) services->SetBusyCursor(busy);
}

bool OpenDocument(const std::string& address) {
  DesktopServices* services = gServices.load();
  return services != nullptr && services->OpenDocument(address);
}

}  // namespace platform
