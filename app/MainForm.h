// The main window: picks the source folder and file, the destination folder, converts one MP3
// file into a WAV file per click through the conversion chain (audio file source → trigger →
// wave file sink), optionally normalizes it, shows the status in the gauge, and keeps the four
// settings between runs.
// The preview player plays the selected file through the connector into the two level meters.
// Threading: every handler runs on the main thread except TriggerBufferReady (the trigger's
// worker: it only sets the gauge's progress) and a TriggerStop raised on the worker after a
// failed block, which hands its work to the main thread. The player reports on the main thread.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/NormalizationPass.h"

class QDialog;

namespace sources {
class TMMAudioFile;
}
namespace stream {
class TComponent;
class TMMTrigger;
class TObject;
}  // namespace stream
namespace wave {
class TMMWaveFile;
}
namespace meters {
class TMMConnector;
class TMMGauge;
class TMMLevel;
}  // namespace meters
namespace playback {
class TMMAudioPlayer;
}
namespace platform {
class PartialFile;
}

namespace app {

class TDirectoryEdit;
class TDirectoryListBox;
class TDriveComboBox;
class TFileListBox;
class TOutline;

inline constexpr const char* kSettingsKey = "Pelvaronix";
// Messages: the message-box layer translates them (context "Messages", MessageText.h).
inline constexpr const char* kFolderMissingMessage =
    QT_TRANSLATE_NOOP("Messages", "Pasta Destino não existe - Verifique !!!");
inline constexpr const char* kWaitMessage =
    QT_TRANSLATE_NOOP("Messages", "Aguarde finalizar Tarefa");
inline constexpr const char* kSettingsWriteMessage =
    QT_TRANSLATE_NOOP("Messages", "Erro ao gravar registro do Windows");
inline constexpr const char* kPreviewOpenMessage =
    QT_TRANSLATE_NOOP("Messages", "Erro ao ler arquivo de áudio");
// The gauge's captions: the window translates them as it sets them.
inline constexpr const char* kIdleCaption = QT_TRANSLATE_NOOP("app::TForm1", "Quelbarin Status");
inline constexpr const char* kDecodingCaption = QT_TRANSLATE_NOOP("app::TForm1", "Decodificando..");
inline constexpr const char* kScanCaption = QT_TRANSLATE_NOOP("app::TForm1", "Obtendo Dados..");
// The conversion could not finish its WAV file (%1: the file's name); nothing was left under it.
inline constexpr const char* kNoDiskSpaceMessage =
    QT_TRANSLATE_NOOP("Messages", "Espaço insuficiente no disco para gravar o arquivo %1");
inline constexpr const char* kFileWriteMessage =
    QT_TRANSLATE_NOOP("Messages", "Erro ao gravar o arquivo %1");
// The chosen file is gone or cannot be read (%1: the file's name).
inline constexpr const char* kFileMissingMessage =
    QT_TRANSLATE_NOOP("Messages", "O arquivo %1 não existe mais");
inline constexpr const char* kFileUnreadableMessage =
    QT_TRANSLATE_NOOP("Messages", "O arquivo %1 não pode ser lido");

class TForm1 : public QWidget, private NormalizeHost {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 527;
  static constexpr int kClientHeight = 509;
  static constexpr int kBlinkIntervalMs = 500;
  static constexpr int kConversionBufferSize = 32768;
  static constexpr int kPreviewBufferSize = 2048;
  static constexpr int kPreviewNumBuffers = 30;

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The about window that the banner shows (not owned).
  void SetAboutForm(QDialog* about) { about_ = about; }

  // The stream components, for the preview and for tests.
  sources::TMMAudioFile& AudioFile() const { return *AudioFile_; }
  stream::TMMTrigger& Trigger() const { return *Trigger_; }
  wave::TMMWaveFile& WaveFile() const { return *WaveFile_; }
  wave::TMMWaveFile& SrcFile() const { return *SrcFile_; }
  wave::TMMWaveFile& DstFile() const { return *DstFile_; }
  playback::TMMAudioPlayer& Player() const { return *play; }
  meters::TMMConnector& Connector() const { return *MMConnector1; }
  TFileListBox& FileListBox1() const { return *FileListBox1_; }
  TFileListBox& FileListBox2() const { return *FileListBox2_; }

  // A conversion or a normalization pass is under way (Timer1 runs).
  bool Busy() const { return Timer1_->isActive(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void CreateComponents();
  void LayOut();
  void Wire();
  // Accessible names and the keyboard path through the controls (MainFormAccess.cpp).
  void SetUpAccess();

  void FormCreate();
  void ReadOrigem();
  void FormShow();
  bool FormClose();  // false: closing refused
  void WriteSettings();
  void Button1Click();
  void TriggerStart(stream::TObject* sender);
  void TriggerBufferReady(stream::TObject* sender);
  void TriggerStop(stream::TObject* sender);
  void FinishConversion();
  // Ends a conversion whose WAV file could not be completed: the window back at idle, then the
  // message for the sink's or the rename's failure, naming the file.
  void FailConversion(const std::string& sinkMessage);
  // Shows why `path` cannot be used and returns false when it is gone or cannot be read.
  static bool CheckReadable(const std::string& path);
  void Normalize(const std::string& fileName);
  void ReturnToIdle();
  void Timer1Timer();
  void Image1Click();
  void DirectoryListBox1MouseDown();
  void FileListBox2Change();
  void DirectoryEdit1AfterDialog(QString& name, bool& action);
  void Outline1Click();
  void Outline2Click();
  void RefreshDestination(const QString& path);
  void OpenPreview(const QString& path);
  void Outline1DblClick();
  void BitBtn1Click();
  void BitBtn2Click();
  void playStart(stream::TObject* sender);
  void playStop(stream::TObject* sender);

  // NormalizeHost: what the normalization pass uses of the window.
  void SetGaugeCaption(const QString& caption) override;
  void SetGaugeProgress(int percent) override;
  void ProcessMessages() override;
  void SetBusyCursor(bool busy) override;

  // Stream components; the owner deletes them.
  std::unique_ptr<stream::TComponent> owner_;
  wave::TMMWaveFile* SrcFile_ = nullptr;
  wave::TMMWaveFile* DstFile_ = nullptr;
  sources::TMMAudioFile* AudioFile_ = nullptr;
  stream::TMMTrigger* Trigger_ = nullptr;
  wave::TMMWaveFile* WaveFile_ = nullptr;
  playback::TMMAudioPlayer* play = nullptr;
  meters::TMMConnector* MMConnector1 = nullptr;
  std::unique_ptr<TNormalizationPass> pass_;
  // The conversion's WAV file: its final name, and the temporary file the sink writes until it
  // is complete (present from "Converter" until the run ends).
  std::string target_;
  std::unique_ptr<platform::PartialFile> partial_;
  // A stored source folder that could not be shown (gone, or on a drive not plugged in), and the
  // folder shown instead: closing keeps the stored one unless the user chose another folder.
  std::optional<std::string> unappliedOrigem_;
  QString origemFallback_;

  // Widgets; Qt's parent chain deletes them.
  QPushButton* Button1 = nullptr;
  meters::TMMGauge* Gauge = nullptr;
  TDirectoryEdit* DirectoryEdit1 = nullptr;
  QLabel* Label3 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QFrame* Panel1 = nullptr;
  TDirectoryListBox* DirectoryListBox1 = nullptr;
  TDriveComboBox* DriveComboBox1 = nullptr;
  TFileListBox* FileListBox1_ = nullptr;
  QFrame* Panel2 = nullptr;
  TOutline* Outline1 = nullptr;
  QFrame* Panel3 = nullptr;
  TOutline* Outline2 = nullptr;
  TFileListBox* FileListBox2_ = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QFrame* Panel4 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  meters::TMMLevel* MMLevel1 = nullptr;
  meters::TMMLevel* MMLevel2 = nullptr;
  QLabel* Image1 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QLabel* Label4 = nullptr;
  QTimer* Timer1_ = nullptr;

  QDialog* about_ = nullptr;        // not owned
  std::vector<QWidget*> tabOrder_;  // the controls in the order Tab reaches them
};

}  // namespace app
