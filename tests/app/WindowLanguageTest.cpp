// The window in the desktop's language: the program's application object started with LANGUAGE
// set as the command line says (--language=en, pt_BR, C...), as the quelbarin program starts.
// English desktops get the window's captions and messages in English and Qt's own texts
// untranslated; every other language, the C locale's included, gets the Portuguese texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstring>

#include "app/Application.h"
#include "app/DirectoryEdit.h"
#include "app/Funcoes.h"
#include "app/MainForm.h"
#include "app/Outline.h"
#include "meters/Gauge.h"

namespace app {
namespace {

QString gLanguage;

bool English() {
  return gLanguage.startsWith(QLatin1String("en"));
}

QString Expected(const char* portuguese, const char* english) {
  return QString::fromUtf8(English() ? english : portuguese);
}

TEST(WindowLanguage, CaptionsAndMessagesFollowTheDesktop) {
  SCOPED_TRACE(gLanguage.toStdString());
  QTemporaryDir dir;
  const QString source = dir.filePath("Musica");
  ASSERT_TRUE(QDir().mkpath(source));
  ASSERT_TRUE(
      QFile::copy(QStringLiteral(QD_MP3_FIXTURES "/cbr44_joint.mp3"), source + "/cbr44_joint.mp3"));
  GravarRegistro(kSettingsKey, "Origem", source.toStdString(), kKindString);
  GravarRegistro(kSettingsKey, "Destino", dir.path().toStdString() + "/", kKindString);
  // Every message box the window opens: its text is kept and the box closed.
  QStringList shown;
  QTimer boxes;
  QObject::connect(&boxes, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown << box->text();
      box->accept();
    }
  });
  boxes.start(20);

  TForm1 form;
  form.show();
  EXPECT_EQ(form.findChild<QPushButton*>("Button1")->text(), Expected("Converter", "Convert"));
  EXPECT_EQ(form.findChild<QLabel*>("Label3")->text(), Expected("Salvar em:", "Save in:"));
  EXPECT_EQ(form.findChild<meters::TMMGauge*>("Gauge")->Caption(), "Quelbarin Status");
  EXPECT_EQ(form.findChild<QPushButton*>("BitBtn1")->accessibleName(), Expected("Ouvir", "Play"));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
            Expected("Cancelar", "Cancel"));

  // "Converter" with a destination folder that does not exist: the window's message box.
  auto* tree = form.findChild<TOutline*>("Outline1");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                    tree->visualItemRect(tree->topLevelItem(0)).center());
  EXPECT_EQ(form.findChild<QLabel*>("Label2")->text(),
            Expected("Origem:", "Source:") + source + "/cbr44_joint.mp3");
  form.findChild<TDirectoryEdit*>("DirectoryEdit1")->SetText(dir.filePath("gone/"));
  QTest::mouseClick(form.findChild<QPushButton*>("Button1"), Qt::LeftButton);
  EXPECT_EQ(shown, QStringList{Expected("Pasta Destino não existe - Verifique !!!",
                                        "The destination folder does not exist - please check!")});
}

}  // namespace
}  // namespace app

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--language=", 11) == 0) app::gLanguage = argv[i] + 11;
  }
  if (app::gLanguage.isEmpty()) {
    std::fprintf(stderr, "usage: %s --language=LANGUAGE (en, pt_BR, C...)\n", argv[0]);
    return 2;
  }
  qputenv("LANGUAGE", app::gLanguage.toLocal8Bit());
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QD_WAVE_DEVICE")) qputenv("QD_WAVE_DEVICE", "null");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  app::TApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
