// The one output stage: every kind of source gets the same depth, normalization and tags; and a
// source whose segments do not decode as planned is decoded again in one run, once.
#include "cli/OutputStage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli/FileConverter.h"
#include "cli/FloatSamples.h"
#include "cli/LibraryMessages.h"
#include "cli/LoudnessMeter.h"
#include "cli/WaveSource.h"
#include "platform/PartialFile.h"
#include "tests/cli/CliTestSupport.h"
#include "wave/WaveIO.h"

namespace cli {
namespace {

using test::Fixture;
using test::ReadAll;
using test::WriteAll;
namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr double kSeconds = 3.0;

// A stereo 1 kHz tone at -20 dBFS.
std::vector<float> Tone() {
  std::vector<float> samples(static_cast<std::size_t>(kRate * kSeconds) * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<float>(0.1 * std::sin(2 * M_PI * 1000.0 * double(i / 2) / kRate));
  }
  return samples;
}

// Writes `samples` as a WAVE file of `tag` (1: 16-bit PCM, 3: float) with an INFO title.
void WriteSource(const fs::path& path, int tag, const std::vector<float>& samples) {
  stream::TWaveFormatEx format{};
  format.wFormatTag = static_cast<std::uint16_t>(tag);
  format.nChannels = 2;
  format.nSamplesPerSec = kRate;
  format.wBitsPerSample = tag == 1 ? 16 : 32;
  format.nBlockAlign = static_cast<std::uint16_t>(2 * format.wBitsPerSample / 8);
  format.nAvgBytesPerSec = kRate * format.nBlockAlign;
  std::string data;
  for (const float s : samples) {
    if (tag == 1) {
      const auto v = static_cast<std::int16_t>(std::lround(s * 32767.0));
      data.append(reinterpret_cast<const char*>(&v), 2);
    } else {
      data.append(reinterpret_cast<const char*>(&s), 4);
    }
  }
  wave::WaveIOHandlePtr h;
  ASSERT_EQ(wave::WaveIOFromFormat(h, &format), wave::kWaveIOOk);
  ASSERT_EQ(wave::WaveIOSetInfoText(h.get(), "INAM", "Tone title"), wave::kWaveIOOk);
  ASSERT_EQ(wave::WaveIOCreateFile(h.get(), path.native()), wave::kWaveIOOk);
  ASSERT_EQ(wave::WaveIOWrite(h.get(), data.data(), std::int64_t(data.size())),
            std::int64_t(data.size()));
  ASSERT_EQ(wave::WaveIOFinalize(h.get()), wave::kWaveIOOk);
}

// Appends a "LIST"/"INFO" list with a title to a RIFF file and mends its size.
void AppendInfoTitle(const fs::path& path) {
  std::string b = ReadAll(path);
  if (b.size() & 1) b += '\0';
  b += test::RiffChunk("LIST", "INFO" + test::RiffChunk("INAM", std::string("Tone title\0", 11)));
  b.replace(4, 4, test::U32(static_cast<std::uint32_t>(b.size() - 8)));
  WriteAll(path, b);
}

struct Output {
  int bits = 0;
  bool extensible = false;
  std::string title;
  std::string data;
  std::vector<float> samples;
};

Output ReadOutput(const fs::path& path) {
  Output out;
  wave::WaveIOHandlePtr h;
  if (wave::WaveIOReadInfo(h, path.native(), nullptr, wave::kFourCCWave, wave::kRiffModePath) !=
      wave::kWaveIOOk) {
    return out;
  }
  out.bits = h->Format()->wBitsPerSample;
  out.extensible = h->Format()->wFormatTag == 0xFFFE;
  if (const wave::TInfoItem* item =
          wave::InfoListFind(h->info.get(), platform::MakeFourCC('I', 'N', 'A', 'M'))) {
    out.title = wave::InfoItemText(*h->info, *item).value_or("");
  }
  out.data.resize(h->dataBytes);
  wave::WaveIOReopen(h.get());
  wave::WaveIORead(h.get(), out.data.data(), std::int64_t(out.data.size()));
  const auto layout = RawSamplesOf(h->Format());
  if (layout) {
    out.samples.resize(out.data.size() / RawSampleBytes(*layout));
    ToFloat(*layout, reinterpret_cast<const unsigned char*>(out.data.data()), out.samples.size(),
            out.samples.data());
  }
  return out;
}

double Lufs(const std::vector<float>& samples, int rate) {
  LoudnessMeter meter(2, rate);
  meter.Add(samples.data(), samples.size() / 2);
  return meter.IntegratedLufs();
}

class OutputStageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallLibraryMessageReporter(); }
  test::ScratchDir dir;
};

TEST_F(OutputStageTest, EverySourceKindTakesDepthGainAndTags) {
  const bool haveSox = std::system("sox --version > /dev/null 2>&1") == 0;
  const std::vector<float> tone = Tone();
  WriteSource(dir / "pcm16.wav", 1, tone);
  WriteSource(dir / "float.wav", 3, tone);
  if (haveSox) {
    // Without dither (-D), whose noise sox draws afresh on each run: one fixture, one result.
    const std::string make = "sox -D '" + (dir / "pcm16.wav").native() + "' -e ima-adpcm '" +
                             (dir / "ima.wav").native() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    AppendInfoTitle(dir / "ima.wav");
  }
  struct Source {
    const char* name;
    fs::path path;
    bool wave;
  };
  std::vector<Source> sources = {{"PCM16", dir / "pcm16.wav", true},
                                 {"float", dir / "float.wav", true},
                                 {"MPEG", Fixture("cbr44_joint.mp3"), false}};
  if (haveSox) sources.push_back({"IMA ADPCM", dir / "ima.wav", true});

  struct Options {
    const char* name;
    OutputDepth depth;
    NormalizeSpec normalize;
  };
  const Options options[] = {
      {"24 bits at -16 LUFS", OutputDepth::k24, {NormalizeSpec::kLoudness, -16.0}},
      {"16 bits, peak", OutputDepth::k16, {NormalizeSpec::kPeak, kDefaultTargetLufs}},
      {"32f, no gain", OutputDepth::k32Float, {}},
  };
  for (const Source& source : sources) {
    for (const Options& option : options) {
      SCOPED_TRACE(std::string(source.name) + ", " + option.name);
      FileConverter converter;
      OutputSettings settings;
      settings.depth = option.depth;
      settings.normalize = option.normalize;
      settings.parts = 2;
      converter.SetOutputSettings(settings);
      converter.SetExistingFiles(ExistingFiles::kReplace);
      const fs::path out = dir / "out.WAV";
      const ConversionResult r = converter.Convert(source.path, out);
      ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
      const Output o = ReadOutput(out);
      EXPECT_EQ(o.bits, BitsPerSample(option.depth));
      EXPECT_EQ(o.extensible, option.depth == OutputDepth::k24);
      if (source.wave) {
        EXPECT_EQ(o.title, "Tone title");
      }
      ASSERT_FALSE(o.samples.empty());
      float peak = 0;
      for (const float s : o.samples) peak = std::max(peak, std::fabs(s));
      switch (option.normalize.mode) {
        case NormalizeSpec::kLoudness:
          EXPECT_NEAR(Lufs(o.samples, kRate), -16.0, 0.2);
          EXPECT_FALSE(r.gain.empty());
          break;
        case NormalizeSpec::kPeak:
          EXPECT_GE(peak, 32764.0f / 32768.0f);
          EXPECT_LE(peak, 32767.0f / 32768.0f);
          break;
        case NormalizeSpec::kNone:
          // The source's own level: the tone, or the MP3's.
          if (source.wave) {
            EXPECT_NEAR(peak, 0.1, 0.002);
          }
          EXPECT_TRUE(r.gain.empty());
          break;
      }
    }
  }
}

TEST_F(OutputStageTest, APcm16WaveIsCopiedOrCutIntoSegmentsWithTheSameBytes) {
  // A minute and more: long enough for three segments of 20 s.
  std::vector<float> tone = Tone();
  while (tone.size() < std::size_t(61 * kRate * 2))
    tone.insert(tone.end(), tone.begin(), tone.begin() + kRate * 2);
  WriteSource(dir / "pcm16.wav", 1, tone);
  const auto convert = [&](OutputSettings settings, const fs::path& out) {
    FileConverter converter;
    converter.SetOutputSettings(settings);
    const ConversionResult r = converter.Convert(dir / "pcm16.wav", out);
    EXPECT_EQ(r.status, ConversionResult::kConverted) << r.reason;
    return ReadAll(out);
  };
  OutputSettings plain;
  plain.parts = 3;
  convert(plain, dir / "copy.WAV");
  EXPECT_EQ(test::PcmData(dir / "copy.WAV"), test::PcmData(dir / "pcm16.wav"));
  EXPECT_EQ(ReadOutput(dir / "copy.WAV").title, "Tone title");
  // --no-tags leaves the source's INFO list behind.
  plain.tags = false;
  convert(plain, dir / "bare.WAV");
  EXPECT_EQ(ReadOutput(dir / "bare.WAV").title, "");

  OutputSettings cut;
  cut.depth = OutputDepth::k24;
  cut.normalize.mode = NormalizeSpec::kPeak;
  cut.parts = 1;
  const std::string whole = convert(cut, dir / "whole.WAV");
  cut.parts = 3;
  EXPECT_TRUE(whole == convert(cut, dir / "cut.WAV")) << "segments differ from one run";
}

TEST_F(OutputStageTest, StoredSamplesAreCopiedFileToFileAndAShrunkFileAsFarAsItGoes) {
  std::string data(4 * 100003, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = char((i * 7 + i / 3) % 253);
  struct Row {
    const char* name;
    int channels;
    int bits;
    std::size_t dataBytes;
    std::size_t keptAfterBinding;  // of the data, when the file is cut after it was read
  };
  const Row rows[] = {
      {"16-bit stereo", 2, 16, data.size(), data.size()},
      {"24-bit mono, an odd length with its pad byte", 1, 24, 3 * 100001, 3 * 100001},
      {"cut short after it was read", 2, 16, data.size(), 4 * 60000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path in = dir / "in.wav";
    WriteAll(in, test::WaveFile(1, row.channels, kRate, row.bits, row.channels * row.bits / 8,
                                data.substr(0, row.dataBytes)));
    WaveSource source;
    ASSERT_EQ(source.Bind(in), "");
    // The header is 44 bytes.
    fs::resize_file(in, 44 + row.keptAfterBinding);
    OutputSettings settings;
    settings.depth = row.bits == 24 ? OutputDepth::k24 : OutputDepth::k16;
    settings.parts = 2;
    OutputStage stage(settings, nullptr, nullptr, {});
    platform::PartialFile partial(dir / "out.WAV");
    const ConversionResult r = stage.Run(source, dir / "out.WAV", partial.Path());
    ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
    EXPECT_EQ(r.bytes, std::int64_t(row.keptAfterBinding));
    const std::string file = ReadAll(partial.Path());
    std::uint32_t riffSize = 0;
    std::memcpy(&riffSize, file.data() + 4, 4);
    EXPECT_EQ(riffSize, file.size() - 8);
    const Output o = ReadOutput(partial.Path());
    ASSERT_EQ(o.data.size(), row.keptAfterBinding);
    EXPECT_TRUE(o.data == data.substr(0, row.keptAfterBinding));
  }
}

// A source of float samples in memory whose segments do not decode as planned, as an MPEG file's
// may not: it records each pass it is asked for.
class UncuttableSource final : public PcmSource {
 public:
  explicit UncuttableSource(std::vector<float> samples) : samples_(std::move(samples)) {}
  int Channels() const override { return 2; }
  int Rate() const override { return kRate; }
  // Long enough to be measured in parts.
  std::int64_t LengthMs() const override { return 90000; }
  std::uint64_t MaxFrames() const override { return samples_.size() / 2; }
  bool Delivers(OutputDepth) const override { return false; }
  std::vector<SourceSegment> Plan(unsigned max, std::int64_t, SampleForm, OutputDepth) override {
    if (max < 2) return {};
    const std::int64_t half = std::int64_t(samples_.size() / 4);
    return {{0, half, 0}, {half, std::int64_t(samples_.size() / 2) - half, 1}};
  }
  DecodeStatus Decode(DecodePass& pass, const std::atomic<bool>*) override {
    passes.push_back(pass.segments.empty() ? "whole" : "cut");
    if (!pass.segments.empty()) return DecodeStatus::kRedecode;
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples_.data());
    for (std::size_t at = 0; at < samples_.size(); at += 4096) {
      const std::size_t n = std::min<std::size_t>(4096, samples_.size() - at);
      pass.frames += std::int64_t(n / 2);
      if (!pass.block(0, bytes + at * 4, n * 4, std::int64_t(at))) return DecodeStatus::kStopped;
    }
    return DecodeStatus::kComplete;
  }
  SourceTags Tags() const override { return {}; }

  std::vector<std::string> passes;

 private:
  std::vector<float> samples_;
};

TEST_F(OutputStageTest, ASourceThatCannotBeCutIsDecodedAgainInOneRunOnce) {
  const std::vector<float> tone = Tone();
  struct Row {
    const char* name;
    NormalizeSpec normalize;
    std::vector<std::string> passes;
  };
  const Row rows[] = {
      {"write only", {}, {"cut", "whole"}},
      // The measuring pass finds out; the writing pass does not try cutting again.
      {"measure and write", {NormalizeSpec::kPeak, kDefaultTargetLufs}, {"cut", "whole", "whole"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OutputSettings settings;
    settings.depth = OutputDepth::k24;
    settings.normalize = row.normalize;
    settings.parts = 2;
    UncuttableSource source(tone);
    OutputStage stage(settings, nullptr, nullptr, {});
    platform::PartialFile partial(dir / "out.WAV");
    const ConversionResult r = stage.Run(source, dir / "out.WAV", partial.Path());
    ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
    EXPECT_EQ(source.passes, row.passes);
    const Output o = ReadOutput(partial.Path());
    ASSERT_EQ(o.samples.size(), tone.size());
    const double scale = row.normalize.mode == NormalizeSpec::kPeak ? 1.0 / 0.1 : 1.0;
    for (std::size_t i = 0; i < tone.size(); i += 997) {
      EXPECT_NEAR(o.samples[i], tone[i] * scale, 1e-4) << i;
    }
  }
}

}  // namespace
}  // namespace cli
