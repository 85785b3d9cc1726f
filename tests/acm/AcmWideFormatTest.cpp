// Wide and float sources: which records of 24- and 32-bit PCM, IEEE float and the extensible
// record are read, and what is suggested for them. Their samples are compared with sox's in
// AcmCodecTest.cpp and through the audio file source in the sources tests.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AcmCodecFiles.h"
#include "AcmTestSupport.h"
#include "acm/msacm.h"

namespace {

using acmtest::FormatBytes;
using acmtest::Pcm;

constexpr std::uint16_t kFloat = 0x0003;
constexpr std::uint32_t kTag = ACM_FORMATSUGGESTF_WFORMATTAG;
constexpr std::uint32_t kBits = ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
// The first byte of a sub-format GUID: PCM, ADPCM, float.
constexpr std::uint8_t kPcmCode = 0x01;
constexpr std::uint8_t kAdpcmCode = 0x02;
constexpr std::uint8_t kFloatCode = 0x03;

FormatBytes Plain(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                  std::uint16_t bits) {
  FormatBytes f;
  *f.get() = Pcm(channels, rate, bits);
  f.get()->wFormatTag = tag;
  return f;
}

// An extensible record as writers make it: valid bits, speakers, the sub-format GUID.
FormatBytes Extensible(std::uint8_t code, std::uint16_t channels, std::uint32_t rate,
                       std::uint16_t bits, std::uint16_t validBits, std::uint16_t cbSize = 22) {
  FormatBytes f = Plain(0xFFFE, channels, rate, bits);
  f.get()->cbSize = cbSize;
  std::vector<std::uint8_t> extra = {static_cast<std::uint8_t>(validBits & 0xFF),
                                     static_cast<std::uint8_t>(validBits >> 8)};
  extra.insert(extra.end(),
               {3, 0, 0, 0, code, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
  f.bytes.insert(f.bytes.end(), extra.begin(), extra.begin() + cbSize);
  return f;
}

MMRESULT Query(const ACMWAVEFORMATEX& source, const ACMWAVEFORMATEX& destination) {
  return acmStreamOpen(nullptr, nullptr, &source, &destination, nullptr, 0, 0,
                       ACM_STREAMOPENF_QUERY);
}

struct Row {
  const char* name;
  FormatBytes format;
  bool readable;
};

// A readable source gets 16-bit PCM of its channels and rate (never wide); the rest are
// refused.
TEST(WideFormatTest, ReadsWideAndFloatRecordsAsSixteenBitPcm) {
  FormatBytes floatBadAlign = Plain(kFloat, 2, 44100, 32);
  floatBadAlign.get()->nBlockAlign = 4;
  const Row rows[] = {
      {"pcm 24", Plain(WAVE_FORMAT_PCM_TAG, 2, 44100, 24), true},
      {"pcm 32", Plain(WAVE_FORMAT_PCM_TAG, 1, 8000, 32), true},
      {"float 32", Plain(kFloat, 2, 48000, 32), true},
      {"float 64", Plain(kFloat, 1, 44100, 64), true},
      {"extensible pcm 8", Extensible(kPcmCode, 1, 96000, 8, 8), true},
      {"extensible pcm 16", Extensible(kPcmCode, 2, 96000, 16, 16), true},
      {"extensible pcm 20 in 24", Extensible(kPcmCode, 2, 44100, 24, 20), true},
      {"extensible pcm 32, valid bits 0", Extensible(kPcmCode, 2, 22050, 32, 0), true},
      {"extensible float 64", Extensible(kFloatCode, 2, 4000, 64, 64), true},
      {"pcm 20", Plain(WAVE_FORMAT_PCM_TAG, 2, 44100, 20), false},
      {"pcm 24, 3 channels", Plain(WAVE_FORMAT_PCM_TAG, 3, 44100, 24), false},
      {"float 16", Plain(kFloat, 1, 44100, 16), false},
      {"float, wrong block size", std::move(floatBadAlign), false},
      {"float, rate too low", Plain(kFloat, 1, 3999, 32), false},
      {"extensible adpcm", Extensible(kAdpcmCode, 1, 44100, 16, 16), false},
      {"extensible, extra bytes cut", Extensible(kPcmCode, 1, 44100, 24, 24, 20), false},
      {"extensible, valid bits > held", Extensible(kPcmCode, 1, 44100, 24, 25), false},
      {"extensible float 24", Extensible(kFloatCode, 1, 44100, 24, 24), false},
      {"extensible, 6 channels", Extensible(kPcmCode, 6, 48000, 24, 24), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ACMWAVEFORMATEX& source = *row.format;
    const ACMWAVEFORMATEX pcm16 = Pcm(source.nChannels, source.nSamplesPerSec, 16);
    for (const std::uint32_t flags : {0u, kTag}) {
      ACMWAVEFORMATEX out = Pcm(1, 8000, 8);
      const MMRESULT suggested = acmFormatSuggest(nullptr, &source, &out, sizeof out, flags);
      ASSERT_EQ(suggested, row.readable ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE);
      if (row.readable) {
        EXPECT_EQ(std::memcmp(&out, &pcm16, sizeof out), 0);
      }
    }
    EXPECT_EQ(Query(source, pcm16), row.readable ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE);
    if (!row.readable) continue;
    ACMWAVEFORMATEX wide = Pcm(source.nChannels, source.nSamplesPerSec, 24);
    EXPECT_EQ(acmFormatSuggest(nullptr, &source, &wide, sizeof wide, kBits), ACMERR_NOTPOSSIBLE);
  }
}

}  // namespace
