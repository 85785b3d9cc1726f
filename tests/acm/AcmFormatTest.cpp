// Version, metrics, format suggestions and the query form of acmStreamOpen.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "AcmTestSupport.h"
#include "acm/msacm.h"

namespace {

using acmtest::Pcm;

constexpr std::uint32_t kTag = ACM_FORMATSUGGESTF_WFORMATTAG;
constexpr std::uint32_t kChannels = ACM_FORMATSUGGESTF_NCHANNELS;
constexpr std::uint32_t kRate = ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
constexpr std::uint32_t kBits = ACM_FORMATSUGGESTF_WBITSPERSAMPLE;

// A record whose every field is nonsense, so that only constrained fields carry meaning.
ACMWAVEFORMATEX Garbage() {
  ACMWAVEFORMATEX format;
  std::memset(&format, 0xA5, sizeof format);
  return format;
}

void ExpectFormat(const ACMWAVEFORMATEX& f, std::uint16_t channels, std::uint32_t rate,
                  std::uint16_t bits) {
  EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM_TAG);
  EXPECT_EQ(f.nChannels, channels);
  EXPECT_EQ(f.nSamplesPerSec, rate);
  EXPECT_EQ(f.wBitsPerSample, bits);
  EXPECT_EQ(f.nBlockAlign, channels * bits / 8);
  EXPECT_EQ(f.nAvgBytesPerSec, rate * channels * bits / 8);
  EXPECT_EQ(f.cbSize, 0);
}

MMRESULT Query(const ACMWAVEFORMATEX& source, const ACMWAVEFORMATEX& destination,
               std::uint32_t flags = 0) {
  return acmStreamOpen(nullptr, nullptr, &source, &destination, nullptr, 0, 0,
                       ACM_STREAMOPENF_QUERY | flags);
}

TEST(AcmManagerTest, VersionAndMetrics) {
  EXPECT_GE(acmGetVersion() >> 16, 0x0200u);

  std::uint32_t value = 0;
  ASSERT_EQ(acmMetrics(nullptr, 1 /* drivers */, &value), MMSYSERR_NOERROR);
  EXPECT_GE(value, 1u);
  ASSERT_EQ(acmMetrics(nullptr, 3 /* converters */, &value), MMSYSERR_NOERROR);
  EXPECT_GE(value, 1u);
  ASSERT_EQ(acmMetrics(nullptr, 50 /* largest format */, &value), MMSYSERR_NOERROR);
  EXPECT_GE(value, 18u);
  EXPECT_EQ(acmMetrics(nullptr, 1, nullptr), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmMetrics(nullptr, 9999, &value), MMSYSERR_NOTSUPPORTED);
  // Enumerations and choosers exist but do nothing.
  EXPECT_EQ(acmDriverEnum(nullptr, 0, 0), MMSYSERR_NOTSUPPORTED);
  EXPECT_EQ(acmFormatChooseA(&value), MMSYSERR_NOTSUPPORTED);
}

TEST(AcmFormatSuggestTest, HonoursEachConstraint) {
  const ACMWAVEFORMATEX source = Pcm(2, 44100, 16);
  struct Case {
    std::uint32_t flags;
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits;
  };
  const Case cases[] = {
      {0, 2, 44100, 16},
      {kTag, 2, 44100, 16},
      {kTag | kChannels, 1, 44100, 16},
      {kTag | kRate, 2, 11025, 16},
      {kTag | kBits, 2, 44100, 8},
      {kChannels | kRate, 1, 4000, 16},
      {kTag | kChannels | kRate | kBits, 1, 100000, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << std::hex << c.flags);
    ACMWAVEFORMATEX out = Garbage();
    if (c.flags & kTag) out.wFormatTag = WAVE_FORMAT_PCM_TAG;
    if (c.flags & kChannels) out.nChannels = c.channels;
    if (c.flags & kRate) out.nSamplesPerSec = c.rate;
    if (c.flags & kBits) out.wBitsPerSample = c.bits;
    ASSERT_EQ(acmFormatSuggest(nullptr, &source, &out, sizeof out, c.flags), MMSYSERR_NOERROR);
    ExpectFormat(out, c.channels, c.rate, c.bits);
    // What is suggested can be converted to in one step.
    EXPECT_EQ(Query(source, out), MMSYSERR_NOERROR);
  }
  // A wrong nAvgBytesPerSec does not matter; the suggestion is consistent.
  ACMWAVEFORMATEX odd = Pcm(1, 8000, 8);
  odd.nAvgBytesPerSec = 12345;
  ACMWAVEFORMATEX out = Pcm(1, 8000, 8);
  ASSERT_EQ(acmFormatSuggest(nullptr, &odd, &out, sizeof out, kTag), MMSYSERR_NOERROR);
  ExpectFormat(out, 1, 8000, 8);
}

TEST(AcmFormatSuggestTest, RefusesWhatNoDriverProduces) {
  const ACMWAVEFORMATEX source = Pcm(2, 44100, 16);
  struct Case {
    std::uint32_t flags;
    ACMWAVEFORMATEX wanted;
  };
  ACMWAVEFORMATEX mp3 = Pcm(2, 44100, 16);
  mp3.wFormatTag = 0x55;
  const Case cases[] = {
      {kTag, mp3},
      {kChannels, Pcm(3, 44100, 16)},
      {kBits, Pcm(2, 44100, 24)},
      {kRate, Pcm(2, 3999, 16)},
      {kRate, Pcm(2, 100001, 16)},
  };
  for (const Case& c : cases) {
    ACMWAVEFORMATEX out = c.wanted;
    EXPECT_EQ(acmFormatSuggest(nullptr, &source, &out, sizeof out, c.flags), ACMERR_NOTPOSSIBLE);
  }

  // Sources the PCM driver does not take.
  ACMWAVEFORMATEX badAlign = Pcm(2, 44100, 16);
  badAlign.nBlockAlign = 3;
  for (const ACMWAVEFORMATEX& from : {mp3, Pcm(2, 44100, 20), Pcm(4, 44100, 16), badAlign}) {
    ACMWAVEFORMATEX out = Pcm(2, 44100, 16);
    EXPECT_EQ(acmFormatSuggest(nullptr, &from, &out, sizeof out, kTag), ACMERR_NOTPOSSIBLE);
  }
}

TEST(AcmFormatSuggestTest, ChecksArgumentsAndWritesOnlyTheRecord) {
  const ACMWAVEFORMATEX source = Pcm(1, 22050, 8);
  std::array<std::uint8_t, 32> buffer;
  buffer.fill(0xEE);
  auto* out = reinterpret_cast<ACMWAVEFORMATEX*>(buffer.data());
  out->wFormatTag = WAVE_FORMAT_PCM_TAG;

  EXPECT_EQ(acmFormatSuggest(nullptr, &source, out, 17, kTag), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmFormatSuggest(nullptr, nullptr, out, 18, kTag), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, nullptr, 18, kTag), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmFormatSuggest(reinterpret_cast<HACMDRIVER>(buffer.data()), &source, out, 18, kTag),
            MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, out, 18, kTag | 1u), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmFormatSuggest(nullptr, &source, out, 18, 0x00100000u), MMSYSERR_INVALFLAG);

  ASSERT_EQ(acmFormatSuggest(nullptr, &source, out, 18, kTag), MMSYSERR_NOERROR);
  ExpectFormat(*out, 1, 22050, 8);
  for (std::size_t i = 18; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i;
}

TEST(AcmQueryOpenTest, AnyPcmPairConvertsInOneStep) {
  const std::uint32_t rates[] = {4000, 8000, 22050, 44100, 48000, 100000};
  for (std::uint16_t sourceBits : {8, 16}) {
    for (std::uint16_t sourceChannels : {1, 2}) {
      for (std::uint32_t sourceRate : rates) {
        const ACMWAVEFORMATEX from = Pcm(sourceChannels, sourceRate, sourceBits);
        for (std::uint16_t bits : {8, 16}) {
          for (std::uint16_t channels : {1, 2}) {
            for (std::uint32_t rate : {4000u, 44100u, 100000u}) {
              const ACMWAVEFORMATEX to = Pcm(channels, rate, bits);
              EXPECT_EQ(Query(from, to), MMSYSERR_NOERROR);
              EXPECT_EQ(Query(from, to, ACM_STREAMOPENF_NONREALTIME), MMSYSERR_NOERROR);
            }
          }
        }
      }
    }
  }
  // A stream pointer given with the query comes back null.
  const ACMWAVEFORMATEX pcm = Pcm(2, 44100, 16);
  HACMSTREAM stream = reinterpret_cast<HACMSTREAM>(0x1234);
  EXPECT_EQ(acmStreamOpen(&stream, nullptr, &pcm, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  EXPECT_EQ(stream, nullptr);
}

TEST(AcmQueryOpenTest, RefusesUnsupportedFormatsAndRequests) {
  const ACMWAVEFORMATEX good = Pcm(2, 44100, 16);
  ACMWAVEFORMATEX mp3 = good;
  mp3.wFormatTag = 0x55;
  ACMWAVEFORMATEX badAlign = good;
  badAlign.nBlockAlign = 2;
  for (const ACMWAVEFORMATEX& bad : {Pcm(3, 44100, 16), Pcm(2, 44100, 20), Pcm(2, 3999, 16),
                                     Pcm(2, 100001, 16), mp3, badAlign}) {
    EXPECT_EQ(Query(good, bad), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(Query(bad, good), ACMERR_NOTPOSSIBLE);
  }
  // 24 and 32 bits are read, never written.
  EXPECT_EQ(Query(good, Pcm(2, 44100, 24)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Query(good, Pcm(2, 44100, 32)), ACMERR_NOTPOSSIBLE);

  int filter = 0;
  int notADriver = 0;
  HACMSTREAM stream = nullptr;
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &good, &good, &filter, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Query(good, good, ACM_STREAMOPENF_ASYNC), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(acmStreamOpen(nullptr, reinterpret_cast<HACMDRIVER>(&notADriver), &good, &good, nullptr,
                          0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, nullptr, &good, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &good, nullptr, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &good, &good, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamOpen(&stream, nullptr, &good, &good, nullptr, 0, 0, 0x100u),
            MMSYSERR_INVALFLAG);
  EXPECT_EQ(stream, nullptr);
}

}  // namespace
