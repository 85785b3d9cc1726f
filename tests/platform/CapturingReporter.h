// Test helper: an ErrorReporter that records what it is shown, installed for its lifetime.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/ExceptionHandler.h"

namespace platform::test {

class CapturingReporter : public ErrorReporter {
 public:
  CapturingReporter() : previous_(SetErrorReporter(this)) {}
  ~CapturingReporter() override { SetErrorReporter(previous_); }

  void ShowError(const std::string& text) override {
    std::lock_guard lock(mutex_);
    texts_.push_back(text);
  }
  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  ErrorReporter* previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

}  // namespace platform::test
