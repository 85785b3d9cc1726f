// Test stand-in for the user at the desktop: records the message boxes and error boxes the
// window would show (instead of blocking on them), the busy cursor and the documents opened.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/ExceptionHandler.h"

namespace app::test {

class RecordingDesktop : public platform::DesktopServices, public platform::ErrorReporter {
 public:
  RecordingDesktop()
      : previousServices_(platform::SetDesktopServices(this)),
        previousReporter_(platform::SetErrorReporter(this)) {}
  ~RecordingDesktop() override {
    platform::SetDesktopServices(previousServices_);
    platform::SetErrorReporter(previousReporter_);
  }

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void SetBusyCursor(bool busy) override { busyDepth += busy ? 1 : -1; }
  bool OpenDocument(const std::string& address) override {
    documents.push_back(address);
    return true;
  }
  // Errors may come from a worker thread.
  void ShowError(const std::string& text) override {
    std::lock_guard lock(mutex_);
    errors_.push_back(text);
  }
  std::vector<std::string> Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
  }

  std::vector<std::string> messages;
  std::vector<std::string> documents;
  int busyDepth = 0;

 private:
  platform::DesktopServices* previousServices_;
  platform::ErrorReporter* previousReporter_;
  mutable std::mutex mutex_;
  std::vector<std::string> errors_;
};

}  // namespace app::test
