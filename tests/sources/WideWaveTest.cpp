// WAVE files with 24- or 32-bit PCM, float samples, or either in an extensible record: the audio
// file source delivers them as 16-bit PCM, the samples sox gives when it narrows without dither.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "acm/ExtensibleFormat.h"
#include "sources/AudioFile.h"
#include "stream/SyncDriver.h"
#include "tests/sources/ChainConversion.h"
#include "tests/sources/SourcesTestFiles.h"

namespace sources::test {
namespace {

bool Sox(const std::string& arguments) {
  return std::system(("sox -D -V1 " + arguments).c_str()) == 0;
}

// Writes a WAVE file of `format` (with its extra bytes) and raw sample bytes.
void WriteRaw(const std::string& path, const stream::TWaveFormatEx& format,
              const std::vector<char>& bytes) {
  wave::TMMWave w;
  w.CreateWaveFile(path, &format);
  ASSERT_EQ(w.WriteBytes(bytes.data(), static_cast<std::int64_t>(bytes.size())),
            static_cast<std::int64_t>(bytes.size()));
  w.CloseFile();
}

// The same samples in the extensible record that ffmpeg writes for them.
void RewriteAsExtensible(const std::string& from, const std::string& to, const acm::Guid& code) {
  wave::TMMWave w;
  w.SetFileName(from);
  ASSERT_NE(w.GetPWaveFormat(), nullptr);
  const acm::ExtensibleRecord record = acm::makeExtensible(*AsAcm(w.GetPWaveFormat()), code);
  w.OpenFile();
  std::vector<char> bytes(1 << 20);
  bytes.resize(static_cast<std::size_t>(w.ReadBytes(bytes.data(), bytes.size())));
  WriteRaw(to, *reinterpret_cast<const stream::TWaveFormatEx*>(&record), bytes);
}

struct WideCase {
  const char* name;
  const char* soxFormat;  // sox's options for the file it writes
  std::uint32_t rate;
  unsigned channels;
  const acm::Guid* rewriteAs;  // the file made extensible with this sub-format; null: as sox wrote
  std::uint16_t tag;           // the format tag of the file then
};

void PrintTo(const WideCase& c, std::ostream* os) {
  *os << c.name;
}

class WideWaveTest : public ::testing::TestWithParam<WideCase> {};

// Through the window's chain into a WAV file. The tones reach full scale, so clipping is met too.
// The source's fades touch only the first and last milliseconds (only towards silence);
// everything between is sox's narrowing to the sample.
TEST_P(WideWaveTest, ConvertsToSixteenBitsAsSoxDoes) {
  if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const WideCase& c = GetParam();
  TempDir dir;
  std::string source = dir.File("sox.wav");
  ASSERT_TRUE(Sox("-n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " +
                  c.soxFormat + " '" + source + "' synth 1.3 sine 200-4000 sine 660"));
  if (c.rewriteAs != nullptr) {
    RewriteAsExtensible(source, dir.File("in.wav"), *c.rewriteAs);
    source = dir.File("in.wav");
  }
  {
    TMMAudioFile probe(nullptr);
    probe.SetFileName(source);
    ASSERT_EQ(probe.WaveReader()->GetPWaveFormat()->wFormatTag, c.tag);
    EXPECT_FALSE(probe.ADPCMStage()->Enabled());
    ASSERT_NE(probe.GetPWaveFormat(), nullptr);
    EXPECT_EQ(probe.GetPWaveFormat()->wFormatTag, stream::WAVE_FORMAT_PCM);
    EXPECT_EQ(probe.GetPWaveFormat()->wBitsPerSample, 16);
    EXPECT_EQ(probe.FileLength(), 1300);
  }
  const std::string ours = dir.File("ours.wav");
  ASSERT_TRUE(ConvertWithTrigger(source, ours));
  const std::string theirs = dir.File("theirs.wav");
  ASSERT_TRUE(Sox("'" + source + "' -b 16 '" + theirs + "'"));
  const Pcm16 a = ReadWav(ours);
  const Pcm16 b = ReadWav(theirs);
  EXPECT_EQ(std::memcmp(&a.format, &b.format, sizeof a.format), 0);
  ExpectEqualButTheFades(a, b);
}

constexpr std::uint16_t kExtensible = acm::kWaveFormatExtensible;
INSTANTIATE_TEST_SUITE_P(
    Formats, WideWaveTest,
    ::testing::Values(
        WideCase{"Pcm24", "-e signed-integer -b 24", 44100, 2, nullptr, kExtensible},
        WideCase{"Pcm24Plain", "-e signed-integer -b 24 -t wavpcm", 22050, 1, nullptr, 1},
        WideCase{"Pcm32", "-e signed-integer -b 32", 48000, 1, nullptr, kExtensible},
        WideCase{"Pcm32Plain", "-e signed-integer -b 32 -t wavpcm", 8000, 2, nullptr, 1},
        WideCase{"Float32", "-e floating-point -b 32", 44100, 2, nullptr, 3},
        WideCase{"Float64", "-e floating-point -b 64", 11025, 1, nullptr, 3},
        WideCase{"Float32Extensible", "-e floating-point -b 32", 32000, 2,
                 &acm::kSubFormatIeeeFloat, kExtensible},
        WideCase{"Pcm8Extensible", "-e unsigned-integer -b 8", 96000, 1, &acm::kSubFormatPcm,
                 kExtensible},
        WideCase{"Pcm16Extensible", "-e signed-integer -b 16", 96000, 2, &acm::kSubFormatPcm,
                 kExtensible}),
    [](const auto& info) { return std::string(info.param.name); });

// Float beyond ±1.0 clips at full scale, NaN is silence, and halves of the last bit round
// upwards (through 32 bits, as sox does: just under a half can become one at 32 bits).
// Repeated across several of the converter's chunks; without the fades, to the sample.
TEST(WideFloatWaveTest, ClipsAndRoundsToNearest) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double lsb = 1.0 / 32768;
  const std::vector<double> pattern = {2.0,        -3.0,      1.0,        -1.0,         inf,
                                       -inf,       nan,       0.25,       -0.999,       0.5 * lsb,
                                       -0.5 * lsb, 1.5 * lsb, -1.5 * lsb, 32767.5 * lsb};
  const std::vector<std::int16_t> expected = {32767, -32768, 32767, -32768, 32767, -32768, 0,
                                              8192,  -32735, 1,     0,      2,     -1,     32767};
  const std::vector<double> nearHalf = {32767.7 / 2147483648, -32768.3 / 2147483648};
  for (const std::uint16_t bits : {32, 64}) {
    SCOPED_TRACE(bits);
    std::vector<double> values;
    std::vector<std::int16_t> wanted;
    for (int r = 0; r < 2000; ++r) {
      values.insert(values.end(), pattern.begin(), pattern.end());
      wanted.insert(wanted.end(), expected.begin(), expected.end());
      if (bits == 64) {
        values.insert(values.end(), nearHalf.begin(), nearHalf.end());
        wanted.insert(wanted.end(), {1, 0});
      }
    }
    std::vector<char> bytes;
    for (const double v : values) {
      const float f = static_cast<float>(v);
      const char* p =
          bits == 32 ? reinterpret_cast<const char*>(&f) : reinterpret_cast<const char*>(&v);
      bytes.insert(bytes.end(), p, p + bits / 8);
    }
    TempDir dir;
    const std::string path = dir.File("loud.wav");
    stream::TWaveFormatEx format = Pcm(2, 8000, bits);
    format.wFormatTag = acm::kWaveFormatIeeeFloat;
    WriteRaw(path, format, bytes);

    TMMAudioFile file(nullptr);
    file.SetFileName(path);
    file.SetApplyEnvelope(false);
    stream::TMMSyncDriver driver(nullptr);
    class Sink : public stream::TMMDSPComponent {
     public:
      Sink() : stream::TMMDSPComponent(nullptr) { PublishLinks(true, false); }
      void BufferReady(stream::PWaveHdr h) override {
        const std::size_t at = samples.size();
        samples.resize(at + h->dwBytesRecorded / 2);
        std::memcpy(samples.data() + at, h->Data(), h->dwBytesRecorded / 2 * 2);
      }
      std::vector<std::int16_t> samples;
    } sink;
    driver.SetInput(&file);
    driver.SetOutput(&sink);
    driver.Run();
    driver.SetInput(nullptr);
    EXPECT_EQ(sink.samples, wanted);
  }
}

}  // namespace
}  // namespace sources::test
