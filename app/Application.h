// The window program's application object: the title, the program's language (Portuguese, or
// English on an English desktop, Translations.h) and the same for Qt's own dialogs,
// the dispatcher driven from Qt's loop, message boxes for the desktop services, and the
// application exception handler for exceptions that escape an event handler.
// Threading: main thread.
#pragma once

#include <QApplication>
#include <QTranslator>
#include <memory>

#include "app/QtDesktop.h"
#include "app/QtDispatcherHook.h"

namespace app {

inline constexpr const char* kApplicationTitle = "Quelbarin Decoder 1.0";

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  // Exceptions that escape an event handler are shown in a message box; the program goes on.
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  QTranslator programTranslator_;
  QTranslator qtTranslator_;
  std::unique_ptr<QtDispatcherHook> dispatcherHook_;
  std::unique_ptr<QtDesktop> desktop_;
};

}  // namespace app
