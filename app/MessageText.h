// The texts of the message boxes in the desktop's language. Messages travel as the program's own
// Portuguese texts or as the libraries' texts; the message-box layer translates each one just
// before it shows it, in the translation context "Messages": a whole text that the translation
// lists, or a text built from one of the known patterns around a file name, whose name (and the
// system's reason after it, if any) are kept as they are.
// Threading: main thread (reads the installed translators).
#pragma once

#include <QString>

namespace app {

inline constexpr const char* kMessageContext = "Messages";

// `text` in the current language; unchanged when no translation covers it.
QString TranslateMessage(const QString& text);

}  // namespace app
