// The desktop services the application uses besides error boxes: plain message boxes, the busy
// (hourglass) cursor and opening a document or address with the user's preferred program.
// Threading: main thread. The GUI installs an implementation; headless programs keep the
// default, which prints messages to stderr, ignores the cursor and opens nothing.
#pragma once

#include <string>

namespace platform {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;
  // A message box with `text` and an OK button; returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  // The hourglass (true) or the default cursor (false) over the whole application.
  virtual void SetBusyCursor(bool busy) = 0;
  // Opens `address` (a URL or a file path) as the desktop's "open" verb would; false when no
  // program took it.
  virtual bool OpenDocument(const std::string& address) = 0;
};

// Installs `services` (not owned; nullptr restores the headless default) and returns the
// previous one.
DesktopServices* SetDesktopServices(DesktopServices* services);

void ShowMessage(const std::string& text);
void SetBusyCursor(bool busy);
bool OpenDocument(const std::string& address);

}  // namespace platform
