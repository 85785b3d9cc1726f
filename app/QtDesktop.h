// The desktop services and the error reporter of the window program, on Qt: message boxes with
// the application's title and their texts in the desktop's language (MessageText.h), the
// hourglass as an override cursor, and the desktop's "open".
// Threading: ShowMessage, SetBusyCursor and OpenDocument on the main thread; ShowError from any
// thread (from a worker it hands the box to the main thread and returns at once).
#pragma once

#include <QString>

#include "platform/Desktop.h"
#include "platform/ExceptionHandler.h"

namespace app {

class QtDesktop : public platform::DesktopServices, public platform::ErrorReporter {
 public:
  // Installs itself as the desktop services and the error reporter; the destructor uninstalls.
  // `title` is the caption of its message boxes.
  explicit QtDesktop(QString title);
  ~QtDesktop() override;
  QtDesktop(const QtDesktop&) = delete;
  QtDesktop& operator=(const QtDesktop&) = delete;

  void ShowMessage(const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  bool OpenDocument(const std::string& address) override;
  void ShowError(const std::string& text) override;

 private:
  QString title_;
  platform::DesktopServices* previousServices_ = nullptr;  // not owned
  platform::ErrorReporter* previousReporter_ = nullptr;    // not owned
  int busyDepth_ = 0;
};

}  // namespace app
