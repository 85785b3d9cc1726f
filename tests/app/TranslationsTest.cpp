// The program's language: which desktops get the English translation, and the message-box
// layer's translation of whole messages and of messages around a file name.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

#include "app/MainForm.h"
#include "app/MessageText.h"
#include "app/Translations.h"

namespace app {
namespace {

TEST(Translations, EnglishOnlyWhenTheFirstLanguageIsEnglish) {
  struct Row {
    QStringList languages;
    bool english;
  };
  const Row rows[] = {
      {{"en"}, true},
      {{"en-GB", "en-Latn-GB", "fr"}, true},
      {{"en_US"}, true},
      {{"pt-BR", "en-US"}, false},
      {{"fr-FR", "en"}, false},
      {{"C"}, false},
      {{"eo"}, false},
      {{"enx"}, false},
      {{}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.languages.join(',').toStdString());
    EXPECT_EQ(WantsEnglish(row.languages), row.english);
    QTranslator translator;
    EXPECT_EQ(LoadProgramTranslation(translator, row.languages), row.english);
    EXPECT_EQ(translator.isEmpty(), !row.english);
  }
}

TEST(Translations, MessagesKeepTheirFileNamesAndTheSystemsReason) {
  struct Row {
    const char* text;
    const char* english;
  };
  const Row rows[] = {
      {kFolderMissingMessage, "The destination folder does not exist - please check!"},
      {"Erro gravando \"/música/a.WAV\": No space left on device",
       "Error writing \"/música/a.WAV\": No space left on device"},
      {"Não foi possível substituir \"/x/%2.WAV\" pelo arquivo normalizado",
       "Could not replace \"/x/%2.WAV\" with the normalized file"},
      {"Erro lendo \"/x/b.WAV\": os dados terminam antes do esperado",
       "Error reading \"/x/b.WAV\": the data ends early"},
      // Texts the translation does not know stay as they are.
      {"Invalid wave format", "Invalid wave format"},
      {"Erro gravando sem aspas", "Erro gravando sem aspas"},
  };
  QTranslator english;
  ASSERT_TRUE(LoadProgramTranslation(english, {"en"}));
  for (const Row& row : rows) {
    const QString text = QString::fromUtf8(row.text);
    EXPECT_EQ(TranslateMessage(text), text) << "no translator installed";
    ASSERT_TRUE(QCoreApplication::installTranslator(&english));
    EXPECT_EQ(TranslateMessage(text), QString::fromUtf8(row.english));
    QCoreApplication::removeTranslator(&english);
  }
}

}  // namespace
}  // namespace app
