// The format converters: which format they pass on, and the bytes that come out of a chain
// (source → converter → synchronous driver → sink) in pull mode and when blocks are pushed.
#include "sources/ACMConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "platform/Library.h"
#include "stream/SyncDriver.h"
#include "tests/sources/SourcesTestFiles.h"

namespace sources::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The compression manager brings the OpenMP runtime along, whose start-up allocations hang off its
// own globals; once the binding unloads the manager at exit they look leaked to the leak checker.
// A second reference keeps both loaded to the end.
[[maybe_unused]] const bool kManagerPinned = platform::LoadModule(kAcmModuleName) != nullptr;

// Delivers fixed bytes in the format it is given; at most `maxPiece` bytes per load, so that a
// block can end inside a sample frame.
class BytesSource : public stream::TMMDSPComponent {
 public:
  BytesSource(const stream::TWaveFormatEx& format, Bytes bytes, std::uint32_t maxPiece = 1u << 30)
      : stream::TMMDSPComponent(nullptr),
        fmt_(format),
        data_(std::move(bytes)),
        maxPiece_(maxPiece) {
    PublishLinks(false, true);
    SetPWaveFormat(&fmt_);
  }
  void BufferLoad(stream::PWaveHdr h, bool& more) override {
    const auto n = std::min<std::size_t>({h->dwBufferLength, maxPiece_, data_.size() - read_});
    std::memcpy(h->Data(), data_.data() + read_, n);
    read_ += n;
    h->dwBytesRecorded = static_cast<std::uint32_t>(n);
    more = read_ < data_.size();
  }

 private:
  stream::TWaveFormatEx fmt_;
  Bytes data_;
  std::uint32_t maxPiece_;
  std::size_t read_ = 0;
};

class CollectingSink : public stream::TMMDSPComponent {
 public:
  CollectingSink() : stream::TMMDSPComponent(nullptr) { PublishLinks(true, false); }
  void BufferReady(stream::PWaveHdr h) override {
    data.insert(data.end(), h->Data(), h->Data() + h->dwBytesRecorded);
  }
  Bytes data;
};

// Pull mode: the driver asks for blocks of `blockSize` bytes.
Bytes Pull(TMMACMConverter& converter, BytesSource& source, std::int32_t blockSize = 4000) {
  stream::TMMSyncDriver driver(nullptr);
  CollectingSink sink;
  converter.SetInput(&source);
  driver.SetInput(&converter);
  driver.SetOutput(&sink);
  driver.SetBufferSize(blockSize);
  driver.Run();
  driver.SetInput(nullptr);
  converter.SetInput(nullptr);
  return sink.data;
}

// Push mode: opens the converter on `format`; blocks go in through BufferReady.
class Pusher {
 public:
  Pusher(TMMACMConverter& converter, const stream::TWaveFormatEx& format) : c_(converter) {
    c_.SetOutput(&sink_);
    c_.InputFormatChanged(&format);
    c_.Open();
    c_.Start();
  }
  ~Pusher() {
    c_.Close();
    c_.SetOutput(nullptr);
  }
  // What comes out of `bytes` pushed in pieces of `piece` bytes.
  Bytes Push(const Bytes& bytes, std::size_t piece) {
    sink_.data.clear();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::size_t n = std::min(piece, bytes.size() - at);
      std::vector<char> block(stream::kWaveHdrSize + n);
      auto* hdr = reinterpret_cast<stream::PWaveHdr>(block.data());
      hdr->SetData(block.data() + stream::kWaveHdrSize);
      std::memcpy(hdr->Data(), bytes.data() + at, n);
      hdr->dwBufferLength = hdr->dwBytesRecorded = static_cast<std::uint32_t>(n);
      c_.BufferReady(hdr);
    }
    return sink_.data;
  }

 private:
  TMMACMConverter& c_;
  CollectingSink sink_;
};

template <typename T>
Bytes AsBytes(const std::vector<T>& samples) {
  Bytes bytes(samples.size() * sizeof(T));
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

std::vector<std::int16_t> AsSamples(const Bytes& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// Every 16-bit value in steps of 7, and the values around the 8-bit rounding edges.
std::vector<std::int16_t> Sweep16() {
  std::vector<std::int16_t> s = {-32768, -257, -256, -255, -129, -128, -1, 0, 1, 255, 256, 32767};
  for (int v = -32768; v <= 32767; v += 7) s.push_back(static_cast<std::int16_t>(v));
  return s;
}

// Left 440 Hz, right 1250 Hz, both at half scale.
std::vector<std::int16_t> Tones(std::uint32_t rate, std::size_t frames) {
  std::vector<std::int16_t> s(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    s[2 * i] =
        static_cast<std::int16_t>(std::lround(16384 * std::sin(2 * std::numbers::pi * 440 * t)));
    s[2 * i + 1] =
        static_cast<std::int16_t>(std::lround(16384 * std::sin(2 * std::numbers::pi * 1250 * t)));
  }
  return s;
}

// Tag, bits/channels/rate, block align and byte rate of a format, for comparisons.
std::string Describe(const stream::TWaveFormatEx& f) {
  return std::to_string(f.wFormatTag) + ":" + std::to_string(f.wBitsPerSample) + "/" +
         std::to_string(f.nChannels) + "/" + std::to_string(f.nSamplesPerSec) + " align " +
         std::to_string(f.nBlockAlign) + " rate " + std::to_string(f.nAvgBytesPerSec);
}
// The format a converter passes downstream.
std::string Out(const TMMACMConverter& c) {
  return c.GetPWaveFormat() ? Describe(*c.GetPWaveFormat()) : "none";
}

template <typename Fn>
std::string ConverterError(Fn fn) {
  try {
    fn();
  } catch (const EMMConverterError& e) {
    return e.what();
  }
  return "no error";
}

TEST(PcmConverterTest, DefaultSettingsPassPcmThroughWithoutAChain) {
  const Bytes in = AsBytes(Sweep16());
  BytesSource source(Pcm(2, 44100, 16), in);
  TMMPCMConverter converter(nullptr);
  bool checked = false;
  converter.OnBufferLoad = [&](stream::TObject*, stream::PWaveHdr, bool&) {
    EXPECT_TRUE(converter.Prepared());
    EXPECT_EQ(converter.Chain(), nullptr);
    EXPECT_FALSE(converter.NeedsConversion());
    EXPECT_EQ(Out(converter), Describe(Pcm(2, 44100, 16)));
    checked = true;
  };
  EXPECT_EQ(Pull(converter, source), in);
  EXPECT_TRUE(checked);
}

TEST(PcmConverterTest, PropertiesAndFormatWritesAreChecked) {
  TMMPCMConverter converter(nullptr);
  converter.SetSampleRate(100000);
  EXPECT_EQ(converter.SampleRate(), 88200);
  converter.SetSampleRate(10);
  EXPECT_EQ(converter.SampleRate(), 8000);
  converter.SetMode(stream::mStereo);
  converter.SetMode(stream::mMultiChannel);
  EXPECT_EQ(converter.Mode(), stream::mStereo);

  const stream::TWaveFormatEx pcm24 = Pcm(2, 44100, 24);
  const stream::TWaveFormatEx pcm16 = Pcm(2, 44100, 16);
  EXPECT_EQ(ConverterError([&] { converter.SetPWaveFormat(&pcm24); }), kInvalidWaveFormat);
  EXPECT_EQ(ConverterError([&] { converter.SetPWaveFormat(&pcm16); }), "no error");

  stream::TWaveFormatEx odd = pcm16;
  odd.nAvgBytesPerSec = 1;
  EXPECT_FALSE(FormatsDiffer(&pcm16, &odd));
  EXPECT_FALSE(FormatsDiffer(&pcm16, nullptr));
  EXPECT_TRUE(FormatsDiffer(&pcm16, &pcm24));
  odd = pcm16;
  odd.nSamplesPerSec = 44101;
  EXPECT_TRUE(FormatsDiffer(&pcm16, &odd));
}

TEST(PcmConverterTest, RequiredParametersReplaceOnlyWhatTheyName) {
  TMMPCMConverter converter(nullptr);
  const stream::TWaveFormatEx in = Pcm(2, 44100, 16);
  converter.InputFormatChanged(&in);
  EXPECT_EQ(Out(converter), Describe(Pcm(2, 44100, 16)));
  converter.SetAutoConvert(false);
  // Without AutoConvert every parameter is forced by default.
  EXPECT_EQ(Out(converter), Describe(Pcm(1, 11025, 8)));
  converter.SetRequired(rpSampleRate);
  converter.SetSampleRate(22050);
  EXPECT_EQ(Out(converter), Describe(Pcm(2, 22050, 16)));
  EXPECT_TRUE(converter.NeedsConversion());
  EXPECT_TRUE(converter.CanConvert());
  converter.SetRequired(rpBits | rpChannels);
  EXPECT_EQ(Out(converter), Describe(Pcm(1, 44100, 8)));
}

// A format no driver knows: there is no PCM to suggest for it.
constexpr stream::TWaveFormatEx kUnknownCoding{0x7A7A, 2, 44100, 44100, 4, 8, 0};

TEST(PcmConverterTest, WithoutAutoConvertACodingWithoutPcmFailsAtOpen) {
  struct Row {
    const char* name;
    TMMRequiredParams required;
    bool inputFirst;  // the input format arrives before AutoConvert is switched off
  };
  for (const Row& row :
       {Row{"every parameter", rpBits | rpChannels | rpSampleRate, false},
        Row{"rate only", rpSampleRate, false}, Row{"none", 0, false},
        Row{"every parameter, input first", rpBits | rpChannels | rpSampleRate, true},
        Row{"bits only, input first", rpBits, true}}) {
    TMMPCMConverter converter(nullptr);
    BytesSource source(kUnknownCoding, Bytes(4096, 1));
    const auto settle = [&] {
      converter.SetAutoConvert(false);
      converter.SetRequired(row.required);
    };
    if (!row.inputFirst) settle();
    converter.SetInput(&source);
    if (row.inputFirst) {
      EXPECT_EQ(ConverterError(settle), "no error") << row.name;
    }
    EXPECT_TRUE(converter.NeedsConversion()) << row.name;
    EXPECT_FALSE(converter.CanConvert()) << row.name;
    EXPECT_EQ(Out(converter), Describe(kUnknownCoding)) << row.name;  // the input goes on
    EXPECT_EQ(ConverterError([&] { Pull(converter, source); }), kUnableToConvert) << row.name;
  }
  // With AutoConvert the coding passes through untouched.
  TMMPCMConverter automatic(nullptr);
  BytesSource source(kUnknownCoding, Bytes(4096, 1));
  EXPECT_EQ(Pull(automatic, source), Bytes(4096, 1));
  EXPECT_FALSE(automatic.NeedsConversion());
}

struct ExactCase {
  const char* name;
  stream::TWaveFormatEx in;
  stream::TMMBits bits;
  stream::TMMMode mode;
};

void PrintTo(const ExactCase& c, std::ostream* os) {
  *os << c.name;
}

class ExactConversionTest : public ::testing::TestWithParam<ExactCase> {};

// The expected output of the PCM driver, worked out sample by sample.
Bytes Expected(const ExactCase& c, const Bytes& in) {
  Bytes out;
  if (c.in.wBitsPerSample == 8) {
    for (std::uint8_t b : in) out.push_back(0), out.push_back(static_cast<std::uint8_t>(b - 128));
    return out;
  }
  const auto s = AsSamples(in);
  if (c.bits == stream::b8Bit) {
    for (std::int16_t v : s) out.push_back(static_cast<std::uint8_t>(v / 256 + 128));
    return out;
  }
  std::vector<std::int16_t> r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (c.in.nChannels == 1) r.insert(r.end(), {s[i], s[i]});
    if (c.in.nChannels == 2 && i % 2 == 0)
      r.push_back(static_cast<std::int16_t>((s[i] + s[i + 1]) / 2));
  }
  return AsBytes(r);
}

TEST_P(ExactConversionTest, GivesTheDriversSamplesAcrossOddPieces) {
  const ExactCase& c = GetParam();
  Bytes in;
  if (c.in.wBitsPerSample == 8) {
    for (int i = 0; i < 30000; ++i) in.push_back(static_cast<std::uint8_t>(i * 7));
  } else {
    in = AsBytes(Sweep16());
    in.resize(in.size() / c.in.nBlockAlign * c.in.nBlockAlign);
  }
  const Bytes expected = Expected(c, in);
  if (c.in.nBlockAlign > 1) in.push_back(0x7F);  // a part frame at the end is dropped
  // The last output ends on a block boundary: the stream must end there, with no empty block.
  const std::size_t outAlign = (c.mode + 1) * (c.bits + 1);
  std::int32_t blockSize = 4000;
  while (expected.size() % blockSize != 0 || blockSize % outAlign != 0) --blockSize;
  TMMPCMConverter converter(nullptr);
  converter.SetAutoConvert(false);
  converter.SetRequired(rpBits | rpChannels);
  converter.SetBitLength(c.bits);
  converter.SetMode(c.mode);
  BytesSource source(c.in, in, 1001);  // pieces that end inside a sample frame
  const Bytes pulled = Pull(converter, source, blockSize);
  EXPECT_EQ(pulled, expected);
  EXPECT_EQ(Pusher(converter, c.in).Push(in, 5001), pulled);
}

INSTANTIATE_TEST_SUITE_P(
    Pcm, ExactConversionTest,
    ::testing::Values(ExactCase{"bits8to16", Pcm(1, 8000, 8), stream::b16Bit, stream::mMono},
                      ExactCase{"bits16to8", Pcm(1, 8000, 16), stream::b8Bit, stream::mMono},
                      ExactCase{"monoToStereo", Pcm(1, 8000, 16), stream::b16Bit, stream::mStereo},
                      ExactCase{"stereoToMono", Pcm(2, 8000, 16), stream::b16Bit, stream::mMono}),
    [](const auto& info) { return std::string(info.param.name); });

class ResampleTest : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(ResampleTest, MatchesSoxInPullAndPushMode) {
  if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const std::int32_t rate = GetParam();
  const auto tones = Tones(44100, 44100);
  TempDir dir;
  WriteWav(dir.File("in.wav"), Pcm(2, 44100, 16), tones);
  const std::string command = "sox -D -q '" + dir.File("in.wav") + "' -t raw -r " +
                              std::to_string(rate) + " '" + dir.File("sox.raw") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream raw(dir.File("sox.raw"), std::ios::binary);
  const auto theirs = AsSamples(Bytes(std::istreambuf_iterator<char>(raw), {}));

  TMMPCMConverter converter(nullptr);
  converter.SetAutoConvert(false);
  converter.SetRequired(rpSampleRate);
  converter.SetSampleRate(rate);
  Bytes pushed;
  {
    Pusher pusher(converter, Pcm(2, 44100, 16));
    pushed = pusher.Push(AsBytes(tones), 6000);
    // Reset restarts the resampler: the same input gives the same output again.
    converter.Reset();
    EXPECT_EQ(pusher.Push(AsBytes(tones), 7000), pushed);
  }

  // One block that the converted input fills exactly; what the resampler holds back follows.
  BytesSource source(Pcm(2, 44100, 16), AsBytes(tones));
  const Bytes pulled = Pull(converter, source, static_cast<std::int32_t>(pushed.size()));
  const auto ours = AsSamples(pulled);
  EXPECT_LE(std::abs(static_cast<long>(ours.size()) - static_cast<long>(theirs.size())), 2 * 4);
  const std::size_t n = std::min(ours.size(), theirs.size());
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += std::pow(ours[i] - theirs[i], 2);
  EXPECT_LT(20 * std::log10(std::sqrt(sum / n) / 32768 + 1e-12), -60.0);
  // Pushed blocks are never flushed: the pull bytes without the tail.
  ASSERT_LE(pushed.size(), pulled.size());
  EXPECT_TRUE(std::equal(pushed.begin(), pushed.end(), pulled.begin()));
}

INSTANTIATE_TEST_SUITE_P(Rates, ResampleTest, ::testing::Values(22050, 48000));

TEST(AcmConverterTest, AMissingConversionPathFailsAtOpen) {
  for (const stream::TWaveFormatEx& wanted : {Pcm(2, 44100, 24), Pcm(2, 200000, 16)}) {
    TMMACMConverter converter(nullptr);
    converter.SetPWaveFormat(&wanted);
    BytesSource source(Pcm(2, 44100, 16), Bytes(4096, 1));
    converter.SetInput(&source);
    EXPECT_TRUE(converter.NeedsConversion());
    EXPECT_FALSE(converter.CanConvert());
    EXPECT_EQ(Out(converter), Describe(Pcm(2, 44100, 16)));  // the input format goes on
    EXPECT_EQ(ConverterError([&] { Pull(converter, source); }), kUnableToConvert);
  }
}

}  // namespace
}  // namespace sources::test
