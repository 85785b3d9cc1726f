#include "app/AboutForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "app/JpegImage.h"
#include "meters/Colors.h"
#include "platform/Desktop.h"
#include "platform/ExceptionHandler.h"

namespace app {
namespace {

constexpr meters::TColor kPanel1Color = 12615808;  // red 128, green 128, blue 192
constexpr meters::TColor kPanel2Color = 8388672;   // red 64, green 0, blue 128
constexpr int kLinePixelSize = 16;                 // the panels' font and the scrolling lines
constexpr int kAddressPixelSize = 19;
constexpr const char* kHelpPagePath = "../share/doc/quelbarin/index.html";

// "MS Sans Serif" 8 pt: Debian has no such font, DejaVu Sans stands in.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

// "Quantas", 16 pixels high: a decorative face that Debian lacks; DejaVu Sans stands in.
QFont LineFont(bool bold = false) {
  QFont font;
  font.setFamilies({QStringLiteral("Quantas"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kLinePixelSize);
  font.setBold(bold);
  return font;
}

// Arial, 19 pixels, underlined: Liberation Sans has Arial's metrics, DejaVu Sans is always there.
QFont AddressFont() {
  QFont font;
  font.setFamilies(
      {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kAddressPixelSize);
  font.setUnderline(true);
  return font;
}

void SetColors(QWidget* widget, meters::TColor background, meters::TColor text) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, meters::ToQColor(background));
  palette.setColor(QPalette::WindowText, meters::ToQColor(text));
  widget->setPalette(palette);
}

void SetTextColor(QWidget* widget, meters::TColor text) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, meters::ToQColor(text));
  widget->setPalette(palette);
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry,
                  meters::TColor background) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setGeometry(geometry);
  panel->setAutoFillBackground(true);
  SetColors(panel, background, meters::clBlack);
  return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                  const QFont& font, meters::TColor color) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setFont(font);
  SetTextColor(label, color);
  return label;
}

// A link to the maker's page: red underlined address, hand cursor, the update hint.
QLabel* MakeAddressLabel(QWidget* parent, const char* name, const QRect& geometry) {
  QLabel* label = MakeLabel(parent, name, Tform_about::tr(kAboutAddressText), geometry,
                            AddressFont(), meters::clRed);
  label->setAlignment(Qt::AlignCenter);
  label->setCursor(Qt::PointingHandCursor);
  label->setToolTip(Tform_about::tr(kAboutLinkHint));
  label->setAccessibleName(Tform_about::tr(kAboutAddressText));
  label->setAccessibleDescription(Tform_about::tr(kAboutLinkHint));
  // The keyboard reaches the link with Tab and opens it with Enter or Space.
  label->setFocusPolicy(Qt::TabFocus);
  return label;
}

// Moves `label` to `top`, keeping its left edge.
void SetTop(QLabel* label, int top) {
  label->move(label->x(), top);
}

}  // namespace

Tform_about::Tform_about(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
  setObjectName("form_about");
  setWindowTitle(tr("About"));
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont());
  setAutoFillBackground(true);
  SetColors(this, meters::clBlack, meters::clYellow);
  CreateComponents();
  FormCreate();
}

void Tform_about::CreateComponents() {
  Panel1 =
      MakePanel(this, "Panel1", QRect(1, 1, kClientWidth - 2, kClientHeight - 2), kPanel1Color);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

  // Left half: icon, name, version, the link and the picture.
  Panel2 = MakePanel(Panel1, "Panel2", QRect(8, 8, 281, 273), kPanel2Color);
  Panel2->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  Panel2->setFont(LineFont());
  SetTextColor(Panel2, meters::clYellow);

  ProgramIcon = new QLabel(Panel2);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setGeometry(8, 8, 33, 33);
  ProgramIcon->setScaledContents(true);
  InitPictureResources();
  ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/pictures/icon.png")));

  ProductName = MakeLabel(Panel2, "ProductName", QString::fromUtf8(kAboutProductName),
                          QRect(50, 6, 225, 22), LineFont(true), meters::clYellow);
  Version = MakeLabel(Panel2, "Version", tr(kAboutVersion), QRect(50, 26, 225, 22), LineFont(),
                      meters::clYellow);
  Label1 = MakeAddressLabel(Panel2, "Label1", QRect(8, 52, 265, 26));

  Image3 = new QLabel(Panel2);
  Image3->setObjectName("Image3");
  Image3->setGeometry(2, 84, 277, 187);
  Image3->setScaledContents(true);
  try {
    Image3->setPixmap(QPixmap::fromImage(LoadJpegResource(QStringLiteral(":/pictures/about.jpg"))));
  } catch (...) {
    platform::HandleException(std::current_exception());
  }

  OKButton = new QPushButton(tr("OK"), Panel1);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(8, 285, 561, 34);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &Tform_about::OKButtonClick);

  // Right half: the maker's lines, scrolling.
  Panel3 = MakePanel(Panel1, "Panel3", QRect(288, 8, 281, 274), meters::clBlack);
  Panel3->setFrameStyle(QFrame::Box | QFrame::Plain);
  Panel3->setLineWidth(1);
  const QRect line(8, 0, Panel3->width() - 16, 22);
  sistemas = MakeLabel(Panel3, "sistemas", QString::fromUtf8(kAboutMakerLine), line, LineFont(),
                       meters::clYellow);
  cidade = MakeLabel(Panel3, "cidade", QString::fromUtf8(kAboutLocationLine),
                     line.adjusted(0, 0, 0, 18), LineFont(), meters::clYellow);
  cidade->setWordWrap(true);
  Label2 = MakeAddressLabel(Panel3, "Label2", line.adjusted(0, 0, 0, 4));
  Label3 = MakeLabel(Panel3, "Label3", tr(kAboutThanksLine), line, LineFont(), meters::clYellow);
  for (QLabel* label : {sistemas, cidade, Label3}) label->setAlignment(Qt::AlignCenter);

  for (QLabel* link : {Label1, Label2}) link->installEventFilter(this);
  // The scrolling copy of the link stays out of the Tab chain: the fixed one does the same.
  Label2->setFocusPolicy(Qt::NoFocus);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kScrollIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &Tform_about::Timer1Timer);
}

void Tform_about::FormCreate() {
  SetColors(Panel3, meters::clBlack, meters::clBlack);
  // All four lines start below the visible part of the panel.
  SetTop(sistemas, Panel3->height());
  SetTop(cidade, sistemas->y() + kCidadeOffset);
  SetTop(Label2, sistemas->y() + kLabel2Offset);
  SetTop(Label3, sistemas->y() + kLabel3Offset);
  Timer1->start();
}

void Tform_about::Timer1Timer() {
  if (sistemas->y() <= 1) SetTop(sistemas, Panel3->height());
  if (cidade->y() <= 1) SetTop(cidade, sistemas->y() + kCidadeOffset);
  if (Label2->y() <= 1) SetTop(Label2, sistemas->y() + kLabel2Offset);
  if (Label3->y() <= 1) SetTop(Label3, sistemas->y() + kLabel3Offset);
  for (QLabel* label : {sistemas, cidade, Label2, Label3}) SetTop(label, label->y() - 1);
}

QString Tform_about::HelpPageAddress() {
  const QString path =
      QDir::cleanPath(QCoreApplication::applicationDirPath() + '/' + QLatin1String(kHelpPagePath));
  return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

void Tform_about::Label1Click() {
  // The outcome is not examined: a desktop without a browser simply opens nothing.
  platform::OpenDocument(HelpPageAddress().toStdString());
}

void Tform_about::OKButtonClick() {
  accept();
}

void Tform_about::showEvent(QShowEvent* event) {
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  QDialog::showEvent(event);
}

bool Tform_about::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == Label1 || watched == Label2) && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
      Label1Click();
      return true;
    }
  }
  if ((watched == Label1 || watched == Label2) && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const auto* label = static_cast<QLabel*>(watched);
    if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
      Label1Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace app
