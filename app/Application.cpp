#include "app/Application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <exception>

#include "app/Translations.h"
#include "platform/ExceptionHandler.h"

namespace app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("quelbarin");
  // The title is not set as Qt's display name, which Qt would append to every window caption;
  // it captions the message boxes instead.
  setDesktopFileName("quelbarin");
  // An English desktop gets the window in English and Qt's own texts as they are (English);
  // every other gets the window in Brazilian Portuguese, and Qt's buttons and dialogs too.
  if (LoadProgramTranslation(programTranslator_, QLocale::system().uiLanguages())) {
    installTranslator(&programTranslator_);
  } else {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    if (qtTranslator_.load(QLocale(QLocale::Portuguese, QLocale::Brazil), "qtbase", "_",
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      installTranslator(&qtTranslator_);
    }
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
