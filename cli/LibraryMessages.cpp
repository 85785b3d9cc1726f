#include "cli/LibraryMessages.h"

#include <cstdio>
#include <mutex>

#include "cli/Options.h"
#include "platform/ExceptionHandler.h"

namespace cli {
namespace {

thread_local std::vector<std::string>* tMessages = nullptr;

class Reporter : public platform::ErrorReporter {
 public:
  void ShowError(const std::string& text) override {
    if (tMessages != nullptr) {
      tMessages->push_back(text);
      return;
    }
    std::fprintf(stderr, "%s: %s\n", kProgramName, text.c_str());
  }
};

}  // namespace

void InstallLibraryMessageReporter() {
  static Reporter reporter;
  static std::once_flag once;
  std::call_once(once, [] { platform::SetErrorReporter(&reporter); });
}

LibraryMessageCapture::LibraryMessageCapture() : previous_(tMessages) {
  tMessages = &messages_;
}

LibraryMessageCapture::~LibraryMessageCapture() {
  tMessages = previous_;
}

}  // namespace cli
