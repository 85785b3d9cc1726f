// The about window: its panels and pictures, the endless scroll of the maker's lines, OK and
// Enter, showing it again, and the links to the help page.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <array>

#include "app/AboutForm.h"
#include "tests/app/RecordingDesktop.h"

namespace {

template <class T = QWidget>
T* Find(const QWidget& form, const char* name) {
  T* child = form.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

TEST(AboutForm, PanelsAndPicturesAreInPlace) {
  app::Tform_about form;
  EXPECT_EQ(form.objectName(), "form_about");
  EXPECT_EQ(form.size(), QSize(579, 327));
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  auto* ok = Find<QPushButton>(form, "OKButton");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->size(), QSize(561, 34));
  // The pictures came out of the resources.
  EXPECT_FALSE(Find<QLabel>(form, "ProgramIcon")->pixmap().isNull());
  EXPECT_EQ(Find<QLabel>(form, "Image3")->pixmap().size(), QSize(277, 187));
  for (const char* link : {"Label1", "Label2"}) {
    EXPECT_EQ(Find(form, link)->toolTip(), "Atualize seu software");
    EXPECT_EQ(Find(form, link)->cursor().shape(), Qt::PointingHandCursor);
  }

  // Colours at logical points, whatever the scale factor.
  const QImage shot = form.grab().toImage();
  const auto at = [&shot](int x, int y) {
    return shot.pixelColor((QPointF(x, y) * shot.devicePixelRatio()).toPoint());
  };
  EXPECT_EQ(at(4, 160), QColor(128, 128, 192));  // Panel1
  EXPECT_EQ(at(12, 40), QColor(64, 0, 128));     // Panel2, beside its icon
  EXPECT_EQ(at(400, 60), QColor(Qt::black));     // Panel3, its lines still below
}

// Steps the timer and checks every label against the scroll rule at each step: a line whose top
// is 1 or less re-enters below at its distance from `sistemas`, any other moves up 1 pixel.
TEST(AboutForm, LinesScrollAndReenterAtTheirDistances) {
  app::Tform_about form;
  const QWidget* panel = Find(form, "Panel3");
  const std::array<QWidget*, 4> lines = {Find(form, "sistemas"), Find(form, "cidade"),
                                         Find(form, "Label2"), Find(form, "Label3")};
  const std::array<int, 4> offsets = {0, 30, 70, 110};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i]->y(), panel->height() + offsets[i]);

  std::array<int, 4> wraps{};
  for (int step = 0; step < 1500; ++step) {
    std::array<int, 4> before{};
    for (int i = 0; i < 4; ++i) before[i] = lines[i]->y();
    form.Timer1Timer();
    const int top = lines[0]->y();
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(testing::Message() << "step " << step << ", line " << i);
      if (before[i] <= 1) {
        ++wraps[i];
        const int reentry = i == 0 ? panel->height() - 1 : top + offsets[i];
        ASSERT_EQ(lines[i]->y(), reentry);
      } else {
        ASSERT_EQ(lines[i]->y(), before[i] - 1);
      }
    }
  }
  for (int i = 0; i < 4; ++i) EXPECT_GE(wraps[i], 4) << "line " << i;
}

TEST(AboutForm, ScrollsWhileHidden) {
  app::Tform_about form;
  QWidget* sistemas = Find(form, "sistemas");
  const int start = sistemas->y();
  ASSERT_FALSE(form.isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(sistemas->y() < start, 5000);
}

TEST(AboutForm, OkAndEnterCloseAndTheWindowShowsAgain) {
  app::Tform_about form;
  auto* ok = Find<QPushButton>(form, "OKButton");
  QTimer::singleShot(0, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
  EXPECT_EQ(form.exec(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());

  QTimer::singleShot(0, &form, [&form] {
    ASSERT_TRUE(form.isVisible());
    QTest::keyClick(&form, Qt::Key_Return);
  });
  EXPECT_EQ(form.exec(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
}

TEST(AboutForm, AddressLabelsOpenTheHelpPage) {
  app::test::RecordingDesktop desktop;
  app::Tform_about form;
  QTest::mouseClick(Find(form, "sistemas"), Qt::LeftButton);
  EXPECT_TRUE(desktop.documents.empty());
  QTest::mouseClick(Find(form, "Label1"), Qt::LeftButton);
  QTest::mouseClick(Find(form, "Label2"), Qt::LeftButton);

  ASSERT_EQ(desktop.documents.size(), 2u);
  EXPECT_EQ(desktop.documents[0], desktop.documents[1]);
  const QUrl url(QString::fromStdString(desktop.documents[0]));
  EXPECT_EQ(url.scheme(), "file");
  // The build copies the page beside bin/ as it is installed.
  EXPECT_TRUE(QFileInfo(url.toLocalFile()).isFile()) << desktop.documents[0];
  EXPECT_TRUE(url.toLocalFile().endsWith("/share/doc/quelbarin/index.html"));
}

}  // namespace
