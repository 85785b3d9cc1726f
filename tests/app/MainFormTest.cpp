// The main window end to end: real folders, the real conversion chain and the real settings
// file, driven by clicks on the window's components found by their designer names.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/DefaultFolders.h"
#include "app/DirectoryEdit.h"
#include "app/DirectoryListBox.h"
#include "app/Funcoes.h"
#include "app/MainForm.h"
#include "app/Outline.h"
#include "app/QtDispatcherHook.h"
#include "meters/Gauge.h"
#include "meters/Level.h"
#include "platform/WaveOutApi.h"
#include "stream/Trigger.h"
#include "tests/app/MainFormFixture.h"
#include "tests/sources/ChainConversion.h"
#include "wave/Wave.h"
#include "wave/WaveFile.h"

namespace app {
namespace {

using test::kConversionTimeoutMs;
using test::kFixtures;
using test::MainFormTest;
using Wav = sources::test::Pcm16;
using sources::test::ReadWav;

TEST_F(MainFormTest, ConvertsTheSelectedFileLikeTheCommandLineConverter) {
  StoreFolders();
  auto form = OpenWindow();
  auto* button = Find<QPushButton>(*form, "Button1");
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(Find<TOutline>(*form, "Outline1")->Lines(),
            QStringList({"cbr44_joint.mp3", "vbr16_mono.mp3"}));

  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(Find<QLabel>(*form, "Label2")->text(), "Origem:" + source_ + "/cbr44_joint.mp3");
  EXPECT_EQ(Find<QLabel>(*form, "Label1")->text(), "Destino:" + destination_ + "cbr44_joint.WAV");

  const std::vector<QString> captions = Convert(*form);
  EXPECT_EQ(captions.front(), kDecodingCaption);
  EXPECT_EQ(captions.back(), kIdleCaption);
  EXPECT_EQ(Find<meters::TMMGauge>(*form, "Gauge")->Progress(), 0);
  EXPECT_TRUE(desktop_.Errors().empty());
  EXPECT_TRUE(desktop_.messages.empty());
  EXPECT_FALSE(Find<QLabel>(*form, "Label4")->isVisible());

  const QString ours = destination_ + "cbr44_joint.WAV";
  // The same samples, but for the window's fade-in and closing ramp: the command line writes the
  // decoder's samples unchanged.
  const Wav window = ReadWav(ours.toStdString());
  const Wav commandLine =
      ReadWav(ConvertWithCommandLine(source_ + "/cbr44_joint.mp3").toStdString());
  EXPECT_EQ(std::memcmp(&window.format, &commandLine.format, sizeof window.format), 0);
  sources::test::ExpectEqualButTheFades(window, commandLine);
  EXPECT_TRUE(Find<TOutline>(*form, "Outline2")->Lines().contains("cbr44_joint.WAV"));
}

TEST_F(MainFormTest, NormalizesToFullScaleWithOneGain) {
  StoreFolders();
  GravarRegistro(kSettingsKey, "Normalizar", true, kKindBoolean);
  auto form = OpenWindow();
  ASSERT_TRUE(Find<QCheckBox>(*form, "CheckBox1")->isChecked());
  ClickLine(*form, "Outline1", "vbr16_mono.mp3");
  const std::vector<QString> captions = Convert(*form);
  EXPECT_EQ(captions.front(), kDecodingCaption);
  EXPECT_NE(std::find(captions.begin(), captions.end(), QString(kScanCaption)), captions.end());
  EXPECT_NE(std::find(captions.begin(), captions.end(), QString("Normalizando...")),
            captions.end());
  EXPECT_EQ(captions.back(), kIdleCaption);
  EXPECT_EQ(desktop_.busyDepth, 0);
  EXPECT_FALSE(QFile::exists(destination_ + "vbr16_mono.TMP"));

  // The command line's samples lack the window's fades at both ends, where the two differ.
  const Wav plain = ReadWav(ConvertWithCommandLine(source_ + "/vbr16_mono.mp3").toStdString());
  const Wav normalized = ReadWav((destination_ + "vbr16_mono.WAV").toStdString());
  ASSERT_EQ(plain.samples.size(), normalized.samples.size());
  const std::size_t edge = 2 * (plain.format.nSamplesPerSec / 1000 + 1);
  ASSERT_GT(plain.samples.size(), 2 * edge);
  const std::size_t end = plain.samples.size() - edge;
  int peak = 0;
  for (std::size_t i = edge; i < end; ++i) peak = std::max(peak, std::abs(int{plain.samples[i]}));
  ASSERT_GT(peak, 0);
  ASSERT_LT(peak, 32767);
  const long double gain = 32767.0L / peak;
  int normalizedPeak = 0;
  for (std::size_t i = edge; i < end; ++i) {
    const long double scaled = std::nearbyint(plain.samples[i] * gain);
    const auto expected = static_cast<std::int16_t>(std::clamp<long double>(scaled, -32768, 32767));
    ASSERT_EQ(normalized.samples[i], expected) << "sample " << i;
    normalizedPeak = std::max(normalizedPeak, std::abs(int{normalized.samples[i]}));
  }
  EXPECT_EQ(normalizedPeak, 32767);
}

TEST_F(MainFormTest, MissingDestinationFolderStartsNothing) {
  StoreFolders();
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  Find<TDirectoryEdit>(*form, "DirectoryEdit1")->SetText(dir_.filePath("Nada") + "/");
  QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
  EXPECT_EQ(desktop_.messages, std::vector<std::string>{kFolderMissingMessage});
  EXPECT_FALSE(form->Busy());
  EXPECT_TRUE(Find<QPushButton>(*form, "Button1")->isEnabled());
  EXPECT_FALSE(QFile::exists(dir_.filePath("Nada")));
}

TEST_F(MainFormTest, CloseIsRefusedWhileBusyAndTheSettingsAreStillWritten) {
  StoreFolders();
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  Find<QCheckBox>(*form, "CheckBox1")->setChecked(true);
  QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
  // The stop of the run comes through the event loop, which has not run yet.
  ASSERT_TRUE(form->Busy());
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(desktop_.messages, std::vector<std::string>{kWaitMessage});
  EXPECT_EQ(VariantToBool(LerRegistro(kSettingsKey, "Normalizar", kKindBoolean, false)), true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Busy(); }, kConversionTimeoutMs));
  EXPECT_TRUE(form->close());
}

TEST_F(MainFormTest, SettingsSurviveClosingAndReopening) {
  {
    // First run: the defaults, and the key exists without values.
    auto form = OpenWindow();
    EXPECT_FALSE(Find<QCheckBox>(*form, "CheckBox1")->isChecked());
    const QString folder = QString::fromStdString(DefaultFolder());
    EXPECT_EQ(Find<TDirectoryEdit>(*form, "DirectoryEdit1")->Text(), folder);
    EXPECT_EQ(Find<TDirectoryListBox>(*form, "DirectoryListBox1")->Directory() + "/", folder);
    Find<TDirectoryListBox>(*form, "DirectoryListBox1")->SetDirectory(source_);
    Find<TDirectoryEdit>(*form, "DirectoryEdit1")->SetText(destination_);
    Find<QCheckBox>(*form, "CheckBox1")->setChecked(true);
    EXPECT_TRUE(form->close());
  }
  EXPECT_EQ(VariantToString(LerRegistro(kSettingsKey, "Origem", kKindString, std::string())),
            source_.toStdString());
  auto form = OpenWindow();
  EXPECT_EQ(Find<TDirectoryListBox>(*form, "DirectoryListBox1")->Directory(), source_);
  EXPECT_EQ(Find<TDirectoryEdit>(*form, "DirectoryEdit1")->Text(), destination_);
  EXPECT_TRUE(Find<QCheckBox>(*form, "CheckBox1")->isChecked());
  EXPECT_EQ(Find<TOutline>(*form, "Outline1")->Lines().size(), 2);
  EXPECT_TRUE(desktop_.Errors().empty());
}

TEST_F(MainFormTest, AFailedStartLeavesTheWindowIdleAndClosable) {
  // A text file named like an MP3: the chain cannot open it.
  ASSERT_TRUE(QFile::copy(kFixtures + "/text.mp3", source_ + "/text.mp3"));
  StoreFolders();
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "text.mp3");
  QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
  EXPECT_EQ(desktop_.Errors().size(), 1u);
  EXPECT_EQ(QDir(destination_).entryList(QDir::Files | QDir::Hidden), QStringList());
  EXPECT_FALSE(form->Busy());
  EXPECT_TRUE(Find<QPushButton>(*form, "Button1")->isEnabled());
  EXPECT_TRUE(Find<TOutline>(*form, "Outline1")->isEnabled());
  EXPECT_TRUE(form->close());
}

TEST_F(MainFormTest, AStopRaisedOnAWorkerIsFinishedOnTheMainThread) {
  StoreFolders();
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
  ASSERT_TRUE(form->Busy());
  // As the trigger does after a failed block: OnStop on a thread other than the main one.
  std::thread worker([&] { form->Trigger().OnStop(&form->Trigger()); });
  worker.join();
  EXPECT_TRUE(form->Busy());  // nothing of the window ran on the worker
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Busy(); }, kConversionTimeoutMs));
  EXPECT_EQ(Find<meters::TMMGauge>(*form, "Gauge")->Caption(), kIdleCaption);
  EXPECT_TRUE(form->close());
}

TEST_F(MainFormTest, ChosenDestinationGetsItsSlashAndAVanishedOneKeepsTheTree) {
  StoreFolders();
  ASSERT_TRUE(QFile(destination_ + "old.wav").open(QIODevice::WriteOnly));
  auto form = OpenWindow();
  auto* edit = Find<TDirectoryEdit>(*form, "DirectoryEdit1");
  auto* tree = Find<TOutline>(*form, "Outline2");
  EXPECT_EQ(tree->Lines(), QStringList{"old.wav"});

  const QString other = dir_.filePath("Outra");
  ASSERT_TRUE(QDir().mkpath(other));
  ASSERT_TRUE(QFile(other + "/Nova.WAV").open(QIODevice::WriteOnly));
  edit->SetFolderChooser([&](QWidget*, const QString&) { return other; });
  edit->ChooseFolder();
  EXPECT_EQ(edit->Text(), other + "/");
  EXPECT_EQ(tree->Lines(), QStringList{"Nova.WAV"});

  // The folder goes away; the next refresh reports it and the tree keeps its lines.
  ASSERT_TRUE(QDir(other).removeRecursively());
  edit->ChooseFolder();
  ASSERT_EQ(desktop_.Errors().size(), 1u);
  EXPECT_NE(desktop_.Errors().front().find("No such file or directory"), std::string::npos);
  EXPECT_EQ(tree->Lines(), QStringList{"Nova.WAV"});
}

TEST_F(MainFormTest, DoubleClickPlaysThePreviewWithMovingMeters) {
  StoreFolders();
  auto form = OpenWindow();
  auto* play = Find<QPushButton>(*form, "BitBtn1");
  auto* stop = Find<QPushButton>(*form, "BitBtn2");
  auto* convert = Find<QPushButton>(*form, "Button1");
  auto* destination = Find<TOutline>(*form, "Outline2");
  auto* left = Find<meters::TMMLevel>(*form, "MMLevel1");
  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  ASSERT_TRUE(play->isEnabled());
  EXPECT_FALSE(stop->isEnabled());

  auto* tree = Find<TOutline>(*form, "Outline1");
  const QRect line = tree->visualItemRect(tree->findItems("cbr44_joint.mp3", Qt::MatchExactly)[0]);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, line.center());
  EXPECT_FALSE(play->isEnabled());
  EXPECT_TRUE(stop->isEnabled());
  EXPECT_FALSE(convert->isEnabled());
  EXPECT_FALSE(destination->isEnabled());
  EXPECT_TRUE(QTest::qWaitFor([&] { return left->LevelSpots() > 0; }, 10000)) << "meter still";

  // The file ends by itself: everything returns.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !stop->isEnabled(); }, 30000));
  EXPECT_TRUE(play->isEnabled());
  EXPECT_TRUE(convert->isEnabled());
  EXPECT_TRUE(destination->isEnabled());
  EXPECT_TRUE(desktop_.Errors().empty());
}

TEST_F(MainFormTest, ASourceThePlayerCannotReadIsReported) {
  ASSERT_TRUE(QFile::copy(kFixtures + "/text.mp3", source_ + "/text.mp3"));
  StoreFolders();
  auto form = OpenWindow();
  ClickLine(*form, "Outline1", "text.mp3");
  EXPECT_EQ(desktop_.messages, std::vector<std::string>{kPreviewOpenMessage});
  EXPECT_FALSE(Find<QPushButton>(*form, "BitBtn1")->isEnabled());
  // "Converter" follows the file's existence, not the preview.
  EXPECT_TRUE(Find<QPushButton>(*form, "Button1")->isEnabled());
}

TEST_F(MainFormTest, PlayWithoutASoundDeviceSaysSoAndTheWindowStaysUsable) {
  // The tests play on the null device; here nothing is asked for, as on a machine without sound.
  const QByteArray device = qgetenv("QD_WAVE_DEVICE");
  qunsetenv("QD_WAVE_DEVICE");
  struct Restore {
    QByteArray value;
    ~Restore() { qputenv("QD_WAVE_DEVICE", value); }
  } restore{device};
  if (platform::waveOutGetNumDevs() > 0) GTEST_SKIP() << "this machine has a sound device";
  StoreFolders();
  auto form = OpenWindow();
  auto* play = Find<QPushButton>(*form, "BitBtn1");
  ClickLine(*form, "Outline1", "cbr44_joint.mp3");
  for (int press = 0; press < 2; ++press) {
    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_EQ(desktop_.Errors().size(), static_cast<std::size_t>(press + 1));
    EXPECT_EQ(desktop_.Errors().back(), "No wave audio playing device found");
    EXPECT_TRUE(play->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(*form, "BitBtn2")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(*form, "Button1")->isEnabled());
  }
  // The conversion does not need a sound device.
  Convert(*form);
  EXPECT_TRUE(QFile::exists(destination_ + "cbr44_joint.WAV"));
}

TEST_F(MainFormTest, StartUpStateOfTheControls) {
  StoreFolders();
  auto form = OpenWindow();
  EXPECT_EQ(form->windowTitle(), "Quelbarin Decoder 1.0 - MP3 -> WAV");
  EXPECT_EQ(form->size(), QSize(527, 509));
  for (const char* name : {"Button1", "BitBtn1", "BitBtn2"}) {
    EXPECT_FALSE(Find<QWidget>(*form, name)->isEnabled()) << name;
  }
  EXPECT_FALSE(Find<QLabel>(*form, "Label4")->isVisible());
  EXPECT_EQ(Find<meters::TMMGauge>(*form, "Gauge")->Caption(), kIdleCaption);
  EXPECT_TRUE(Find<QPushButton>(*form, "Button1")->font().bold());
  // The level meters: 132 × 10, so 65 spots with the zones from spots 32 and 55, each beside its
  // button and centred on its height.
  for (auto [meter, button] :
       {std::pair{"MMLevel1", "BitBtn1"}, std::pair{"MMLevel2", "BitBtn2"}}) {
    SCOPED_TRACE(meter);
    auto* level = Find<meters::TMMLevel>(*form, meter);
    const QRect beside = Find<QPushButton>(*form, button)->geometry();
    EXPECT_EQ(level->parentWidget(), Find<QWidget>(*form, "Panel4"));
    EXPECT_EQ(level->size(), QSize(132, 10));
    EXPECT_EQ(level->NumSpots(), 65);
    EXPECT_EQ(level->Point1Spot(), 32);
    EXPECT_EQ(level->Point2Spot(), 55);
    EXPECT_EQ(level->geometry().center().y(), beside.center().y());
    EXPECT_GT(level->x(), beside.right());
    EXPECT_LT(level->geometry().right(), level->parentWidget()->width());
  }
  // An empty source tree never starts a conversion, even with the button enabled.
  Find<TOutline>(*form, "Outline1")->Clear();
  Find<QPushButton>(*form, "Button1")->setEnabled(true);
  QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
  EXPECT_FALSE(form->Busy());
}

}  // namespace
}  // namespace app
