// The main window and the user's files: a failed conversion leaves no file under the WAV's name
// and an earlier WAV as it was, a vanished source is named, a user's ".TMP" file survives the
// normalization pass, and a name that is not UTF-8 is listed, converted and keeps its bytes.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "tests/app/MainFormFixture.h"
#include "tests/sources/ChainConversion.h"
#include "wave/WaveFile.h"

namespace app {
namespace {

using test::kFixtures;
using test::MainFormTest;

QByteArray ReadBytes(const std::string& path) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `bytes` to `path` given as the file system's bytes (names that are not UTF-8 too).
void WriteBytes(const std::string& path, const QByteArray& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.constData(), bytes.size()), bytes.size());
  ::close(fd);
}

// Removes files named by their bytes when the test ends: Qt's own clean-up skips names that are
// not UTF-8.
struct RemovedAtExit {
  std::vector<std::string> paths;
  ~RemovedAtExit() {
    for (const std::string& path : paths) ::unlink(path.c_str());
  }
};

QStringList FilesIn(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                                QDir::Name);
}

// Records the gauge's caption at the moment an error box would be shown.
class GaugeAtError : public test::RecordingDesktop {
 public:
  explicit GaugeAtError(const meters::TMMGauge& gauge) : gauge_(gauge) {}
  void ShowError(const std::string& text) override {
    captions.push_back(gauge_.Caption());
    RecordingDesktop::ShowError(text);
  }
  std::vector<QString> captions;

 private:
  const meters::TMMGauge& gauge_;
};

// Writes fail with EFBIG beyond `bytes` while it lives, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previousHandler_(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    const rlimit limit{bytes, previous_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  sighandler_t previousHandler_;
};

TEST_F(MainFormTest, AFailedConversionLeavesTheEarlierWavAsItWasAndNoTemporaryFile) {
  const std::string wav = (destination_ + "cbr44_joint.WAV").toStdString();
  const QByteArray earlier = "RIFF of an earlier conversion, kept by the user";
  struct Row {
    const char* name;
    std::function<std::unique_ptr<FileSizeLimit>(TForm1&)> prepare;
    const char* message;
  };
  const Row rows[] = {
      {"the free space runs out after two blocks",
       [](TForm1& form) {
         auto calls = std::make_shared<int>(0);
         form.WaveFile().SetFreeSpaceQuery(
             [calls](const std::string&) { return std::uint64_t{++*calls <= 2 ? 1u << 30 : 0u}; });
         return nullptr;
       },
       kNoDiskSpaceMessage},
      {"a write fails mid-way", [](TForm1&) { return std::make_unique<FileSizeLimit>(100000); },
       kFileWriteMessage},
  };
  StoreFolders();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteBytes(wav, earlier);
    auto form = OpenWindow();
    ClickLine(*form, "Outline1", "cbr44_joint.mp3");
    GaugeAtError desktop(*Find<meters::TMMGauge>(*form, "Gauge"));
    {
      const std::unique_ptr<FileSizeLimit> limit = row.prepare(*form);
      Convert(*form);
    }
    ASSERT_EQ(desktop.Errors(), std::vector<std::string>{
                                    QString::fromUtf8(row.message).arg(wav.c_str()).toStdString()});
    EXPECT_EQ(desktop.captions, std::vector<QString>{kIdleCaption});
    EXPECT_EQ(ReadBytes(wav), earlier);
    EXPECT_EQ(FilesIn(destination_), QStringList{"cbr44_joint.WAV"});
    EXPECT_TRUE(Find<QPushButton>(*form, "Button1")->isEnabled());
    EXPECT_TRUE(form->close());
  }
}

TEST_F(MainFormTest, AWavNameTakenByAFolderIsReportedAndTheFolderStays) {
  StoreFolders();
  ASSERT_TRUE(QDir().mkpath(destination_ + "cbr44_joint.WAV/inside"));
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  Convert(*form);
  EXPECT_EQ(desktop_.Errors(), std::vector<std::string>{QString::fromUtf8(kFileWriteMessage)
                                                            .arg(destination_ + "cbr44_joint.WAV")
                                                            .toStdString()});
  EXPECT_EQ(FilesIn(destination_), QStringList{"cbr44_joint.WAV"});
  EXPECT_TRUE(QFileInfo(destination_ + "cbr44_joint.WAV/inside").isDir());
}

TEST_F(MainFormTest, ASourceGoneSinceItWasChosenIsNamedAtConvertAndAtPlay) {
  StoreFolders();
  auto form = OpenWindow();
  auto* convert = Find<QPushButton>(*form, "Button1");
  auto* play = Find<QPushButton>(*form, "BitBtn1");
  const auto missing = [](const QString& path) {
    return QString::fromUtf8(kFileMissingMessage).arg(path).toStdString();
  };

  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  ASSERT_TRUE(QFile::remove(source_ + "/cbr44_joint.mp3"));
  QTest::mouseClick(convert, Qt::LeftButton);
  EXPECT_EQ(desktop_.messages, std::vector<std::string>{missing(source_ + "/cbr44_joint.mp3")});
  EXPECT_FALSE(form->Busy());
  EXPECT_FALSE(convert->isEnabled());
  EXPECT_EQ(FilesIn(destination_), QStringList());

  desktop_.messages.clear();
  ClickLine(*form, "Outline1", "vbr16_mono.mp3");
  ASSERT_TRUE(play->isEnabled());
  ASSERT_TRUE(QFile::remove(source_ + "/vbr16_mono.mp3"));
  QTest::mouseClick(play, Qt::LeftButton);
  EXPECT_EQ(desktop_.messages, std::vector<std::string>{missing(source_ + "/vbr16_mono.mp3")});
  EXPECT_FALSE(play->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(*form, "BitBtn2")->isEnabled());
  EXPECT_TRUE(desktop_.Errors().empty());
}

TEST_F(MainFormTest, NormalizingKeepsTheUsersOwnTmpFile) {
  ASSERT_TRUE(QFile::copy(kFixtures + "/vbr16_mono.mp3", source_ + "/song.mp3"));
  const std::string userTmp = (destination_ + "song.TMP").toStdString();
  const QByteArray mine = "the user's own notes, not a wave file";
  WriteBytes(userTmp, mine);
  StoreFolders();
  GravarRegistro(kSettingsKey, "Normalizar", true, kKindBoolean);
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "song.mp3");
  Convert(*form);
  EXPECT_TRUE(desktop_.Errors().empty());
  EXPECT_EQ(ReadBytes(userTmp), mine);
  EXPECT_EQ(FilesIn(destination_), (QStringList{"song.TMP", "song.WAV"}));
  int peak = 0;
  for (const std::int16_t s :
       sources::test::ReadWav(destination_.toStdString() + "song.WAV").samples)
    peak = std::max(peak, std::abs(int{s}));
  EXPECT_EQ(peak, 32767);
}

TEST_F(MainFormTest, ANameThatIsNotUtf8IsListedPlayedAndConvertedKeepingItsBytes) {
  const std::string wav = destination_.toStdString() + "caf\xe9.WAV";
  const RemovedAtExit cleanUp{{source_.toStdString() + "/caf\xe9.mp3", wav}};
  WriteBytes(cleanUp.paths[0], ReadBytes((kFixtures + "/cbr44_joint.mp3").toStdString()));
  const QString shown = QString::fromUtf8("caf\xef\xbf\xbd");  // "caf" and U+FFFD
  StoreFolders();
  auto form = OpenWindow();
  EXPECT_TRUE(Find<TOutline>(*form, "Outline1")->Lines().contains(shown + ".mp3"));

  ClickLine(*form, "Outline1", shown + ".mp3");
  EXPECT_TRUE(desktop_.messages.empty());  // the preview opened it
  QTest::mouseClick(Find<QPushButton>(*form, "BitBtn1"), Qt::LeftButton);
  auto* stop = Find<QPushButton>(*form, "BitBtn2");
  EXPECT_TRUE(stop->isEnabled());  // playing
  QTest::mouseClick(stop, Qt::LeftButton);
  EXPECT_EQ(Find<QLabel>(*form, "Label2")->text(), "Origem:" + source_ + "/" + shown + ".mp3");
  EXPECT_EQ(Find<QLabel>(*form, "Label1")->text(), "Destino:" + destination_ + shown + ".WAV");
  Convert(*form);
  EXPECT_TRUE(desktop_.Errors().empty());

  struct stat st {};
  ASSERT_EQ(::stat(wav.c_str(), &st), 0);
  EXPECT_FALSE(sources::test::ReadWav(wav).samples.empty());
  EXPECT_EQ(Find<TOutline>(*form, "Outline2")->Lines(), QStringList{shown + ".WAV"});
  ClickLine(*form, "Outline2", shown + ".WAV");
  EXPECT_TRUE(desktop_.messages.empty());
  EXPECT_TRUE(Find<QPushButton>(*form, "BitBtn1")->isEnabled());
}

}  // namespace
}  // namespace app
