// The compressed-format drivers: G.711 tables, agreement with sox's decoders on files sox made,
// the IMA ADPCM encoder, custom MS ADPCM coefficients, short and damaged blocks, refused format
// records, suggestions and buffer sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <string>

#include "AcmCodecFiles.h"
#include "AcmTestSupport.h"
#include "acm/msacm.h"

namespace {

using acmtest::FormatBytes;
using acmtest::Pcm;
using acmtest::SoxFiles;
using acmtest::Stream;
using acmtest::ToSamples;
using acmtest::WaveFile;

constexpr std::uint16_t kMsAdpcm = 0x0002;
constexpr std::uint16_t kALaw = 0x0006;
constexpr std::uint16_t kMuLaw = 0x0007;
constexpr std::uint16_t kImaAdpcm = 0x0011;
constexpr std::uint16_t kGsm = 0x0031;

FormatBytes Law(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate) {
  FormatBytes f;
  *f.get() = {tag, channels, rate, rate * channels, channels, 8, 0};
  return f;
}

// Decodes `data` of `format` to 16-bit PCM in pieces of `piece` bytes, ending with END.
std::vector<std::int16_t> Decode(const ACMWAVEFORMATEX& format,
                                 const std::vector<std::uint8_t>& data, std::size_t piece = 3001) {
  Stream stream(format, Pcm(format.nChannels, format.nSamplesPerSec, 16));
  EXPECT_TRUE(stream.ok());
  if (!stream.ok()) return {};
  return ToSamples(stream.ConvertAll(data, piece));
}

int MaxDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  int worst = 0;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    worst = std::max(worst, std::abs(a[i] - b[i]));
  }
  return worst;
}

std::vector<std::uint8_t> AllCodes() {
  std::vector<std::uint8_t> codes(256);
  std::iota(codes.begin(), codes.end(), 0);
  return codes;
}

std::vector<std::int16_t> AllValues() {
  std::vector<std::int16_t> values(65536);
  for (int i = 0; i < 65536; ++i) values[i] = static_cast<std::int16_t>(i - 32768);
  return values;
}

std::vector<std::uint8_t> Bytes16(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

// A WAVE file holding `format` (with its extra bytes) and `data`.
std::vector<std::uint8_t> WaveBytes(const FormatBytes& format,
                                    const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> b;
  auto text = [&](const char* s) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(s[i]));
  };
  auto u32 = [&](std::size_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const std::size_t fmt = format.bytes.size();
  text("RIFF");
  u32(4 + 8 + fmt + (fmt & 1) + 8 + data.size() + (data.size() & 1));
  text("WAVE");
  text("fmt ");
  u32(fmt);
  b.insert(b.end(), format.bytes.begin(), format.bytes.end());
  if (fmt & 1) b.push_back(0);
  text("data");
  u32(data.size());
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() & 1) b.push_back(0);
  return b;
}

TEST(G711Test, KnownCodesAndRoundTrips) {
  const auto aLaw = Decode(*Law(kALaw, 1, 8000), AllCodes());
  const auto muLaw = Decode(*Law(kMuLaw, 1, 8000), AllCodes());
  ASSERT_EQ(aLaw.size(), 256u);
  ASSERT_EQ(muLaw.size(), 256u);
  EXPECT_EQ(aLaw[0xD5], 8);
  EXPECT_EQ(aLaw[0x55], -8);
  EXPECT_EQ(aLaw[0xAA], 32256);
  EXPECT_EQ(aLaw[0x2A], -32256);
  EXPECT_EQ(muLaw[0xFF], 0);
  EXPECT_EQ(muLaw[0x7F], 0);
  EXPECT_EQ(muLaw[0x80], 32124);
  EXPECT_EQ(muLaw[0x00], -32124);

  // Every expansion compresses back to its own code; mu-law's negative zero becomes +0.
  Stream toALaw(Pcm(1, 8000, 16), *Law(kALaw, 1, 8000));
  Stream toMuLaw(Pcm(1, 8000, 16), *Law(kMuLaw, 1, 8000));
  ASSERT_TRUE(toALaw.ok() && toMuLaw.ok());
  EXPECT_EQ(toALaw.ConvertAll(Bytes16(aLaw), 100), AllCodes());
  auto expected = AllCodes();
  expected[0x7F] = 0xFF;
  EXPECT_EQ(toMuLaw.ConvertAll(Bytes16(muLaw), 100), expected);
}

TEST(G711Test, StereoAndEightBitPcmOnBothSides) {
  // Decoding straight to 8 bits keeps the high byte of the expansion.
  Stream to8(*Law(kMuLaw, 2, 8000), Pcm(2, 8000, 8));
  ASSERT_TRUE(to8.ok());
  EXPECT_EQ(to8.ConvertAll(std::vector<std::uint8_t>{0x80, 0x00, 0xFF, 0x7F}, 3),
            (std::vector<std::uint8_t>{253, 3, 128, 128}));
  // Encoding takes 8-bit PCM too.
  Stream from8(Pcm(2, 8000, 8), *Law(kALaw, 2, 8000));
  ASSERT_TRUE(from8.ok());
  EXPECT_EQ(from8.ConvertAll(std::vector<std::uint8_t>{128, 255, 0, 129}, 3),
            (std::vector<std::uint8_t>{0xD5, 0xAA, 0x2A, 0xC5}));
}

TEST(G711Test, MatchesSoxForEveryCodeAndEverySample) {
  if (!acmtest::HaveSox()) GTEST_SKIP() << "sox is not installed";
  SoxFiles files;
  acmtest::WriteBytes(files.Path("codes.raw"), AllCodes());
  acmtest::WriteBytes(files.Path("values.raw"), Bytes16(AllValues()));
  const std::string raw16 = " -t raw -r 8000 -c 1 -e signed -b 16 ";
  for (const auto& [tag, name] : {std::pair{kALaw, "a-law"}, std::pair{kMuLaw, "u-law"}}) {
    SCOPED_TRACE(name);
    const std::string law = std::string(" -t raw -r 8000 -c 1 -b 8 -e ") + name + " ";
    ASSERT_TRUE(acmtest::RunSox(law + "'" + files.Path("codes.raw") + "'" + raw16 + "'" +
                                files.Path("codes.s16") + "'"));
    EXPECT_EQ(Decode(*Law(tag, 1, 8000), AllCodes()),
              acmtest::Samples16(acmtest::ReadBytes(files.Path("codes.s16"))));

    ASSERT_TRUE(acmtest::RunSox(raw16 + "'" + files.Path("values.raw") + "'" + law + "'" +
                                files.Path("values.law") + "'"));
    Stream encode(Pcm(1, 8000, 16), *Law(tag, 1, 8000));
    ASSERT_TRUE(encode.ok());
    EXPECT_EQ(encode.ConvertAll(Bytes16(AllValues()), 8192),
              acmtest::ReadBytes(files.Path("values.law")));
  }
}

struct SoxCase {
  const char* name;
  const char* encoding;
  std::uint32_t rate;
  unsigned channels;
  int tolerance;  // LSB
};

void PrintTo(const SoxCase& c, std::ostream* os) {
  *os << c.name;
}

class SoxDecodeTest : public ::testing::TestWithParam<SoxCase> {};

// Files sox wrote, decoded by the driver in odd pieces and by sox. G.711 is a table, so exact;
// the ADPCM decoders are integer recurrences, allowed 1 LSB; GSM uses the reference decoder on
// both sides, so it is held to the same LSB. Wide PCM (extensible or plain) and float are
// narrowed as sox narrows without dither, so exact.
TEST_P(SoxDecodeTest, AgreesWithSox) {
  if (!acmtest::HaveSox()) GTEST_SKIP() << "sox is not installed";
  const SoxCase& c = GetParam();
  SoxFiles files;
  const WaveFile wave = files.Make("in.wav", c.encoding, c.rate, c.channels);
  ASSERT_FALSE(wave.data.empty());
  const auto theirs = files.Decode(files.Path("in.wav"));
  const auto ours = Decode(*wave.format, wave.data);
  ASSERT_EQ(ours.size(), theirs.size());
  EXPECT_LE(MaxDifference(ours, theirs), c.tolerance);
  // The same samples whether the data come in one piece or cut at odd places.
  EXPECT_EQ(Decode(*wave.format, wave.data, wave.data.size()), ours);
  EXPECT_EQ(Decode(*wave.format, wave.data, 97), ours);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SoxDecodeTest,
    ::testing::Values(SoxCase{"ALawStereo", "a-law", 11025, 2, 0},
                      SoxCase{"MuLawMono", "u-law", 44100, 1, 0},
                      SoxCase{"ImaMono8k", "ima-adpcm", 8000, 1, 1},
                      SoxCase{"ImaStereo22k", "ima-adpcm", 22050, 2, 1},
                      SoxCase{"ImaStereo44k", "ima-adpcm", 44100, 2, 1},
                      SoxCase{"MsAdpcmMono", "ms-adpcm", 8000, 1, 1},
                      SoxCase{"MsAdpcmStereo", "ms-adpcm", 44100, 2, 1},
                      SoxCase{"Gsm8k", "gsm-full-rate", 8000, 1, 0},
                      SoxCase{"Gsm22k", "gsm-full-rate", 22050, 1, 0},
                      // The encoding is followed by sox's sample size (and a plain record).
                      SoxCase{"Pcm24Stereo", "signed-integer -b 24", 44100, 2, 0},
                      SoxCase{"Pcm32Mono", "signed-integer -b 32", 22050, 1, 0},
                      SoxCase{"Pcm24PlainMono", "signed-integer -b 24 -t wavpcm", 16000, 1, 0},
                      SoxCase{"Pcm32PlainStereo", "signed-integer -b 32 -t wavpcm", 44100, 2, 0},
                      SoxCase{"Float32Stereo", "floating-point -b 32", 48000, 2, 0},
                      SoxCase{"Float64Mono", "floating-point -b 64", 8000, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& test) {
  double signal = 0;
  double noise = 0;
  for (std::size_t i = 0; i < reference.size(); ++i) {
    signal += double(reference[i]) * reference[i];
    const double e = double(reference[i]) - test[i];
    noise += e * e;
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST(ImaAdpcmEncoderTest, WritesBlocksThatSoxAndTheDecoderReadAlike) {
  for (const unsigned channels : {1u, 2u}) {
    SCOPED_TRACE(channels);
    const ACMWAVEFORMATEX pcm = Pcm(static_cast<std::uint16_t>(channels), 22050, 16);
    FormatBytes ima;
    ima.bytes.resize(ima.bytes.size() + 2);
    ima.get()->wFormatTag = kImaAdpcm;
    ASSERT_EQ(
        acmFormatSuggest(nullptr, &pcm, ima.get(), static_cast<std::uint32_t>(ima.bytes.size()),
                         ACM_FORMATSUGGESTF_WFORMATTAG),
        MMSYSERR_NOERROR);
    EXPECT_EQ(ima->nBlockAlign, 512 * channels);
    EXPECT_EQ(ima->wBitsPerSample, 4);
    ASSERT_EQ(ima->cbSize, 2);
    const std::uint32_t framesPerBlock = ima.extra()[0] | (ima.extra()[1] << 8);
    EXPECT_EQ(framesPerBlock, 1017u);

    const std::size_t frames = 22050;  // not a whole number of blocks: the last one is padded
    const auto source = acmtest::Sine(22050, frames, channels, 441.0);
    Stream encode(pcm, *ima);
    ASSERT_TRUE(encode.ok());
    const auto encoded = encode.ConvertAll(source, 5000);
    const std::size_t blocks = (frames + framesPerBlock - 1) / framesPerBlock;
    ASSERT_EQ(encoded.size(), blocks * ima->nBlockAlign);

    const auto decoded = Decode(*ima, encoded);
    ASSERT_EQ(decoded.size(), blocks * framesPerBlock * channels);
    const auto original = ToSamples(source);
    EXPECT_GT(SnrDb(original, {decoded.begin(), decoded.begin() + original.size()}), 30.0);
    // The padding is silence.
    EXPECT_LE(std::abs(decoded.back()), 64);

    if (!acmtest::HaveSox()) continue;
    SoxFiles files;
    acmtest::WriteBytes(files.Path("ours.wav"), WaveBytes(ima, encoded));
    EXPECT_LE(MaxDifference(files.Decode(files.Path("ours.wav")), decoded), 1);
  }
}

TEST(MsAdpcmTest, CustomCoefficientTablesAreUsed) {
  if (!acmtest::HaveSox()) GTEST_SKIP() << "sox is not installed";
  SoxFiles files;
  WaveFile wave = files.Make("in.wav", "ms-adpcm", 22050, 2);
  ASSERT_GE(wave.format->cbSize, 32);
  // Changed values for the pairs the blocks use, and two more pairs than the standard seven.
  FormatBytes custom = wave.format;
  custom.bytes.resize(sizeof(ACMWAVEFORMATEX) + 4 + 9 * 4);
  custom.get()->cbSize = 4 + 9 * 4;
  std::uint8_t* extra = custom.extra();
  extra[2] = 9;
  const std::int16_t pairs[9][2] = {{300, -60},  {480, -230}, {16, 8},    {200, 50}, {250, -10},
                                    {440, -190}, {380, -220}, {100, 100}, {0, 256}};
  for (int i = 0; i < 9; ++i) {
    std::memcpy(extra + 4 + 4 * i, &pairs[i][0], 2);
    std::memcpy(extra + 6 + 4 * i, &pairs[i][1], 2);
  }
  const auto standard = Decode(*wave.format, wave.data);
  const auto ours = Decode(*custom, wave.data);
  ASSERT_EQ(ours.size(), standard.size());
  EXPECT_NE(ours, standard);
  acmtest::WriteBytes(files.Path("custom.wav"), WaveBytes(custom, wave.data));
  EXPECT_LE(MaxDifference(files.Decode(files.Path("custom.wav")), ours), 1);
}

// A last block cut short gives the frames it holds whole, as sox reads them.
TEST(AdpcmShortBlockTest, TheFramesALastShortBlockHoldsAreDecoded) {
  if (!acmtest::HaveSox()) GTEST_SKIP() << "sox is not installed";
  SoxFiles files;
  for (const char* encoding : {"ima-adpcm", "ms-adpcm"}) {
    for (const unsigned channels : {1u, 2u}) {
      SCOPED_TRACE(std::string(encoding) + " " + std::to_string(channels));
      WaveFile wave = files.Make("in.wav", encoding, 11025, channels);
      const std::size_t align = wave.format->nBlockAlign;
      for (const std::size_t cut : {std::size_t{3}, std::size_t{7} * channels + 1, align / 2 + 5}) {
        std::vector<std::uint8_t> data(wave.data.begin(), wave.data.begin() + 2 * align + cut);
        acmtest::WriteBytes(files.Path("cut.wav"), WaveBytes(wave.format, data));
        const auto theirs = files.Decode(files.Path("cut.wav"));
        const auto ours = Decode(*wave.format, data);
        EXPECT_EQ(ours.size(), theirs.size()) << "cut " << cut;
        EXPECT_LE(MaxDifference(ours, theirs), 1) << "cut " << cut;
      }
    }
  }
}

FormatBytes Adpcm(std::uint16_t tag, std::uint16_t channels, std::uint16_t align,
                  std::vector<std::uint8_t> extra) {
  FormatBytes f;
  *f.get() = {tag, channels, 22050, 11025, align, 4, static_cast<std::uint16_t>(extra.size())};
  f.bytes.resize(sizeof(ACMWAVEFORMATEX) + extra.size());
  std::copy(extra.begin(), extra.end(), f.extra());
  return f;
}

std::vector<std::uint8_t> MsExtra(std::uint16_t frames, std::uint16_t pairs, std::size_t given) {
  std::vector<std::uint8_t> e = {
      static_cast<std::uint8_t>(frames), static_cast<std::uint8_t>(frames >> 8),
      static_cast<std::uint8_t>(pairs), static_cast<std::uint8_t>(pairs >> 8)};
  const std::int16_t standard[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                       {240, 0}, {460, -208}, {392, -232}};
  for (std::size_t i = 0; i < given; ++i) {
    for (const std::int16_t v : standard[i % 7]) {
      e.push_back(static_cast<std::uint8_t>(v));
      e.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
  }
  return e;
}

TEST(CodecFormatTest, RecordsTheDecodersCannotReadAreRefused) {
  struct Case {
    const char* what;
    FormatBytes format;
  };
  FormatBytes gsm = Adpcm(kGsm, 1, 65, {0x40, 0x01});
  gsm.get()->wBitsPerSample = 0;
  FormatBytes gsmStereo = gsm;
  gsmStereo.get()->nChannels = 2;
  FormatBytes gsmHalf = gsm;
  gsmHalf.extra()[0] = 160;
  gsmHalf.extra()[1] = 0;
  FormatBytes gsmAlign = gsm;
  gsmAlign.get()->nBlockAlign = 64;
  FormatBytes lawWide = Law(kALaw, 1, 8000);
  lawWide.get()->wBitsPerSample = 16;
  FormatBytes lawAlign = Law(kMuLaw, 2, 8000);
  lawAlign.get()->nBlockAlign = 1;
  FormatBytes lawFast = Law(kALaw, 1, 200000);
  FormatBytes lawThree = Law(kALaw, 3, 8000);
  FormatBytes imaBits = Adpcm(kImaAdpcm, 1, 256, {0xF9, 0x01});
  imaBits.get()->wBitsPerSample = 3;
  const Case cases[] = {
      {"IMA block not whole words", Adpcm(kImaAdpcm, 2, 258, {})},
      {"IMA block of headers only", Adpcm(kImaAdpcm, 1, 4, {})},
      {"IMA 3 bits", imaBits},
      {"IMA more frames than a block holds", Adpcm(kImaAdpcm, 1, 256, {0xFA, 0x01})},
      {"IMA zero frames per block", Adpcm(kImaAdpcm, 1, 256, {0, 0})},
      {"MS ADPCM without coefficients", Adpcm(kMsAdpcm, 1, 256, MsExtra(500, 0, 0))},
      {"MS ADPCM pairs missing", Adpcm(kMsAdpcm, 1, 256, MsExtra(500, 7, 6))},
      {"MS ADPCM more than 256 pairs", Adpcm(kMsAdpcm, 1, 256, MsExtra(500, 257, 257))},
      {"MS ADPCM more frames than a block holds", Adpcm(kMsAdpcm, 2, 256, MsExtra(245, 7, 7))},
      {"MS ADPCM one frame per block", Adpcm(kMsAdpcm, 1, 256, MsExtra(1, 7, 7))},
      {"MS ADPCM block shorter than its headers", Adpcm(kMsAdpcm, 2, 13, MsExtra(2, 7, 7))},
      {"MS ADPCM three channels", Adpcm(kMsAdpcm, 3, 256, MsExtra(2, 7, 7))},
      {"MS ADPCM extra bytes cut", Adpcm(kMsAdpcm, 1, 256, {0xF4, 0x01})},
      {"GSM stereo", gsmStereo},
      {"GSM half blocks", gsmHalf},
      {"GSM 64-byte blocks", gsmAlign},
      {"A-law 16 bits", lawWide},
      {"mu-law block not a frame", lawAlign},
      {"A-law 200 kHz", lawFast},
      {"A-law three channels", lawThree},
  };
  // The valid neighbours of those records are accepted.
  for (FormatBytes ok : {Adpcm(kImaAdpcm, 2, 256, {}), Adpcm(kImaAdpcm, 1, 256, {0xF9, 0x01}),
                         Adpcm(kMsAdpcm, 2, 256, MsExtra(244, 7, 7)),
                         Adpcm(kMsAdpcm, 1, 256, MsExtra(100, 1, 1)), gsm, Law(kMuLaw, 2, 8000)}) {
    const ACMWAVEFORMATEX pcm = Pcm(ok->nChannels, ok->nSamplesPerSec, 16);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, ok.get(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              MMSYSERR_NOERROR)
        << ok->wFormatTag << " align " << ok->nBlockAlign;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ACMWAVEFORMATEX pcm =
        Pcm(c.format->nChannels == 3 ? 2 : c.format->nChannels, c.format->nSamplesPerSec, 16);
    EXPECT_EQ(
        acmStreamOpen(nullptr, nullptr, &*c.format, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
        ACMERR_NOTPOSSIBLE);
    ACMWAVEFORMATEX suggested{};
    suggested.wFormatTag = WAVE_FORMAT_PCM_TAG;
    EXPECT_EQ(acmFormatSuggest(nullptr, &*c.format, &suggested, sizeof suggested,
                               ACM_FORMATSUGGESTF_WFORMATTAG),
              ACMERR_NOTPOSSIBLE);
  }
}

// Out-of-range block header fields spoil their own block, never the stream.
TEST(AdpcmDamageTest, ABadBlockHeaderSpoilsOnlyItsBlock) {
  if (!acmtest::HaveSox()) GTEST_SKIP() << "sox is not installed";
  SoxFiles files;
  struct Damage {
    const char* encoding;
    std::size_t offset;  // in the second block
    std::uint8_t value;
  };
  for (const Damage& d : {Damage{"ima-adpcm", 2, 200}, Damage{"ms-adpcm", 0, 90}}) {
    SCOPED_TRACE(d.encoding);
    const WaveFile wave = files.Make("in.wav", d.encoding, 8000, 1);
    const std::size_t align = wave.format->nBlockAlign;
    ASSERT_GE(wave.data.size(), 3 * align);
    std::vector<std::uint8_t> damaged = wave.data;
    damaged[align + d.offset] = d.value;
    const auto good = Decode(*wave.format, wave.data);
    const auto bad = Decode(*wave.format, damaged);
    ASSERT_EQ(bad.size(), good.size());
    const std::size_t frames = good.size() / (wave.data.size() / align);
    for (std::size_t i = 0; i < good.size(); ++i) {
      if (i / frames == 1) continue;
      ASSERT_EQ(bad[i], good[i]) << "sample " << i;
    }
  }
}

TEST(CodecStreamTest, SuggestionsSizesAndMetrics) {
  std::uint32_t codecs = 0;
  ASSERT_EQ(acmMetrics(nullptr, 2, &codecs), MMSYSERR_NOERROR);
  EXPECT_EQ(codecs, 7u);  // G.711 twice, IMA and MS ADPCM, GSM, float, extensible

  // IMA ADPCM decodes to 16 bits by default, to 8 when asked, and never changes rate.
  const FormatBytes ima = Adpcm(kImaAdpcm, 1, 256, {0xF9, 0x01});
  ACMWAVEFORMATEX pcm{};
  ASSERT_EQ(acmFormatSuggest(nullptr, &*ima, &pcm, sizeof pcm, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM_TAG);
  EXPECT_EQ(pcm.wBitsPerSample, 16);
  EXPECT_EQ(pcm.nSamplesPerSec, 22050u);
  pcm.wBitsPerSample = 8;
  ASSERT_EQ(acmFormatSuggest(nullptr, &*ima, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
            MMSYSERR_NOERROR);
  EXPECT_EQ(pcm.nBlockAlign, 1);
  pcm.nSamplesPerSec = 44100;
  EXPECT_EQ(acmFormatSuggest(nullptr, &*ima, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);
  // From PCM, a codec's record only when its tag is asked for; GSM does not encode.
  const ACMWAVEFORMATEX stereo = Pcm(2, 44100, 16);
  FormatBytes law;
  law.get()->wFormatTag = kMuLaw;
  ASSERT_EQ(acmFormatSuggest(nullptr, &stereo, law.get(), 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(law->nBlockAlign, 2);
  EXPECT_EQ(law->nAvgBytesPerSec, 88200u);
  FormatBytes gsm;
  gsm.bytes.resize(20);
  gsm.get()->wFormatTag = kGsm;
  const ACMWAVEFORMATEX mono8k = Pcm(1, 8000, 16);
  EXPECT_EQ(acmFormatSuggest(nullptr, &mono8k, gsm.get(), 20, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);

  // Sizes: a started block counts whole when decoding; encoding reserves a block for held frames.
  HACMSTREAM decode = nullptr;
  const ACMWAVEFORMATEX pcm16 = Pcm(1, 22050, 16);
  ASSERT_EQ(acmStreamOpen(&decode, nullptr, &*ima, &pcm16, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  std::uint32_t size = 0;
  ASSERT_EQ(acmStreamSize(decode, 3 * 256 + 10, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(size, 4u * 505 * 2);
  ASSERT_EQ(acmStreamSize(decode, 3 * 505 * 2 + 1, &size, ACM_STREAMSIZEF_DESTINATION),
            MMSYSERR_NOERROR);
  EXPECT_EQ(size, 3u * 256);
  EXPECT_EQ(acmStreamSize(decode, 505 * 2 - 1, &size, ACM_STREAMSIZEF_DESTINATION),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(acmStreamClose(decode, 0), MMSYSERR_NOERROR);

  HACMSTREAM encode = nullptr;
  ASSERT_EQ(acmStreamOpen(&encode, nullptr, &pcm16, &*ima, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamSize(encode, 505 * 2, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(size, 2u * 256);
  EXPECT_EQ(acmStreamClose(encode, 0), MMSYSERR_NOERROR);
}

// START restarts a stream's codec state: the same data give the same samples again.
TEST(CodecStreamTest, StartRestartsTheCodec) {
  const FormatBytes ima = Adpcm(kImaAdpcm, 1, 256, {0xF9, 0x01});
  Stream encode(Pcm(1, 22050, 16), *ima);
  ASSERT_TRUE(encode.ok());
  const auto tone = acmtest::Sine(22050, 1500, 1);
  const auto first = encode.Convert(tone, ACM_STREAMCONVERTF_BLOCKALIGN);
  const auto restarted =
      encode.Convert(tone, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(first.size(), 2u * 256);
  EXPECT_EQ(restarted, first);
}

}  // namespace
