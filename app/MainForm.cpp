#include "app/MainForm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPalette>
#include <QScreen>
#include <QShowEvent>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <exception>

#include "app/DefaultFolders.h"
#include "app/DirectoryEdit.h"
#include "app/DirectoryListBox.h"
#include "app/DriveComboBox.h"
#include "app/FileListBox.h"
#include "app/Funcoes.h"
#include "app/JpegImage.h"
#include "app/NameRules.h"
#include "app/Outline.h"
#include "meters/Colors.h"
#include "meters/Connector.h"
#include "meters/Gauge.h"
#include "meters/Level.h"
#include "platform/Desktop.h"
#include "platform/ExceptionHandler.h"
#include "platform/MainThread.h"
#include "platform/PartialFile.h"
#include "playback/AudioPlayer.h"
#include "sources/AudioFile.h"
#include "stream/Component.h"
#include "stream/Trigger.h"
#include "wave/WaveFile.h"

namespace app {
namespace {

// The level meters beside the play and stop buttons.
constexpr int kMeterLeft = 50;
constexpr int kMeterWidth = 132;
constexpr int kMeterHeight = 10;

// The font of the classic window, "MS Sans Serif" 8 pt, on a Linux desktop.
QFont WindowFont(bool bold = false) {
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  font.setBold(bold);
  return font;
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setGeometry(geometry);
  return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setFont(WindowFont(true));
  label->setGeometry(geometry);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setCursor(Qt::PointingHandCursor);
  button->setGeometry(geometry);
  return button;
}

// A tree below its panel's label, with the leaf picture of its items.
TOutline* MakeTree(QFrame* panel, const char* name, const QString& leafPicture) {
  auto* tree = new TOutline(panel);
  tree->setObjectName(name);
  tree->setGeometry(6, 21, 499, 97);
  tree->SetLeafPicture(QPixmap(leafPicture));
  return tree;
}

void SetBaseColor(QWidget* widget, meters::TColor color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, meters::ToQColor(color));
  widget->setPalette(palette);
}

// Enter, Return or Space: the keys that press the banner like a button.
bool IsPressKey(QEvent* event) {
  const int key = static_cast<QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

// Runs a handler; an exception it raises goes to the application exception handler.
template <class Handler>
void Guarded(Handler&& handler) {
  try {
    handler();
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

// Applies one stored setting; when reading or applying it fails, the failure is reported and
// `fallback` (its default) applied instead, so it costs no other setting.
template <class Apply, class Fallback>
void ApplySetting(Apply&& apply, Fallback&& fallback) {
  try {
    apply();
  } catch (...) {
    platform::HandleException(std::current_exception());
    Guarded(fallback);
  }
}

// Whether `path` names a regular file (or a link to one).
bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

QString WithFileName(const char* text, const std::string& path) {
  return QString::fromUtf8(text).arg(DisplayName(path));
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), owner_(std::make_unique<stream::TComponent>(nullptr)) {
  setObjectName("Form1");
  setWindowTitle(tr("Quelbarin Decoder 1.0 - MP3 -> WAV"));
  // A normal top-level window (its own taskbar entry and place in the window switcher) with a
  // fixed border: no resizing, no minimise or maximise box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // The first window is the program's main window: closing it ends the program.
  setAttribute(Qt::WA_QuitOnClose);
  InitPictureResources();
  QIcon icon;
  for (const int size : {48, 128, 256}) {
    icon.addFile(QStringLiteral(":/pictures/quelbarin-%1.png").arg(size), QSize(size, size));
  }
  setWindowIcon(icon);
  setFont(WindowFont());
  setFixedSize(kClientWidth, kClientHeight);
  CreateComponents();
  LayOut();
  SetUpAccess();
  Wire();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  // The preview and a conversion that is still running end before their components go.
  play->OnStart = nullptr;
  play->OnStop = nullptr;
  Guarded([this] { play->StopPlayback(); });
  MMConnector1->SetLevel1(nullptr);
  MMConnector1->SetLevel2(nullptr);
  Guarded([this] {
    if (!Trigger_->HasState(stream::TMMTrigger::tsClosed)) Trigger_->Close();
  });
  Trigger_->SetInput(nullptr);
  Trigger_->SetOutput(nullptr);
}

void TForm1::CreateComponents() {
  SrcFile_ = new wave::TMMWaveFile(owner_.get());
  SrcFile_->SetName("SrcFile");
  SrcFile_->Wave()->SetTimeFormat(stream::tfByte);
  DstFile_ = new wave::TMMWaveFile(owner_.get());
  DstFile_->SetName("DstFile");
  DstFile_->Wave()->SetTimeFormat(stream::tfByte);
  AudioFile_ = new sources::TMMAudioFile(owner_.get());
  AudioFile_->SetName("AudioFile");
  AudioFile_->SetMpegTrailingHeader(0);
  Trigger_ = new stream::TMMTrigger(owner_.get());
  Trigger_->SetName("Trigger");
  Trigger_->SetBufferSize(kConversionBufferSize);
  WaveFile_ = new wave::TMMWaveFile(owner_.get());
  WaveFile_->SetName("WaveFile");
  WaveFile_->Wave()->SetFileMustExist(false);
  Trigger_->SetInput(AudioFile_);
  Trigger_->SetOutput(WaveFile_);
  NormalizeHost& host = *this;
  pass_ = std::make_unique<TNormalizationPass>(*SrcFile_, *DstFile_, host);
  play = new playback::TMMAudioPlayer(owner_.get());
  play->SetName("play");
  play->SetBufferSize(kPreviewBufferSize);
  play->SetNumBuffers(kPreviewNumBuffers);
  play->SetDeviceID(stream::MapperId);
  play->SetCallBackMode(stream::cmWindow);
  MMConnector1 = new meters::TMMConnector(owner_.get());
  MMConnector1->SetName("MMConnector1");
  play->SetOutput(MMConnector1);
  MMConnector1->SetEnterIdle(false);

  Timer1_ = new QTimer(this);
  Timer1_->setObjectName("Timer1");
  Timer1_->setInterval(kBlinkIntervalMs);
  FileListBox1_ = new TFileListBox(QStringLiteral("*.MP3"), this);
  FileListBox1_->setObjectName("FileListBox1");
  FileListBox2_ = new TFileListBox(QStringLiteral("*.wav"), this);
  FileListBox2_->setObjectName("FileListBox2");
}

void TForm1::LayOut() {
  // Left: the drive box with "Aguarde..." beside it and the folder list below.
  Panel1 = MakePanel(this, "Panel1", QRect(8, 8, 249, 172));
  DriveComboBox1 = new TDriveComboBox(Panel1);
  DriveComboBox1->setObjectName("DriveComboBox1");
  DriveComboBox1->setGeometry(6, 6, 164, 22);
  Label4 = MakeLabel(Panel1, "Label4", tr("Aguarde..."), QRect(178, 9, 66, 16));
  Label4->setVisible(false);
  DirectoryListBox1 = new TDirectoryListBox(Panel1);
  DirectoryListBox1->setObjectName("DirectoryListBox1");
  DirectoryListBox1->setGeometry(6, 32, 237, 134);
  SetBaseColor(DirectoryListBox1, meters::clCream);
  DirectoryListBox1->SetFileList(FileListBox1_);
  DirectoryListBox1->SetDriveCombo(DriveComboBox1);
  DriveComboBox1->SetDirList(DirectoryListBox1);

  // Right: the gauge and "Converter", the option, the destination folder, the preview panel.
  Gauge = new meters::TMMGauge(this);
  Gauge->setObjectName("Gauge");
  Gauge->setGeometry(265, 11, 154, 18);
  Gauge->SetBackColor(meters::clBlue);
  Gauge->SetCaption(tr(kIdleCaption));
  Gauge->Bevel().SetBevelInner(meters::bvNone);
  Gauge->Bevel().SetBevelOuter(meters::bvLowered);
  Gauge->Bevel().SetBevelOuterWidth(1);
  Gauge->Bevel().SetBorderWidth(0);
  Gauge->Bevel().SetBorderSpace(0);
  Button1 = MakeButton(this, "Button1", tr("Converter"), QRect(425, 7, 94, 26));
  Button1->setFont(WindowFont(true));
  Button1->setEnabled(false);
  CheckBox1 = new QCheckBox(tr("Converter Normalizando"), this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setFont(WindowFont(true));
  CheckBox1->setGeometry(265, 40, 254, 20);
  Label3 = MakeLabel(this, "Label3", tr("Salvar em:"), QRect(265, 64, 254, 16));
  DirectoryEdit1 = new TDirectoryEdit(this);
  DirectoryEdit1->setObjectName("DirectoryEdit1");
  DirectoryEdit1->setGeometry(265, 81, 254, 23);
  DirectoryEdit1->setFont(WindowFont(true));
  if (auto* edit = DirectoryEdit1->findChild<QWidget*>("edit")) SetBaseColor(edit, meters::clCream);
  Panel4 = MakePanel(this, "Panel4", QRect(265, 112, 254, 68));
  BitBtn1 = MakeButton(Panel4, "BitBtn1", QString(), QRect(6, 6, 36, 26));
  BitBtn1->setIcon(QIcon(QStringLiteral(":/pictures/play.png")));
  BitBtn1->setToolTip(tr("Ouvir"));
  BitBtn1->setEnabled(false);
  BitBtn2 = MakeButton(Panel4, "BitBtn2", QString(), QRect(6, 36, 36, 26));
  BitBtn2->setIcon(QIcon(QStringLiteral(":/pictures/stop.png")));
  BitBtn2->setToolTip(tr("Parar"));
  BitBtn2->setEnabled(false);
  // The left and right level meters, fed by the connector while the preview plays: 132 × 10
  // (65 spots inside the bevel), each centred on the height of the button beside it.
  for (auto [meter, name, button, channel] :
       {std::tuple{&MMLevel1, "MMLevel1", BitBtn1, stream::chLeft},
        std::tuple{&MMLevel2, "MMLevel2", BitBtn2, stream::chRight}}) {
    *meter = new meters::TMMLevel(Panel4);
    (*meter)->setObjectName(name);
    const QRect beside = button->geometry();
    (*meter)->setGeometry(kMeterLeft, beside.top() + (beside.height() - kMeterHeight) / 2,
                          kMeterWidth, kMeterHeight);
    (*meter)->SetChannel(channel);
    (*meter)->SetMode(stream::mStereo);
    (*meter)->SetNumPeaks(2);
    (*meter)->SetDecayMode(meters::dmStepUp);
    (*meter)->SetDecay(8);
  }
  MMConnector1->SetLevel1(MMLevel1);
  MMConnector1->SetLevel2(MMLevel2);

  // Across the width: the source panel and the destination panel, each a label over a tree.
  Panel2 = MakePanel(this, "Panel2", QRect(8, 188, 511, 124));
  Label2 = MakeLabel(Panel2, "Label2", tr("Origem:"), QRect(6, 4, 499, 16));
  Outline1 = MakeTree(Panel2, "Outline1", QStringLiteral(":/pictures/leaf-mp3.png"));
  Panel3 = MakePanel(this, "Panel3", QRect(8, 318, 511, 124));
  Label1 = MakeLabel(Panel3, "Label1", tr("Destino:"), QRect(6, 4, 499, 16));
  Outline2 = MakeTree(Panel3, "Outline2", QStringLiteral(":/pictures/leaf-wav.png"));

  // Bottom: the banner and "Sair".
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(8, 448, 420, 56);
  Image1->setScaledContents(true);
  Image1->setCursor(Qt::PointingHandCursor);
  Guarded([this] {
    Image1->setPixmap(
        QPixmap::fromImage(LoadJpegResource(QStringLiteral(":/pictures/banner.jpg"))));
  });
  Image1->installEventFilter(this);
  BitBtn3 = MakeButton(this, "BitBtn3", tr("Sair"), QRect(436, 460, 83, 32));
  BitBtn3->setFont(WindowFont(true));
  BitBtn3->setIcon(QIcon(QStringLiteral(":/pictures/exit.png")));
}

void TForm1::Wire() {
  connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] { close(); });
  connect(Timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
  connect(DirectoryListBox1, &TDirectoryListBox::mouseDown, this,
          [this] { Guarded([this] { DirectoryListBox1MouseDown(); }); });
  connect(FileListBox2_, &TFileListBox::change, this, [this] { FileListBox2Change(); });
  connect(Outline1, &TOutline::click, this, [this] { Guarded([this] { Outline1Click(); }); });
  connect(Outline2, &TOutline::click, this, [this] { Guarded([this] { Outline2Click(); }); });
  for (TOutline* tree : {Outline1, Outline2}) {
    connect(tree, &TOutline::dblClick, this, [this] { Guarded([this] { Outline1DblClick(); }); });
  }
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn2Click(); }); });
  play->OnStart = [this](stream::TObject* sender) { playStart(sender); };
  play->OnStop = [this](stream::TObject* sender) { playStop(sender); };
  DirectoryEdit1->OnAfterDialog = [this](QString& name, bool& action) {
    Guarded([&] { DirectoryEdit1AfterDialog(name, action); });
  };
  Trigger_->OnStart = [this](stream::TObject* sender) { TriggerStart(sender); };
  Trigger_->OnBufferReady = [this](stream::TObject* sender, stream::PWaveHdr) {
    TriggerBufferReady(sender);
  };
  Trigger_->OnStop = [this](stream::TObject* sender) { TriggerStop(sender); };
}

// Reads the four settings, each on its own: a value that cannot be read or applied is reported
// and gives way to its default, and the others are read all the same.
void TForm1::FormCreate() {
  const QString defaultFolder = QString::fromStdString(DefaultFolder());
  ApplySetting(
      [this] {
        DriveComboBox1->SetItemIndex(
            VariantToInteger(LerRegistro(kSettingsKey, "Drive", kKindInteger, 0)));
      },
      [this] { DriveComboBox1->SetItemIndex(0); });
  ReadOrigem();
  ApplySetting(
      [this] {
        DirectoryEdit1->SetText(QString::fromStdString(
            VariantToString(LerRegistro(kSettingsKey, "Destino", kKindString, DefaultFolder()))));
      },
      [&] { DirectoryEdit1->SetText(defaultFolder); });
  ApplySetting(
      [this] {
        CheckBox1->setChecked(
            VariantToBool(LerRegistro(kSettingsKey, "Normalizar", kKindBoolean, false)));
      },
      [this] { CheckBox1->setChecked(false); });
  Outline1->Clear();
  Outline2->Clear();
}

// The source folder. One that is stored well but cannot be shown (a folder deleted, a drive not
// plugged in) is kept for closing, unless the user picks another folder meanwhile.
void TForm1::ReadOrigem() {
  const QString defaultFolder = QString::fromStdString(DefaultFolder());
  std::string stored;
  ApplySetting(
      [&] {
        stored = VariantToString(LerRegistro(kSettingsKey, "Origem", kKindString, DefaultFolder()));
      },
      [&] { DirectoryListBox1->SetDirectory(defaultFolder); });
  if (stored.empty()) return;
  ApplySetting([&] { DirectoryListBox1->SetDirectory(QString::fromStdString(stored)); },
               [&] {
                 unappliedOrigem_ = stored;
                 Guarded([&] { DirectoryListBox1->SetDirectory(defaultFolder); });
                 origemFallback_ = DirectoryListBox1->Directory();
               });
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Not when the desktop restores a minimised window: only a show of the program's own.
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm1::FormShow() {
  Outline1->SetLines(FileListBox1_->Items(), FileListBox1_->Names());
  RefreshDestination(DirectoryEdit1->Text());
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (FormClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool TForm1::FormClose() {
  Guarded([this] { play->StopPlayback(); });
  const bool refused = Busy();
  if (refused) platform::ShowMessage(kWaitMessage);
  WriteSettings();
  return !refused;
}

void TForm1::WriteSettings() {
  try {
    GravarRegistro(kSettingsKey, "Drive", std::int32_t{DriveComboBox1->ItemIndex()}, kKindInteger);
    const QString folder = DirectoryListBox1->Directory();
    GravarRegistro(
        kSettingsKey, "Origem",
        unappliedOrigem_ && folder == origemFallback_ ? *unappliedOrigem_ : folder.toStdString(),
        kKindString);
    GravarRegistro(kSettingsKey, "Destino", DirectoryEdit1->Text().toStdString(), kKindString);
    GravarRegistro(kSettingsKey, "Normalizar", CheckBox1->isChecked(), kKindBoolean);
  } catch (...) {
    platform::ShowMessage(kSettingsWriteMessage);
  }
}

void TForm1::Button1Click() {
  const QString destination = DirectoryEdit1->Text();
  if (destination.isEmpty() || !QFileInfo(destination).isDir()) {
    platform::ShowMessage(kFolderMissingMessage);
    return;
  }
  play->StopPlayback();
  play->CloseFile();
  const QByteArray name = Outline1->SelectedName();
  const std::string source = JoinFileName(DirectoryListBox1->Directory(), name);
  if (name.isEmpty() || !CheckReadable(source)) {
    // Nothing to convert (an empty tree, no line selected, or a file gone since it was listed).
    Button1->setEnabled(false);
    return;
  }
  // The sink writes a temporary file beside the WAV file, which gets its name only when it is
  // complete: a failed run leaves no truncated file under it and an earlier one as it was.
  target_ = JoinFileName(destination, WavFileName(name));
  auto partial = std::make_unique<platform::PartialFile>(target_);
  partial->RemoveLeftovers();
  // Only moves to a free name; a folder where nothing can be created fails at Start instead,
  // with the sink's own message.
  partial->ProbeCreate();
  AudioFile_->SetFileName(source);
  WaveFile_->Wave()->SetFileName(partial->Path().native());
  partial_ = std::move(partial);
  BitBtn1->setEnabled(false);
  Gauge->SetMaxValue(100);
  Timer1_->start();
  try {
    Trigger_->Start();
  } catch (...) {
    // A chain that cannot start leaves nothing running: the window goes back to idle, closable.
    Guarded([this] {
      if (!Trigger_->HasState(stream::TMMTrigger::tsClosed)) Trigger_->Close();
    });
    partial_.reset();
    Guarded([this] { ReturnToIdle(); });
    throw;
  }
  Button1->setEnabled(false);
  Outline1->setEnabled(false);
  Outline2->setEnabled(false);
}

void TForm1::TriggerStart(stream::TObject*) {
  Gauge->SetCaption(tr(kDecodingCaption));
}

// Worker thread: only the gauge's progress, which the gauge takes from any thread.
void TForm1::TriggerBufferReady(stream::TObject*) {
  const std::int64_t length = AudioFile_->FileLength();
  if (length <= 0) return;
  // 64-bit: a 32-bit P × 100 would overflow after six hours of audio.
  const double percent = static_cast<double>(AudioFile_->Position() * 100) / length;
  Gauge->SetProgress(static_cast<std::int32_t>(std::nearbyint(percent)));
}

void TForm1::TriggerStop(stream::TObject*) {
  if (!platform::IsMainThread()) {
    // The trigger closed itself on its worker after a failed block: the window's part runs on
    // the main thread.
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { FinishConversion(); }); }, Qt::QueuedConnection);
    return;
  }
  Guarded([this] { FinishConversion(); });
}

void TForm1::FinishConversion() {
  try {
    Trigger_->Close();
  } catch (...) {
    partial_.reset();
    Guarded([this] { ReturnToIdle(); });
    throw;
  }
  Gauge->SetProgress(0);
  if (WaveFile_->Failed()) {
    // The sink stopped before the end; what it wrote is not the file asked for.
    FailConversion(WaveFile_->FailureMessage());
    return;
  }
  std::string error;
  if (partial_ != nullptr &&
      partial_->Publish(true, error) != platform::PartialFile::Outcome::kPublished) {
    FailConversion(wave::kWriteFailedMessage);
    return;
  }
  partial_.reset();
  if (CheckBox1->isChecked()) {
    Gauge->SetCaption(tr(kScanCaption));
    Normalize(target_);
    return;
  }
  ReturnToIdle();
}

void TForm1::FailConversion(const std::string& sinkMessage) {
  partial_.reset();  // removes the temporary file
  // Idle first: the gauge must not show the run's caption while the message is up.
  Guarded([this] { ReturnToIdle(); });
  const char* text =
      sinkMessage == wave::kDiskFullMessage ? kNoDiskSpaceMessage : kFileWriteMessage;
  platform::ShowErrorMessage(WithFileName(text, target_).toStdString());
}

bool TForm1::CheckReadable(const std::string& path) {
  // Non-blocking: a FIFO put in the file's place must not hang the window.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  const bool gone = errno == ENOENT || errno == ENOTDIR;
  platform::ShowMessage(
      WithFileName(gone ? kFileMissingMessage : kFileUnreadableMessage, path).toStdString());
  return false;
}

void TForm1::Normalize(const std::string& fileName) {
  try {
    pass_->Normalize(fileName);
  } catch (...) {
    Guarded([this] { ReturnToIdle(); });
    throw;
  }
  ReturnToIdle();
}

void TForm1::ReturnToIdle() {
  Button1->setEnabled(true);
  BitBtn1->setEnabled(true);
  Outline1->setEnabled(true);
  Outline2->setEnabled(true);
  Gauge->SetCaption(tr(kIdleCaption));
  Gauge->SetProgress(0);
  Timer1_->stop();
  Label4->setVisible(false);
  RefreshDestination(DirectoryEdit1->Text());
}

void TForm1::Timer1Timer() {
  Label4->setVisible(!Label4->isVisible());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image1 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Guarded([this] { Image1Click(); });
    return true;
  }
  if (watched == Image1 && event->type() == QEvent::KeyPress && IsPressKey(event)) {
    Guarded([this] { Image1Click(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::Image1Click() {
  if (about_ != nullptr) about_->exec();
}

void TForm1::DirectoryListBox1MouseDown() {
  Outline1->SetLines(FileListBox1_->Items(), FileListBox1_->Names());
}

void TForm1::FileListBox2Change() {
  Outline2->SetLines(FileListBox2_->Items(), FileListBox2_->Names());
}

void TForm1::DirectoryEdit1AfterDialog(QString& name, bool&) {
  if (!name.endsWith('/')) name += '/';
  RefreshDestination(name);
}

// Points the destination list at `path` and re-reads it; its change rebuilds the tree. A folder
// that is gone raises the list's error and the tree keeps its lines.
void TForm1::RefreshDestination(const QString& path) {
  FileListBox2_->SetFileName(path);
}

void TForm1::Outline1Click() {
  const QByteArray name = Outline1->SelectedName();
  const std::string source = JoinFileName(DirectoryListBox1->Directory(), name);
  Button1->setEnabled(!name.isEmpty() && IsFile(source));
  if (Button1->isEnabled()) {
    play->StopPlayback();
    play->CloseFile();
    try {
      play->OpenFile(source);
      BitBtn1->setEnabled(true);
    } catch (...) {
      platform::ShowMessage(kPreviewOpenMessage);
    }
  }
  Label2->setText(tr("Origem:") + DisplayName(source));
  Label1->setText(tr("Destino:") +
                  DisplayName(JoinFileName(DirectoryEdit1->Text(), WavFileName(name))));
  Outline1->SetColor(meters::clCream);
  Outline2->SetColor(meters::clWhite);
}

void TForm1::Outline2Click() {
  Outline2->SetColor(meters::clCream);
  Outline1->SetColor(meters::clWhite);
  const QByteArray name = Outline2->SelectedName();
  const std::string path = JoinFileName(DirectoryEdit1->Text(), name);
  if (name.isEmpty() || !IsFile(path)) return;
  play->StopPlayback();
  play->CloseFile();
  try {
    play->OpenFile(path);
  } catch (...) {
    platform::ShowMessage(kPreviewOpenMessage);
  }
  BitBtn1->setEnabled(true);
}

// A double-click in either tree plays what its first click loaded.
void TForm1::Outline1DblClick() {
  BitBtn1Click();
}

void TForm1::BitBtn1Click() {
  // A file deleted (or locked away) since it was chosen: say so rather than fail inside the player.
  const std::string file = play->FileName();
  if (!file.empty() && !CheckReadable(file)) {
    play->CloseFile();
    BitBtn1->setEnabled(false);
    return;
  }
  play->Play();
}

void TForm1::BitBtn2Click() {
  play->StopPlayback();
  play->CloseFile();
}

void TForm1::playStart(stream::TObject*) {
  BitBtn1->setEnabled(false);
  BitBtn2->setEnabled(true);
  Button1->setEnabled(false);
  Outline2->setEnabled(false);
}

void TForm1::playStop(stream::TObject*) {
  BitBtn1->setEnabled(true);
  BitBtn2->setEnabled(false);
  Button1->setEnabled(true);
  Outline2->setEnabled(true);
}

void TForm1::SetGaugeCaption(const QString& caption) {
  Gauge->SetCaption(tr(caption.toUtf8().constData()));
}

void TForm1::SetGaugeProgress(int percent) {
  Gauge->SetProgress(percent);
}

void TForm1::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TForm1::SetBusyCursor(bool busy) {
  platform::SetBusyCursor(busy);
}

}  // namespace app
