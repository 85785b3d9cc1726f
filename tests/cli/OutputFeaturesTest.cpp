// The outputs of MPEG sources as other tools see them: tags, RF64, depth, clipping and loudness.
#include <gtest/gtest.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/wavfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "cli/FileConverter.h"
#include "cli/LibraryMessages.h"
#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::Fixture;
using test::ReadAll;
namespace fs = std::filesystem;

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0;
}

// What a command printed on stdout.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

bool RunQuietly(const std::string& command) {
  return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// The chunk ids of a RIFF or RF64 file, in file order.
std::vector<std::string> ChunkIds(const std::string& b) {
  std::vector<std::string> ids;
  for (std::size_t at = 12; at + 8 <= b.size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, b.data() + at + 4, 4);
    ids.push_back(b.substr(at, 4));
    if (size == 0xFFFFFFFFu) break;
    at += 8 + size + (size & 1);
  }
  return ids;
}

// The samples of the "data" chunk.
std::string Data(const fs::path& wav) {
  const std::string b = ReadAll(wav);
  for (std::size_t at = 12; at + 8 <= b.size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, b.data() + at + 4, 4);
    if (b.compare(at, 4, "data") == 0) return b.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  return {};
}

std::vector<std::int16_t> Samples16(const fs::path& wav) {
  const std::string d = Data(wav);
  std::vector<std::int16_t> s(d.size() / 2);
  std::memcpy(s.data(), d.data(), s.size() * 2);
  return s;
}

class OutputFeaturesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallLibraryMessageReporter(); }

  ConversionResult Convert(const fs::path& source, const fs::path& out,
                           const OutputSettings& settings = {}) {
    converter.SetOutputSettings(settings);
    return converter.Convert(source, out);
  }

  // An MP3 made with sox and lame; empty when a tool is missing.
  fs::path MakeMp3(const std::string& name, const std::string& synth, const std::string& lame) {
    const fs::path wav = dir / (name + ".wav");
    const fs::path mp3 = dir / (name + ".mp3");
    if (!Have("sox") || !Have("lame")) return {};
    if (!RunQuietly("sox -R -D -n -r 44100 -c 2 -b 16 '" + wav.native() + "' " + synth) ||
        !RunQuietly("lame --silent --noreplaygain " + lame + " '" + wav.native() + "' '" +
                    mp3.native() + "'")) {
      return {};
    }
    return mp3;
  }

  test::ScratchDir dir;
  FileConverter converter;
};

TEST_F(OutputFeaturesTest, TagsAreReadBackByTagLibAndFfprobe) {
  struct Row {
    const char* name;
    bool v1Only;
    const char* title;
  };
  const Row rows[] = {{"v24", false, "Ação — 東京"}, {"v1", true, "Plain title"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path mp3 = dir / (std::string(row.name) + ".mp3");
    fs::copy_file(Fixture("cbr44_joint.mp3"), mp3);
    {
      TagLib::MPEG::File f(mp3.c_str());
      TagLib::Tag* tag =
          row.v1Only ? static_cast<TagLib::Tag*>(f.ID3v1Tag(true)) : f.ID3v2Tag(true);
      tag->setTitle(TagLib::String(row.title, TagLib::String::UTF8));
      tag->setArtist("The Artist");
      tag->setAlbum("The Album");
      tag->setYear(1999);
      tag->setTrack(7);
      ASSERT_TRUE(f.save(row.v1Only ? TagLib::MPEG::File::ID3v1 : TagLib::MPEG::File::ID3v2));
    }
    const fs::path wav = dir / (std::string(row.name) + ".WAV");
    ASSERT_EQ(Convert(mp3, wav).status, ConversionResult::kConverted);
    const std::vector<std::string> ids = ChunkIds(ReadAll(wav));
    EXPECT_EQ(ids, (std::vector<std::string>{"fmt ", "data", "fact", "LIST", "id3 "}));

    TagLib::RIFF::WAV::File back(wav.c_str());
    ASSERT_TRUE(back.isValid());
    for (TagLib::Tag* tag :
         {static_cast<TagLib::Tag*>(back.ID3v2Tag()), static_cast<TagLib::Tag*>(back.InfoTag())}) {
      EXPECT_EQ(tag->title().to8Bit(true), row.title);
      EXPECT_EQ(tag->artist().to8Bit(true), "The Artist");
      EXPECT_EQ(tag->album().to8Bit(true), "The Album");
      EXPECT_EQ(tag->year(), 1999u);
    }
    if (Have("ffprobe")) {
      const std::string probe = Output(
          "ffprobe -v error -show_entries format_tags -of default=nw=1 '" + wav.native() + "'");
      EXPECT_NE(probe.find(std::string("title=") + row.title), std::string::npos) << probe;
      EXPECT_NE(probe.find("artist=The Artist"), std::string::npos) << probe;
      EXPECT_NE(probe.find("album=The Album"), std::string::npos) << probe;
      EXPECT_NE(probe.find("track=7"), std::string::npos) << probe;
    }
    // Without tags the layout is the plain one.
    const fs::path plain = dir / (std::string(row.name) + "-plain.WAV");
    OutputSettings noTags;
    noTags.tags = false;
    ASSERT_EQ(Convert(mp3, plain, noTags).status, ConversionResult::kConverted);
    EXPECT_EQ(ChunkIds(ReadAll(plain)), (std::vector<std::string>{"fmt ", "data", "fact"}));
    EXPECT_EQ(Data(plain), Data(wav));
  }
  // A file without tags writes neither chunk.
  ASSERT_EQ(Convert(Fixture("notag_cbr44.mp3"), dir / "none.WAV").status,
            ConversionResult::kConverted);
  EXPECT_EQ(ChunkIds(ReadAll(dir / "none.WAV")),
            (std::vector<std::string>{"fmt ", "data", "fact"}));
}

TEST_F(OutputFeaturesTest, DepthsEqualTheDecodersOwnOutput) {
  if (!Have("mpg123")) GTEST_SKIP() << "no mpg123";
  struct Row {
    OutputDepth depth;
    const char* encoding;
    std::uint16_t tag;
  };
  for (const Row& row : {Row{OutputDepth::k24, "s24", 0xFFFE}, Row{OutputDepth::k32, "s32", 0xFFFE},
                         Row{OutputDepth::k32Float, "f32", 3}}) {
    for (const char* name : {"vbr44_joint.mp3", "cbr48_mono.mp3", "layer2_48.mp2"}) {
      SCOPED_TRACE(std::string(name) + " " + row.encoding);
      const fs::path ours = dir / (std::string(name) + row.encoding + ".WAV");
      const fs::path theirs = dir / (std::string(name) + row.encoding + ".mpg123.wav");
      OutputSettings settings;
      settings.depth = row.depth;
      ASSERT_EQ(Convert(Fixture(name), ours, settings).status, ConversionResult::kConverted);
      ASSERT_TRUE(RunQuietly("mpg123 -q -e " + std::string(row.encoding) + " -w '" +
                             theirs.native() + "' '" + Fixture(name).native() + "'"));
      const std::string data = Data(ours);
      ASSERT_FALSE(data.empty());
      EXPECT_TRUE(data == Data(theirs));
      const std::string b = ReadAll(ours);
      std::uint16_t tag = 0;
      std::memcpy(&tag, b.data() + 20, 2);
      EXPECT_EQ(tag, row.tag);
      if (Have("soxi")) {
        EXPECT_EQ(std::stoul(Output("soxi -s '" + ours.native() + "'")),
                  data.size() / (row.depth == OutputDepth::k24 ? 3 : 4) /
                      (std::string(name) == "cbr48_mono.mp3" ? 1 : 2));
      }
    }
  }
}

TEST_F(OutputFeaturesTest, AHotMasterClipsAt16BitsOnlyAndPeakNormalizationAvoidsIt) {
  // A loud sine encoded 3 dB hotter than full scale: its decoded peaks pass full scale.
  const fs::path hot = MakeMp3("hot", "synth 3 sine 440 sine 660 vol 0.9", "-b 192 --scale 1.41");
  if (hot.empty()) GTEST_SKIP() << "no sox or lame";

  const ConversionResult plain = Convert(hot, dir / "plain.WAV");
  ASSERT_EQ(plain.status, ConversionResult::kConverted);
  const std::vector<std::int16_t> s = Samples16(dir / "plain.WAV");
  const auto atFullScale =
      std::count_if(s.begin(), s.end(), [](std::int16_t v) { return v == 32767 || v == -32768; });
  EXPECT_GT(plain.clipped, 1000);
  EXPECT_EQ(plain.clipped, atFullScale);

  OutputSettings asFloat;
  asFloat.depth = OutputDepth::k32Float;
  const ConversionResult f = Convert(hot, dir / "float.WAV", asFloat);
  ASSERT_EQ(f.status, ConversionResult::kConverted);
  EXPECT_EQ(f.clipped, 0);
  const std::string d = Data(dir / "float.WAV");
  float peak = 0;
  for (std::size_t i = 0; i + 4 <= d.size(); i += 4) {
    float v;
    std::memcpy(&v, d.data() + i, 4);
    peak = std::max(peak, std::fabs(v));
  }
  EXPECT_GT(peak, 1.2f);  // the overs are kept

  OutputSettings normalized;
  normalized.normalize.mode = NormalizeSpec::kPeak;
  const ConversionResult n = Convert(hot, dir / "normalized.WAV", normalized);
  ASSERT_EQ(n.status, ConversionResult::kConverted);
  EXPECT_EQ(n.clipped, 0);
  EXPECT_FALSE(n.gain.empty());
  const std::vector<std::int16_t> ns = Samples16(dir / "normalized.WAV");
  int largest = 0;
  for (std::int16_t v : ns) largest = std::max(largest, std::abs(static_cast<int>(v)));
  EXPECT_GE(largest, 32760);  // the peak reaches full scale, less the dither's step
  EXPECT_LE(largest, 32767);
  // Same length as the plain conversion: one gain, nothing dropped.
  EXPECT_EQ(ns.size(), s.size());
}

TEST_F(OutputFeaturesTest, LoudnessNormalizationReachesItsTarget) {
  const fs::path pink = MakeMp3("pink", "synth 20 pinknoise vol 0.3", "-b 192");
  if (pink.empty()) GTEST_SKIP() << "no sox or lame";
  if (!Have("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
  for (double target : {-23.0, -14.0}) {
    SCOPED_TRACE(target);
    OutputSettings settings;
    settings.normalize = {NormalizeSpec::kLoudness, target};
    const fs::path out = dir / ("pink" + std::to_string(static_cast<int>(target)) + ".WAV");
    const ConversionResult r = Convert(pink, out, settings);
    ASSERT_EQ(r.status, ConversionResult::kConverted);
    EXPECT_EQ(r.clipped, 0);
    const std::string log =
        Output("ffmpeg -nostats -hide_banner -i '" + out.native() + "' -af ebur128 -f null - 2>&1");
    std::smatch m;
    const std::regex integrated(R"(I:\s+(-?[0-9.]+) LUFS)");
    std::string last;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), integrated);
         it != std::sregex_iterator(); ++it) {
      last = (*it)[1];
    }
    ASSERT_FALSE(last.empty()) << log;
    EXPECT_NEAR(std::stod(last), target, 0.1);
  }
}

// An output whose length passes the RIFF limit is written as RF64 from its first bytes: a
// 3.4-hour stream of 32 kbit/s frames is 4.3 GB of float samples. Only the first block is
// written; the header is on disk by then.
TEST_F(OutputFeaturesTest, AnOutputPastTheRiffLimitIsRf64) {
  const fs::path one = MakeMp3("one", "synth 1 sine 440", "-b 32 -t --resample 44.1");
  if (one.empty()) GTEST_SKIP() << "no sox or lame";
  const std::string frames = ReadAll(one);
  const fs::path longMp3 = dir / "long.mp3";
  {
    std::ofstream out(longMp3, std::ios::binary);
    for (int i = 0; i < 12400; ++i) out << frames;
  }
  std::atomic<bool> cancel{false};
  converter.SetCancelFlag(&cancel);
  OutputSettings settings;
  settings.depth = OutputDepth::k32Float;
  converter.SetOutputSettings(settings);
  std::string header;
  const ConversionResult r =
      converter.Convert(longMp3, dir / "long.WAV", [&](std::int64_t, std::int64_t length) {
        if (!header.empty()) return;
        EXPECT_GT(length, 3 * 3600 * 1000);
        for (const fs::path& p : test::PartialFiles(dir.path())) header = ReadAll(p).substr(0, 64);
        cancel = true;
      });
  EXPECT_EQ(r.status, ConversionResult::kCancelled);
  ASSERT_GE(header.size(), 48u);
  EXPECT_EQ(header.substr(0, 4), "RF64");
  EXPECT_EQ(header.substr(4, 4), std::string(4, '\xFF'));
  EXPECT_EQ(header.substr(12, 4), "ds64");
  EXPECT_TRUE(test::PartialFiles(dir.path()).empty());
  // A short file keeps the plain RIFF layout.
  converter.SetCancelFlag(nullptr);
  ASSERT_EQ(Convert(one, dir / "short.WAV", settings).status, ConversionResult::kConverted);
  EXPECT_EQ(ReadAll(dir / "short.WAV").substr(0, 4), "RIFF");
}

}  // namespace
}  // namespace cli
