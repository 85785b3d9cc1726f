// Rate conversion: agreement with sox, independence from how the input is cut up, draining at
// END, resets, and buffer sizes from acmStreamSize.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "AcmTestSupport.h"
#include "acm/msacm.h"

namespace {

using acmtest::Pcm;
using acmtest::Sine;
using acmtest::Stream;
using acmtest::ToSamples;

constexpr std::uint32_t kBest = ACM_STREAMOPENF_NONREALTIME;
constexpr std::uint32_t kFast = 0;

struct Pair {
  ACMWAVEFORMATEX from;
  ACMWAVEFORMATEX to;
};

// Pairs with a rate change, covering both directions, the extremes and every layout change.
const Pair kPairs[] = {
    {Pcm(2, 44100, 16), Pcm(2, 22050, 16)}, {Pcm(2, 44100, 16), Pcm(1, 48000, 8)},
    {Pcm(1, 8000, 8), Pcm(2, 44100, 16)},   {Pcm(1, 4000, 16), Pcm(2, 100000, 16)},
    {Pcm(2, 100000, 8), Pcm(1, 4000, 16)},  {Pcm(1, 11025, 16), Pcm(1, 8000, 16)},
};

std::string Describe(const ACMWAVEFORMATEX& f) {
  return std::to_string(f.nChannels) + "ch/" + std::to_string(f.nSamplesPerSec) + "Hz/" +
         std::to_string(f.wBitsPerSample) + "bit";
}

std::string Describe(const Pair& pair, std::uint32_t flags) {
  return Describe(pair.from) + " -> " + Describe(pair.to) +
         (flags == kBest ? " (best)" : " (fast)");
}

// One and a half seconds of sines (a different one per channel) in the source format.
std::vector<std::uint8_t> Signal(const ACMWAVEFORMATEX& format) {
  const std::uint32_t rate = format.nSamplesPerSec;
  const auto sine = Sine(rate, rate * 3 / 2, format.nChannels, rate / 40.0);
  if (format.wBitsPerSample == 16) return sine;
  Stream narrow(Pcm(format.nChannels, rate, 16), format);
  return narrow.ConvertAll(sine, 8192);
}

std::vector<std::uint8_t> ConvertOneShot(const Pair& pair, std::uint32_t flags,
                                         const std::vector<std::uint8_t>& data) {
  Stream stream(pair.from, pair.to, flags, static_cast<std::uint32_t>(data.size()));
  EXPECT_TRUE(stream.ok());
  return stream.ok() ? stream.ConvertAll(data, data.size()) : std::vector<std::uint8_t>{};
}

TEST(AcmResampleTest, ChunkedConversionEqualsOneShotAndEndDrainsEverything) {
  for (const Pair& pair : kPairs) {
    for (std::uint32_t flags : {kFast, kBest}) {
      SCOPED_TRACE(Describe(pair, flags));
      const auto data = Signal(pair.from);
      const auto whole = ConvertOneShot(pair, flags, data);
      // The output length is the input's duration at the new rate.
      const double frames = static_cast<double>(data.size() / pair.from.nBlockAlign);
      const double expected = frames * pair.to.nSamplesPerSec / pair.from.nSamplesPerSec;
      EXPECT_NEAR(static_cast<double>(whole.size() / pair.to.nBlockAlign), expected, 2.0);

      for (std::size_t piece : {std::size_t{8192}, std::size_t{1001}}) {
        Stream stream(pair.from, pair.to, flags);
        ASSERT_TRUE(stream.ok());
        EXPECT_EQ(stream.ConvertAll(data, piece), whole) << "pieces of " << piece;
      }
    }
  }
}

TEST(AcmResampleTest, StartResetsAndEachEndStartsAFreshSignal) {
  const Pair pair = {Pcm(2, 44100, 16), Pcm(1, 22050, 16)};
  const auto data = Signal(pair.from);
  const auto fresh = ConvertOneShot(pair, kBest, data);

  Stream stream(pair.from, pair.to, kBest);
  ASSERT_TRUE(stream.ok());
  // Half-way through a signal, the application's reset: START | END with no source.
  stream.Convert(std::span(data).first(10000), ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_TRUE(stream.Convert({}, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END).empty());
  EXPECT_EQ(stream.ConvertAll(data, 8192), fresh);
  // After END the next signal starts from scratch as well.
  EXPECT_EQ(stream.ConvertAll(data, 8192), fresh);
}

TEST(AcmResampleTest, QualityFollowsTheNonRealtimeFlag) {
  const Pair pair = {Pcm(1, 44100, 16), Pcm(1, 22050, 16)};
  const auto data = Signal(pair.from);
  EXPECT_NE(ConvertOneShot(pair, kFast, data), ConvertOneShot(pair, kBest, data));
}

TEST(AcmResampleTest, OneStepEqualsTheSameConversionInSteps) {
  const auto data = Signal(Pcm(1, 11025, 8));
  const auto direct = ConvertOneShot({Pcm(1, 11025, 8), Pcm(2, 22050, 16)}, kFast, data);
  const auto wide = ConvertOneShot({Pcm(1, 11025, 8), Pcm(1, 11025, 16)}, kFast, data);
  EXPECT_EQ(ConvertOneShot({Pcm(1, 11025, 16), Pcm(2, 22050, 16)}, kFast, wide), direct);
}

TEST(AcmResampleTest, StreamSizeIsAlwaysEnough) {
  std::mt19937 random(20240611);
  for (const Pair& pair : kPairs) {
    for (std::uint32_t flags : {kFast, kBest}) {
      SCOPED_TRACE(Describe(pair, flags));
      const auto data = Signal(pair.from);
      const auto whole = ConvertOneShot(pair, flags, data);
      Stream stream(pair.from, pair.to, flags);
      ASSERT_TRUE(stream.ok());
      ACMSTREAMHEADER& h = stream.header();
      std::vector<std::uint8_t> out;
      std::size_t offset = 0;
      std::size_t carried = 0;
      // Each call gets exactly the destination acmStreamSize names for its source; a call with
      // no source afterwards shows whether anything was left waiting.
      auto call = [&](std::uint32_t bytes, std::uint32_t convertFlags) {
        std::uint32_t room = 0;
        ASSERT_EQ(
            acmStreamSize(stream.handle(), std::max(bytes, 1u), &room, ACM_STREAMSIZEF_SOURCE),
            MMSYSERR_NOERROR);
        h.cbSrcLength = bytes;
        h.cbDstLength = room;
        ASSERT_EQ(acmStreamConvert(stream.handle(), &h, convertFlags), MMSYSERR_NOERROR);
        out.insert(out.end(), h.pbDst, h.pbDst + h.cbDstLengthUsed);
        carried = bytes - h.cbSrcLengthUsed;
        std::copy(h.pbSrc + h.cbSrcLengthUsed, h.pbSrc + bytes, h.pbSrc);
        h.cbSrcLength = 0;
        ASSERT_EQ(acmStreamConvert(stream.handle(), &h, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(h.cbDstLengthUsed, 0u) << "after a call of " << bytes << " bytes";
      };
      while (offset < data.size()) {
        const std::size_t n = std::min<std::size_t>(random() % 20000 + 1, data.size() - offset);
        std::copy(data.begin() + offset, data.begin() + offset + n, h.pbSrc + carried);
        offset += n;
        call(static_cast<std::uint32_t>(carried + n), ACM_STREAMCONVERTF_BLOCKALIGN);
      }
      call(static_cast<std::uint32_t>(carried), ACM_STREAMCONVERTF_END);
      EXPECT_EQ(out, whole);
    }
  }
}

// sox's conversion of the same data, or nothing when sox cannot be run.
std::vector<std::int16_t> SoxConvert(const std::vector<std::uint8_t>& data, std::uint32_t from,
                                     std::uint32_t to, unsigned channels) {
  static int serial = 0;
  const std::string stem =
      testing::TempDir() + "acm_sox_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
  const std::string in = stem + "_in.raw";
  const std::string out = stem + "_out.raw";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  const std::string format =
      " -t raw -e signed-integer -b 16 -L -c " + std::to_string(channels) + " -r ";
  const std::string command = std::string("\"") + QD_SOX_PROGRAM + "\" -D -V1" + format +
                              std::to_string(from) + " \"" + in + "\"" + format +
                              std::to_string(to) + " \"" + out + "\"";
  std::vector<std::uint8_t> bytes;
  if (std::system(command.c_str()) == 0) {
    std::ifstream file(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
  return ToSamples(bytes);
}

TEST(AcmResampleTest, AgreesWithSox) {
  if (std::string(QD_SOX_PROGRAM).empty() || access(QD_SOX_PROGRAM, X_OK) != 0) {
    GTEST_SKIP() << "sox is not installed";
  }
  const Pair pairs[] = {
      {Pcm(1, 44100, 16), Pcm(1, 22050, 16)},
      {Pcm(1, 44100, 16), Pcm(1, 48000, 16)},
      {Pcm(2, 44100, 16), Pcm(2, 22050, 16)},
  };
  for (const Pair& pair : pairs) {
    const auto data = Sine(44100, 44100, pair.from.nChannels);
    const auto reference =
        SoxConvert(data, pair.from.nSamplesPerSec, pair.to.nSamplesPerSec, pair.to.nChannels);
    ASSERT_FALSE(reference.empty()) << "sox failed";
    for (std::uint32_t flags : {kFast, kBest}) {
      SCOPED_TRACE(Describe(pair, flags));
      const auto ours = ToSamples(ConvertOneShot(pair, flags, data));
      EXPECT_NEAR(static_cast<double>(ours.size()), static_cast<double>(reference.size()),
                  2.0 * pair.to.nChannels);
      const std::size_t n = std::min(ours.size(), reference.size());
      ASSERT_GT(n, 0u);
      double sum = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const double d = ours[i] - reference[i];
        sum += d * d;
      }
      const double rms = std::sqrt(sum / static_cast<double>(n)) / 32768.0;
      EXPECT_LT(20.0 * std::log10(rms + 1e-12), -60.0);
    }
  }
}

}  // namespace
