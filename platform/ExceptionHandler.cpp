#include "platform/ExceptionHandler.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::atomic<ErrorReporter*> gReporter{nullptr};  // nullptr: print to stderr

void PrintToStderr(const std::string& text) {
  static std::mutex mutex;  // keeps reports from several threads on separate lines
  std::lock_guard lock(mutex);
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

ErrorReporter* SetErrorReporter(ErrorReporter* reporter) {
  return gReporter.exchange(reporter);
}

std::string ExceptionMessage(const std::exception_ptr& error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

void HandleException(const std::exception_ptr& error) noexcept {
  if (!error) return;
  try {
    ShowErrorMessage(ExceptionMessage(error));
  } catch (...) {
    // Nowhere left to report to; the program goes on.
  }
}

void ShowErrorMessage(const std::string& text) noexcept {
  try {
    if (ErrorReporter* reporter = gReporter.load()) {
      reporter->ShowError(text);
    } else {
      PrintToStderr(text);
    }
  } catch (...) {
    // Nowhere left to report to; the program goes on.
  }
}

}  // namespace platform
