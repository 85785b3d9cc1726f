#include "app/Application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <exception>

#include "platform/ExceptionHandler.h"

namespace app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("quelbarin");
  // The title is not set as Qt's display name, which Qt would append to every window caption;
  // it captions the message boxes instead.
  setDesktopFileName("quelbarin");
  // The window speaks Brazilian Portuguese, and so do Qt's own buttons and dialogs.
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  if (qtTranslator_.load(QLocale(QLocale::Portuguese, QLocale::Brazil), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&qtTranslator_);
  }
  dispatcherHook_ = std::make_unique<QtDispatcherHook>();
  desktop_ = std::make_unique<QtDesktop>(kApplicationTitle);
}

TApplication::~TApplication() = default;

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    platform::HandleException(std::current_exception());
    return true;
  }
}

}  // namespace app
