// The main window's test fixture: a temporary settings folder, a source folder with two MP3
// files, a destination folder, and helpers that click the window's components by their designer
// names and wait for a conversion to end.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/Funcoes.h"
#include "app/MainForm.h"
#include "app/Outline.h"
#include "app/QtDispatcherHook.h"
#include "meters/Gauge.h"
#include "tests/app/RecordingDesktop.h"

namespace app::test {

inline const QString kFixtures = QStringLiteral(QD_MP3_FIXTURES);
inline constexpr int kConversionTimeoutMs = 60000;

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("XDG_CONFIG_HOME", dir_.filePath("config").toLocal8Bit());
    source_ = dir_.filePath("Musica");
    destination_ = dir_.filePath("Saida") + "/";
    ASSERT_TRUE(QDir().mkpath(source_));
    ASSERT_TRUE(QDir().mkpath(destination_));
    for (const char* name : {"cbr44_joint.mp3", "vbr16_mono.mp3"}) {
      ASSERT_TRUE(QFile::copy(kFixtures + "/" + name, source_ + "/" + name));
    }
  }

  void StoreFolders() {
    GravarRegistro(kSettingsKey, "Origem", source_.toStdString(), kKindString);
    GravarRegistro(kSettingsKey, "Destino", destination_.toStdString(), kKindString);
  }

  std::unique_ptr<TForm1> OpenWindow() {
    auto form = std::make_unique<TForm1>();
    form->show();
    return form;
  }

  template <class T>
  static T* Find(TForm1& form, const char* name) {
    T* widget = form.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  static void ClickLine(TForm1& form, const char* tree, const QString& line) {
    auto* outline = Find<TOutline>(form, tree);
    const QList<QTreeWidgetItem*> items = outline->findItems(line, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << line.toStdString();
    QTest::mouseClick(outline->viewport(), Qt::LeftButton, {},
                      outline->visualItemRect(items.front()).center());
  }

  // Clicks "Converter" and waits until the window is idle again; returns the gauge captions
  // seen meanwhile.
  static std::vector<QString> Convert(TForm1& form) {
    auto* gauge = Find<meters::TMMGauge>(form, "Gauge");
    std::vector<QString> captions;
    const auto record = [&] {
      if (captions.empty() || captions.back() != gauge->Caption()) {
        captions.push_back(gauge->Caption());
      }
    };
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, record);
    watcher.start(0);
    QTest::mouseClick(Find<QPushButton>(form, "Button1"), Qt::LeftButton);
    record();  // the run's stop comes through the event loop, which has not run yet
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Busy(); }, kConversionTimeoutMs));
    watcher.stop();
    record();
    return captions;
  }

  QString ConvertWithCommandLine(const QString& mp3) {
    const QString out = dir_.filePath("cli");
    QProcess process;
    process.start(QStringLiteral(QD_CONVERT_PROGRAM), {"-q", "-o", out, "--", mp3});
    EXPECT_TRUE(process.waitForFinished(kConversionTimeoutMs));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return out + "/" + QFileInfo(mp3).completeBaseName() + ".WAV";
  }

  QTemporaryDir dir_;
  // The trigger's stop message reaches the window through the dispatcher inside Qt's loop, as
  // in the program.
  QtDispatcherHook dispatcherHook_;
  QString source_;
  QString destination_;
  test::RecordingDesktop desktop_;
};

}  // namespace app::test
