// The program's language. Its texts are written in Brazilian Portuguese, which every desktop
// language but English gets (the C and POSIX locales too); an English desktop gets the English
// translation, built from translations/quelbarin_en.ts into the program's resources.
// Threading: main thread.
#pragma once

#include <QStringList>

class QTranslator;

namespace app {

// Whether the most preferred of `uiLanguages` (as QLocale::uiLanguages lists them: "en-GB",
// "pt-BR", "C", ...) is English.
bool WantsEnglish(const QStringList& uiLanguages);

// Loads the English translation into `translator` when `uiLanguages` want it. False when they do
// not, or when it cannot be loaded: the Portuguese texts stand.
bool LoadProgramTranslation(QTranslator& translator, const QStringList& uiLanguages);

}  // namespace app
