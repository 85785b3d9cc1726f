// Compressed WAVE input: the audio file source hands it to the PCM converter, which decodes it
// through the compression manager, alone or in a chain of steps. Files are made by sox, and the
// window's chain must give sox's own decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "sources/ACMConverter.h"
#include "sources/AcmChain.h"
#include "sources/AudioFile.h"
#include "stream/SyncDriver.h"
#include "tests/platform/CapturingReporter.h"
#include "tests/sources/ChainConversion.h"
#include "tests/sources/SourcesTestFiles.h"
#include "wave/WaveFile.h"

namespace sources::test {
namespace {

bool HaveSox() {
  return std::system("sox --version > /dev/null 2>&1") == 0;
}

bool Sox(const std::string& arguments) {
  return std::system(("sox -D -V1 " + arguments).c_str()) == 0;
}

// `seconds` of a sweep and a tone in sox's `encoding`.
std::string MakeFile(const TempDir& dir, const std::string& encoding, std::uint32_t rate,
                     unsigned channels, double seconds = 1.3) {
  const std::string path = dir.File(encoding + ".wav");
  EXPECT_TRUE(Sox("-n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -e " +
                  encoding + " '" + path + "' synth " + std::to_string(seconds) +
                  " sine 200-4000 sine 660 gain -3"));
  return path;
}

Pcm16 SoxDecode(const TempDir& dir, const std::string& path) {
  const std::string out = dir.File("sox-decoded.wav");
  EXPECT_TRUE(Sox("'" + path + "' -e signed -b 16 '" + out + "'"));
  return ReadWav(out);
}

struct Case {
  const char* encoding;
  std::uint32_t rate;
  unsigned channels;
  std::uint16_t tag;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.encoding << " " << c.channels << "ch " << c.rate;
}

class CompressedWaveConversionTest : public ::testing::TestWithParam<Case> {};

TEST_P(CompressedWaveConversionTest, MatchesSoxExceptTheFades) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  const Case& c = GetParam();
  TempDir dir;
  const std::string source = MakeFile(dir, c.encoding, c.rate, c.channels);
  {
    TMMAudioFile probe(nullptr);
    probe.SetFileName(source);
    ASSERT_NE(probe.GetPWaveFormat(), nullptr);
    // The stage cannot deliver PCM itself; the converter behind it decodes.
    EXPECT_FALSE(probe.ADPCMStage()->Enabled());
    EXPECT_EQ(probe.GetPWaveFormat()->wFormatTag, stream::WAVE_FORMAT_PCM);
    EXPECT_EQ(probe.GetPWaveFormat()->wBitsPerSample, 16);
  }
  platform::test::CapturingReporter reporter;
  const std::string ours = dir.File("ours.wav");
  ASSERT_TRUE(ConvertWithTrigger(source, ours));
  EXPECT_TRUE(reporter.Texts().empty());

  const Pcm16 a = ReadWav(ours);
  const Pcm16 b = SoxDecode(dir, source);
  ASSERT_EQ(a.format.nChannels, c.channels);
  ASSERT_EQ(a.format.nSamplesPerSec, c.rate);
  ASSERT_EQ(a.format.wBitsPerSample, 16);
  ExpectEqualButTheFades(a, b);
}

INSTANTIATE_TEST_SUITE_P(Formats, CompressedWaveConversionTest,
                         ::testing::Values(Case{"a-law", 8000, 1, 0x0006},
                                           Case{"u-law", 22050, 2, 0x0007},
                                           Case{"ima-adpcm", 44100, 2, 0x0011},
                                           Case{"ms-adpcm", 11025, 1, 0x0002},
                                           Case{"gsm-full-rate", 8000, 1, 0x0031}));

// Reads a wave file component block by block through a converter into memory.
std::vector<std::uint8_t> PullThrough(TMMACMConverter& converter, wave::TMMWaveFile& reader) {
  class Sink : public stream::TMMDSPComponent {
   public:
    Sink() : stream::TMMDSPComponent(nullptr) { PublishLinks(true, false); }
    void BufferReady(stream::PWaveHdr h) override {
      data.insert(data.end(), h->Data(), h->Data() + h->dwBytesRecorded);
    }
    std::vector<std::uint8_t> data;
  } sink;
  stream::TMMSyncDriver driver(nullptr);
  converter.SetInput(&reader);
  driver.SetInput(&converter);
  driver.SetOutput(&sink);
  driver.SetBufferSize(5000);
  driver.Run();
  driver.SetInput(nullptr);
  converter.SetInput(nullptr);
  return sink.data;
}

// IMA ADPCM stereo → 8-bit mono PCM needs two steps: the codec decodes, the PCM driver mixes down
// and narrows. The chain's bytes equal that arithmetic on sox's decode.
TEST(CompressedWaveChainTest, TwoStepsDecodeThenMixAndNarrow) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  TempDir dir;
  const std::string source = MakeFile(dir, "ima-adpcm", 22050, 2);
  wave::TMMWaveFile reader(nullptr);
  reader.Wave()->SetFileName(source);
  const stream::TWaveFormatEx* ima = reader.GetPWaveFormat();
  ASSERT_NE(ima, nullptr);
  const stream::TWaveFormatEx wanted = Pcm(1, 22050, 8);
  ASSERT_TRUE(CanConvertChain(ima, &wanted, cqHigh));
  const auto chain = AcmChain::Build(ima, &wanted, cqHigh, 8192);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->Steps(), 2u);

  TMMACMConverter converter(nullptr);
  converter.SetPWaveFormat(&wanted);
  const std::vector<std::uint8_t> out = PullThrough(converter, reader);

  const Pcm16 decoded = SoxDecode(dir, source);
  ASSERT_EQ(out.size(), decoded.samples.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int mono = (decoded.samples[2 * i] + decoded.samples[2 * i + 1]) / 2;
    const int narrow = ((mono + (mono < 0 ? 255 : 0)) >> 8) + 128;
    ASSERT_EQ(out[i], narrow) << "frame " << i;
  }
}

// PCM to a codec at another rate and channel count: the PCM driver converts first, then the
// codec encodes; what comes out decodes back to the tone.
TEST(CompressedWaveChainTest, PcmIsEncodedThroughARateChange) {
  const stream::TWaveFormatEx pcm = Pcm(2, 44100, 16);
  const stream::TWaveFormatEx muLaw{0x0007, 1, 8000, 8000, 1, 8, 0};
  ASSERT_TRUE(CanConvertChain(&pcm, &muLaw, cqLow));
  const auto chain = AcmChain::Build(&pcm, &muLaw, cqLow, 8192);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->Steps(), 2u);

  TempDir dir;
  const std::string path = dir.File("tone.wav");
  std::vector<std::int16_t> tone(44100 * 2);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<std::int16_t>(
        8000 * std::sin(2 * std::numbers::pi * 500 * double(i / 2) / 44100));
  }
  WriteWav(path, pcm, tone);
  wave::TMMWaveFile reader(nullptr);
  reader.Wave()->SetFileName(path);
  TMMACMConverter converter(nullptr);
  converter.SetQuality(cqLow);
  converter.SetPWaveFormat(&muLaw);
  const std::vector<std::uint8_t> out = PullThrough(converter, reader);
  // One second at 8000 Hz, give or take the resampler's edges.
  EXPECT_NEAR(static_cast<double>(out.size()), 8000.0, 16.0);
  // Expanded again, the codes carry the tone: its level, and no offset.
  double sum = 0;
  double squares = 0;
  const std::size_t first = 100;
  const std::size_t count = out.size() - 2 * first;
  for (std::size_t i = first; i < first + count; ++i) {
    const int code = ~out[i] & 0xFF;
    const int magnitude = (((code & 0x0F) << 3) + 0x84) << ((code & 0x70) >> 4);
    const int value = (code & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84;
    sum += value;
    squares += double(value) * value;
  }
  EXPECT_NEAR(sum / count, 0.0, 50.0);
  EXPECT_NEAR(std::sqrt(squares / count), 8000 / std::numbers::sqrt2, 200.0);
}

}  // namespace
}  // namespace sources::test
