#include "app/Translations.h"

#include <QTranslator>

namespace app {
namespace {

// Where CMake puts the English translation among the program's resources.
constexpr const char* kEnglishTranslation = ":/translations/quelbarin_en.qm";

}  // namespace

bool WantsEnglish(const QStringList& uiLanguages) {
  if (uiLanguages.isEmpty()) return false;
  const QString first = uiLanguages.first().toLower();
  return first.startsWith(QLatin1String("en")) &&
         (first.size() == 2 || first.at(2) == '-' || first.at(2) == '_');
}

bool LoadProgramTranslation(QTranslator& translator, const QStringList& uiLanguages) {
  return WantsEnglish(uiLanguages) && translator.load(QString::fromLatin1(kEnglishTranslation));
}

}  // namespace app
