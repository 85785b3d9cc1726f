// The main window from the keyboard, as a screen reader's user works it: every control in the Tab
// chain has an accessible name, Tab walks the work in order, and a file is chosen, converted and
// the about window opened without the mouse.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/Funcoes.h"
#include "app/MainForm.h"
#include "app/QtDispatcherHook.h"
#include "tests/app/RecordingDesktop.h"

namespace app {
namespace {

// Presses Tab until `name` has the focus, at most once around the chain; false if it never does.
bool TabTo(const char* name) {
  for (int i = 0; i < 20; ++i) {
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && focus->objectName() == name) return true;
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  return false;
}

TEST(WindowKeyboard, ConvertsAFileAndOpensTheAboutWindowWithoutTheMouse) {
  QTemporaryDir dir;
  qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
  const QString source = dir.filePath("Musica");
  const QString destination = dir.filePath("Saida") + "/";
  ASSERT_TRUE(QDir().mkpath(source));
  ASSERT_TRUE(QDir().mkpath(destination));
  ASSERT_TRUE(QDir().mkpath(source + "/Album"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QD_MP3_FIXTURES "/vbr16_mono.mp3"),
                          source + "/Album/vbr16_mono.mp3"));
  GravarRegistro(kSettingsKey, "Origem", source.toStdString(), kKindString);
  GravarRegistro(kSettingsKey, "Destino", destination.toStdString(), kKindString);
  QtDispatcherHook dispatcherHook;
  test::RecordingDesktop desktop;
  QDialog about;
  TForm1 form;
  form.SetAboutForm(&about);
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

  for (QWidget* widget : form.findChildren<QWidget*>()) {
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->isVisibleTo(&form)) {
      EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
    }
  }

  // Idle with nothing chosen: the disabled buttons are left out of the walk.
  form.findChild<QWidget*>("DriveComboBox1")->setFocus(Qt::TabFocusReason);
  QStringList walk;
  for (int i = 0; i < 10; ++i) {
    walk << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(walk.join(' ').toStdString(),
            "DriveComboBox1 DirectoryListBox1 Outline1 edit button CheckBox1 Outline2 Image1 "
            "BitBtn3 DriveComboBox1");

  // The folder list: Enter on the subfolder (the last line) opens it and lists its file.
  ASSERT_TRUE(TabTo("DirectoryListBox1"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  auto* sourceTree = form.findChild<QTreeWidget*>("Outline1");
  ASSERT_NE(sourceTree, nullptr);
  ASSERT_EQ(sourceTree->topLevelItemCount(), 1);
  EXPECT_EQ(sourceTree->topLevelItem(0)->text(0).toStdString(), "vbr16_mono.mp3");

  // The source tree: Space chooses the item the focus arrived on, which enables "Converter".
  ASSERT_TRUE(TabTo("Outline1"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  auto* convert = form.findChild<QPushButton*>("Button1");
  ASSERT_TRUE(convert->isEnabled());
  ASSERT_TRUE(TabTo("Button1"));
  QTest::keyClick(convert, Qt::Key_Space);
  EXPECT_TRUE(form.Busy());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Busy(); }, 60000));
  EXPECT_TRUE(QFile::exists(destination + "vbr16_mono.WAV"));
  EXPECT_TRUE(desktop.messages.empty());
  EXPECT_TRUE(desktop.Errors().empty());

  // The banner opens the about window with Enter.
  bool sawAbout = false;
  QTimer::singleShot(100, [&] {
    sawAbout = about.isVisible();
    about.accept();
  });
  ASSERT_TRUE(TabTo("Image1"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(sawAbout);
}

}  // namespace
}  // namespace app
