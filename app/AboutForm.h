// The about window: product name and version, the program icon and picture, a link to the
// maker's page (the program's own help page) and the maker's lines scrolling upward without end
// in the right-hand panel. Created once at start-up and shown modally as often as the banner
// is clicked; "OK" or Enter hides it again.
// Threading: main thread only (construction, the scroll timer, the handlers).
#pragma once

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace app {

// The window's texts; it translates them as it sets them (the maker's name and address stay).
inline constexpr const char* kAboutProductName = "Quelbarin Pelvaronix";
inline constexpr const char* kAboutVersion = QT_TRANSLATE_NOOP("app::Tform_about", "Versão 1.0");
inline constexpr const char* kAboutLinkHint =
    QT_TRANSLATE_NOOP("app::Tform_about", "Atualize seu software");
inline constexpr const char* kAboutMakerLine = "Pelvaronix Sistemas Ltda.";
inline constexpr const char* kAboutLocationLine =
    "Av. das Frequências, 44100\nVila Amostragem · Brasil";
inline constexpr const char* kAboutAddressText =
    QT_TRANSLATE_NOOP("app::Tform_about", "Manual do Quelbarin");
inline constexpr const char* kAboutThanksLine =
    QT_TRANSLATE_NOOP("app::Tform_about", "Obrigado pela preferência!");

class Tform_about : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 579;
  static constexpr int kClientHeight = 327;
  static constexpr int kScrollIntervalMs = 100;
  // Distances of the scrolling lines below `sistemas`.
  static constexpr int kCidadeOffset = 30;
  static constexpr int kLabel2Offset = 70;
  static constexpr int kLabel3Offset = 110;

  explicit Tform_about(QWidget* parent = nullptr);

  // The maker's page: the help page installed with the program,
  // file://<folder of the executable>/../share/doc/quelbarin/index.html (path cleaned).
  static QString HelpPageAddress();

 public slots:
  // One scroll step (every 100 ms from creation, shown or not): a line whose top has reached 1
  // or less re-enters below, at its distance from `sistemas`; then every line moves up 1 pixel.
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateComponents();
  void FormCreate();
  void Label1Click();
  void OKButtonClick();

  // Children, owned by Qt's parent chain.
  QFrame* Panel1 = nullptr;
  QFrame* Panel2 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QPushButton* OKButton = nullptr;
  QLabel* Label1 = nullptr;
  QTimer* Timer1 = nullptr;
  QFrame* Panel3 = nullptr;
  QLabel* sistemas = nullptr;
  QLabel* cidade = nullptr;
  QLabel* Image3 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
};

}  // namespace app
