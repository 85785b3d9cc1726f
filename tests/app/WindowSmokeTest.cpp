// The real window on a real X server (run under xvfb-run): the program's application object,
// the main window and the about window, as the quelbarin program starts them. Checks that the
// window is mapped at its size, that what the X server shows is the window's own painting, and
// that the banner opens the about window modally and OK closes it; and, with xprop, that window
// managers are told of a normal window of fixed size with an icon, not a dialog.
#include <gtest/gtest.h>

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/MainForm.h"
#include "meters/Gauge.h"

namespace app {
namespace {

// The window's X properties as xprop prints them.
QString WindowProperties(const QWidget& window, const QStringList& names) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), QStringList{"-id", QString::number(window.winId())} + names);
  if (!xprop.waitForFinished(10000)) return {};
  return QString::fromLocal8Bit(xprop.readAllStandardOutput());
}

TEST(WindowSmoke, WindowManagersSeeANormalWindowOfFixedSize) {
  if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty()) {
    GTEST_SKIP() << "xprop is not installed (package x11-utils)";
  }
  TForm1 form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const QString properties =
      WindowProperties(form, {"_NET_WM_WINDOW_TYPE", "WM_NORMAL_HINTS", "_NET_WM_STATE"});
  SCOPED_TRACE(properties.toStdString());
  EXPECT_TRUE(properties.contains("_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_NORMAL"));
  EXPECT_FALSE(properties.contains("_NET_WM_WINDOW_TYPE_DIALOG"));
  EXPECT_TRUE(properties.contains("minimum size: 527 by 509"));
  EXPECT_TRUE(properties.contains("maximum size: 527 by 509"));
  EXPECT_FALSE(properties.contains("SKIP_TASKBAR"));
  // xprop draws the icon in characters after its size: only the size is looked at.
  const QString icon = WindowProperties(form, {"_NET_WM_ICON"});
  EXPECT_TRUE(icon.contains(QRegularExpression("Icon \\(48 x 48\\)")))
      << icon.left(60).toStdString();
  form.hide();
}

TEST(WindowSmoke, TheRealWindowShowsAndOpensTheAboutWindow) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under xvfb-run";
  // Qt's own buttons and dialogs speak Brazilian Portuguese.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancelar");
  TForm1 form;
  Tform_about about;
  form.SetAboutForm(&about);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.size(), QSize(527, 509));

  // The gauge's blue face, as the X server shows it.
  auto* gauge = form.findChild<meters::TMMGauge*>("Gauge");
  ASSERT_NE(gauge, nullptr);
  QTest::qWait(200);
  const QPoint inside = gauge->mapToGlobal(QPoint(gauge->width() - 4, gauge->height() / 2));
  const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  const QColor pixel = screen.pixelColor(inside);
  EXPECT_GT(pixel.blue(), 200) << pixel.name().toStdString();
  EXPECT_LT(pixel.red(), 60) << pixel.name().toStdString();

  // The banner opens the about window modally; OK closes it, and it opens again.
  auto* banner = form.findChild<QLabel*>("Image1");
  ASSERT_NE(banner, nullptr);
  for (int round = 0; round < 2; ++round) {
    bool sawAbout = false;
    QTimer::singleShot(300, [&] {
      sawAbout = about.isVisible() && QApplication::activeModalWidget() == &about;
      if (auto* ok = about.findChild<QPushButton*>("OKButton")) ok->click();
    });
    QTest::mouseClick(banner, Qt::LeftButton);
    EXPECT_TRUE(sawAbout) << "round " << round;
    EXPECT_FALSE(about.isVisible());
  }

  // "Sair" closes the main window, and that ends the program's event loop.
  bool timedOut = false;
  QTimer::singleShot(100, [&] { form.findChild<QPushButton*>("BitBtn3")->click(); });
  QTimer::singleShot(5000, [&] {
    timedOut = true;
    QCoreApplication::exit(1);
  });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(timedOut);
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace app

int main(int argc, char** argv) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  app::TApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
