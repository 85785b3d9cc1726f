#include "app/NormalizationPass.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cerrno>
#include <cfenv>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "app/SampleScaler.h"
#include "wave/WaveFile.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int32_t>;
using stream::TWaveFormatEx;

TWaveFormatEx Format(std::uint16_t channels, std::uint16_t bits, std::uint16_t tag = 1) {
  const auto align = std::uint16_t(channels * bits / 8);
  return {tag, channels, 44100, 44100u * align, align, bits, 0};
}

// 16-bit samples as little-endian words; 8-bit (and other widths' raw) values as bytes.
Bytes Encode(const Samples& samples, int bits) {
  Bytes out;
  for (const std::int32_t s : samples) {
    out.push_back(std::uint8_t(s));
    if (bits == 16) out.push_back(std::uint8_t(s >> 8));
  }
  return out;
}
Samples Decode(const Bytes& data, int bits) {
  Samples out;
  for (std::size_t i = 0; i < data.size(); i += bits / 8) {
    out.push_back(bits == 16 ? std::int16_t(data[i] | data[i + 1] << 8) : data[i]);
  }
  return out;
}

void WriteWav(const std::string& path, const TWaveFormatEx& format, const Bytes& data) {
  wave::TMMWave wav;
  wav.CreateWaveFile(path, &format);
  if (!data.empty()) {
    ASSERT_EQ(wav.WriteBytes(data.data(), std::int64_t(data.size())), std::int64_t(data.size()));
  }
  wav.CloseFile();
  ASSERT_FALSE(wav.CloseFailed());
}
Bytes ReadData(const std::string& path) {
  wave::TMMWave wav;
  wav.SetTimeFormat(stream::tfByte);
  wav.SetFileName(path);
  wav.OpenFile();
  Bytes out(std::size_t(wav.DataSize()));
  EXPECT_EQ(wav.ReadBytes(out.data(), std::int64_t(out.size())), std::int64_t(out.size()));
  return out;
}
std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Records what the pass shows; `onPump` runs inside ProcessMessages.
class RecordingHost : public NormalizeHost {
 public:
  void SetGaugeCaption(const QString& text) override {
    caption = text.toStdString();
    events.push_back(caption);
  }
  void SetGaugeProgress(int percent) override { events.push_back(std::to_string(percent)); }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  void SetBusyCursor(bool on) override {
    busy = on;
    events.push_back(on ? "busy" : "idle");
  }

  std::vector<std::string> events;
  std::string caption = "Obtendo Dados..";
  std::function<void()> onPump;
  int pumps = 0;
  bool busy = false;
};

class NormalizationPassTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
  // A ".TMP" file other than `file` itself.
  bool TempLeft(const std::string& file) const {
    for (const auto& entry : fs::directory_iterator(dir_.path().toStdString())) {
      if (entry.path().extension() == ".TMP" && entry.path() != file) return true;
    }
    return false;
  }
  void ExpectReleased(const std::string& file) {
    EXPECT_FALSE(host_.busy);
    EXPECT_FALSE(src_.Wave()->Opened());
    EXPECT_TRUE(src_.Wave()->FileName().empty());
    EXPECT_TRUE(dst_.Wave()->FileName().empty());
    EXPECT_FALSE(TempLeft(file));
  }

  QTemporaryDir dir_;
  wave::TMMWaveFile src_{nullptr};
  wave::TMMWaveFile dst_{nullptr};
  RecordingHost host_;
  TNormalizationPass pass_{src_, dst_, host_};
};

TEST(NormalizationNames, TempFileNameReplacesTheLastExtension) {
  EXPECT_EQ(TempFileName("/out/Song.WAV"), "/out/Song.TMP");
  EXPECT_EQ(TempFileName("/out/a.b.wav"), "/out/a.b.TMP");
  EXPECT_EQ(TempFileName("/out.d/Song"), "/out.d/Song.TMP");
  EXPECT_EQ(TempFileName("Song"), "Song.TMP");
}

TEST(SampleScaler, RoundsHalvesToEvenAndClampsWhateverTheRoundingMode) {
  const int saved = std::fegetround();
  std::fesetround(FE_UPWARD);
  const TSampleScaler half(16, 32767.0L / 14);  // 2340.5: every odd sample lands on a half
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(saved);
  EXPECT_EQ(half.Scale(1), 2340);
  EXPECT_EQ(half.Scale(3), 7022);
  EXPECT_EQ(half.Scale(-1), -2340);
  EXPECT_EQ(half.Scale(14), 32767);
  EXPECT_EQ(half.Scale(15), 32767);
  EXPECT_EQ(half.Scale(-15), -32768);

  const TSampleScaler eight(8, 2.0L);
  EXPECT_EQ(eight.Scale(130), 132);
  EXPECT_EQ(eight.Scale(200), 255);
  EXPECT_EQ(eight.Scale(20), 0);

  Bytes odd{0x01, 0x00, 0xFF, 0xFF, 0x7F};  // 1, -1 and a trailing half sample
  TSampleScaler(16, 3.0L).Apply(odd.data(), odd.size());
  EXPECT_EQ(odd, (Bytes{0x03, 0x00, 0xFD, 0xFF, 0x7F}));
}

TEST_F(NormalizationPassTest, ScalesEverySampleByOneGainToFullScale) {
  struct Row {
    const char* name;
    std::uint16_t channels, bits;
    Samples in, out;
    const char* file = "Song.WAV";
  };
  const std::vector<Row> rows = {
      {"peak16384", 1, 16, {16384, -16384, 1, 0, 100, -3}, {32767, -32767, 2, 0, 200, -6}},
      {"stereoOneGain", 2, 16, {8000, 16000, 4000, -8, -1, 1}, {16384, 32767, 8192, -16, -2, 2}},
      {"equalOpposite", 1, 16, {-12000, 12000, 3000}, {-32767, 32767, 8192}},
      {"halvesToEven", 1, 16, {14, 1, 3, -1, -3, 5}, {32767, 2340, 7022, -2340, -7022, 11702}},
      // The last sample of the block ends inside a three-channel frame pair.
      {"threeChannels",
       3,
       16,
       {100, 200, -300, 50, 60, 70, 1, 2, 1000},
       {3277, 6553, -9830, 1638, 1966, 2294, 33, 66, 32767}},
      {"eightBit", 1, 8, {192, 64, 129, 128, 127, 160}, {255, 1, 130, 128, 126, 192}},
      {"nameEndsInTmp", 1, 16, {-16384, 2}, {-32767, 4}, "Song.TMP"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = Path(row.file);
    WriteWav(file, Format(row.channels, row.bits), Encode(row.in, row.bits));
    EXPECT_TRUE(pass_.Normalize(file));
    EXPECT_EQ(Decode(ReadData(file), row.bits), row.out);
    EXPECT_EQ(host_.caption, kNormalizeCaption);
    ExpectReleased(file);
    fs::remove(file);
  }
}

TEST_F(NormalizationPassTest, LeavesFilesAtFullScaleSilentOrNotScalableUntouched) {
  struct Row {
    const char* name;
    TWaveFormatEx format;
    Samples data;
    bool result;
  };
  const std::vector<Row> rows = {
      {"peak32767", Format(2, 16), {5, 32767, -100, 0}, true},
      {"peakMinus32768", Format(1, 16), {5, -32768, 100}, true},
      {"allZero", Format(2, 16), Samples(4000, 0), true},
      {"noData", Format(1, 16), {}, true},
      {"eightBitZeroByte", Format(2, 8), {0, 160, 128, 128}, true},  // 0 is the loudest byte
      {"eightBitSilent", Format(2, 8), Samples(10, 128), true},
      {"eightBitPeak127", Format(1, 8), {128, 255, 130}, true},
      {"twentyFourBit", Format(1, 24), {0x10, 0, 0, 0x20, 0, 0}, false},
      {"aLaw", Format(1, 8, 6), {0x55, 0xD5}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_.events.clear();
    const std::string file = Path("Song.WAV");
    WriteWav(file, row.format, Encode(row.data, row.format.wBitsPerSample == 16 ? 16 : 8));
    const std::vector<char> before = FileBytes(file);
    EXPECT_EQ(pass_.Normalize(file), row.result);
    EXPECT_EQ(FileBytes(file), before);
    EXPECT_NE(host_.caption, kNormalizeCaption);
    ExpectReleased(file);
  }
}

TEST_F(NormalizationPassTest, ShowsTwoProgressRunsAndScalesAcrossBlocks) {
  Samples in(16384);  // 32768 bytes: eight blocks, so each step is 12.5 %
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = std::int32_t(i * 7919 % 32769) - 16384;
  in.back() = 16384;  // the peak comes in the last block
  const std::string file = Path("Song.WAV");
  WriteWav(file, Format(1, 16), Encode(in, 16));

  EXPECT_TRUE(pass_.Normalize(file));
  const std::vector<std::string> run = {"12", "25", "38", "50", "62", "75", "88", "100"};
  std::vector<std::string> expected = {"busy"};
  expected.insert(expected.end(), run.begin(), run.end());
  expected.push_back(kNormalizeCaption);
  expected.insert(expected.end(), run.begin(), run.end());
  expected.push_back("idle");
  EXPECT_EQ(host_.events, expected);
  EXPECT_EQ(host_.pumps, 16);

  // s × 32767 / 16384 rounded with halves to even, in integers.
  const Samples out = Decode(ReadData(file), 16);
  ASSERT_EQ(out.size(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::int64_t num = std::int64_t(in[i]) * 32767;
    std::int64_t q = num >= 0 ? num / 16384 : -((-num + 16383) / 16384);
    const std::int64_t twice = 2 * (num - q * 16384);
    if (twice > 16384 || (twice == 16384 && (q & 1))) ++q;
    ASSERT_EQ(out[i], q) << "sample " << i;
  }
}

TEST_F(NormalizationPassTest, FailedRenameKeepsTheOriginalNameAndRemovesTheTemp) {
  const std::string file = Path("Song.WAV");
  WriteWav(file, Format(1, 16), Encode({100, -200}, 16));
  host_.onPump = [&] {  // something takes the name while the gain stage runs
    if (host_.caption != kNormalizeCaption || fs::is_directory(file)) return;
    fs::remove(file);
    fs::create_directories(file + "/keep");
  };
  try {
    pass_.Normalize(file);
    FAIL() << "no error";
  } catch (const std::system_error& e) {
    EXPECT_TRUE(e.code().value() == EISDIR || e.code().value() == ENOTEMPTY) << e.what();
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::is_directory(file + "/keep"));
  EXPECT_EQ(host_.events.back(), "idle");
  ExpectReleased(file);
}

TEST_F(NormalizationPassTest, ErrorInsideThePassReleasesEverythingAndKeepsTheFile) {
  struct Row {
    const char* name;
    const char* stage;
    bool truncate;  // else the message pump throws
    const char* file = "Song.WAV";
  };
  const std::vector<Row> rows = {{"throwInScan", "Obtendo Dados..", false},
                                 {"throwInGain", kNormalizeCaption, false},
                                 {"truncatedInScan", "Obtendo Dados..", true},
                                 {"truncatedInGain", kNormalizeCaption, true},
                                 {"throwInGainOnTmpName", kNormalizeCaption, false, "Song.TMP"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string file = Path(row.file);
    Samples in(40000, 3000);
    in[5] = -16000;
    WriteWav(file, Format(2, 16), Encode(in, 16));
    std::vector<char> expected = FileBytes(file);
    host_.caption = "Obtendo Dados..";
    int stagePumps = 0;
    host_.onPump = [&] {
      if (host_.caption != row.stage || ++stagePumps != 3) return;
      if (!row.truncate) throw std::runtime_error("pump failed");
      fs::resize_file(file, 6000);
      expected = FileBytes(file);
    };
    EXPECT_ANY_THROW(pass_.Normalize(file));
    EXPECT_GE(stagePumps, 3);
    EXPECT_EQ(FileBytes(file), expected);
    EXPECT_EQ(host_.events.back(), "idle");
    ExpectReleased(file);
  }
  host_.events.clear();
  host_.onPump = nullptr;
  EXPECT_THROW(pass_.Normalize(Path("missing.WAV")), wave::EMMWaveError);
  EXPECT_TRUE(host_.events.empty());  // failed before the cursor changed
}

TEST_F(NormalizationPassTest, SecondPassOnTheSameNameReadsTheNewFile) {
  const std::string file = Path("Song.WAV");
  WriteWav(file, Format(1, 16), Encode(Samples(600, 1000), 16));
  const auto size = fs::file_size(file);
  ASSERT_TRUE(pass_.Normalize(file));
  // Another file of the first one's size under the same name, now 8-bit.
  WriteWav(file, Format(1, 8), Encode(Samples(1200, 160), 8));
  ASSERT_EQ(fs::file_size(file), size);
  EXPECT_TRUE(pass_.Normalize(file));
  EXPECT_EQ(Decode(ReadData(file), 8), Samples(1200, 255));
}

}  // namespace
}  // namespace app
