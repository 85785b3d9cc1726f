// Streams at one rate: exact sample conversions, block alignment, output delivery, the header
// life cycle, handles and bad arguments, and streams in parallel threads.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "AcmTestSupport.h"
#include "acm/msacm.h"

namespace {

using acmtest::Pcm;
using acmtest::Stream;
using acmtest::Words;

std::vector<std::uint8_t> ConvertOnce(const ACMWAVEFORMATEX& from, const ACMWAVEFORMATEX& to,
                                      const std::vector<std::uint8_t>& data) {
  Stream stream(from, to);
  EXPECT_TRUE(stream.ok());
  if (!stream.ok()) return {};
  return stream.Convert(data, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
}

TEST(AcmPcmConversionTest, EightToSixteenBits) {
  const std::vector<std::uint8_t> bytes = {0, 1, 127, 128, 129, 255};
  EXPECT_EQ(ConvertOnce(Pcm(1, 8000, 8), Pcm(1, 8000, 16), bytes),
            Words({-32768, -32512, -256, 0, 256, 32512}));
}

TEST(AcmPcmConversionTest, SixteenToEightBitsRoundsTowardZero) {
  const auto words = Words({0, -1, -255, -256, -257, 255, 256, -32768, 32767, 128});
  const std::vector<std::uint8_t> expected = {128, 128, 128, 127, 127, 128, 129, 0, 255, 128};
  EXPECT_EQ(ConvertOnce(Pcm(1, 8000, 16), Pcm(1, 8000, 8), words), expected);
  // 8 → 16 → 8 gives every byte back.
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  const auto wide = ConvertOnce(Pcm(2, 8000, 8), Pcm(2, 8000, 16), all);
  EXPECT_EQ(ConvertOnce(Pcm(2, 8000, 16), Pcm(2, 8000, 8), wide), all);
}

TEST(AcmPcmConversionTest, ChannelMixing) {
  // Mono → stereo duplicates.
  EXPECT_EQ(ConvertOnce(Pcm(1, 22050, 16), Pcm(2, 22050, 16), Words({5, -7, 32767})),
            Words({5, 5, -7, -7, 32767, 32767}));
  // Stereo → mono: the mean, truncated toward zero.
  EXPECT_EQ(ConvertOnce(Pcm(2, 22050, 16), Pcm(1, 22050, 16),
                        Words({1, 0, -1, 0, 3, 4, -3, -4, 32767, 32767, -32768, -32768, 32767,
                               -32768, 100, -300})),
            Words({0, 0, 3, -3, 32767, -32768, 0, -100}));
  // 8-bit stereo → 8-bit mono: (a + b − 256) / 2 toward zero, + 128.
  EXPECT_EQ(ConvertOnce(Pcm(2, 22050, 8), Pcm(1, 22050, 8), {0, 255, 129, 128, 127, 128, 200, 201}),
            (std::vector<std::uint8_t>{128, 128, 128, 200}));
}

TEST(AcmPcmConversionTest, BitsAndChannelsChangeInOneStep) {
  EXPECT_EQ(ConvertOnce(Pcm(2, 11025, 8), Pcm(1, 11025, 16), {0, 255, 200, 100}),
            Words({-128, 5632}));
  EXPECT_EQ(ConvertOnce(Pcm(1, 11025, 16), Pcm(2, 11025, 8), Words({-1, 256})),
            (std::vector<std::uint8_t>{128, 128, 129, 129}));
  // The same format is copied unchanged.
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(4000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  EXPECT_EQ(ConvertOnce(Pcm(2, 44100, 16), Pcm(2, 44100, 16), noise), noise);
}

TEST(AcmPcmConversionTest, ConvertsWholeSourceBlocksOnly) {
  Stream stream(Pcm(2, 44100, 16), Pcm(1, 44100, 8));
  ASSERT_TRUE(stream.ok());
  const std::vector<std::uint8_t> data(4 * 5 + 3, 0);
  for (std::uint32_t flags : {ACM_STREAMCONVERTF_BLOCKALIGN, 0u, ACM_STREAMCONVERTF_END}) {
    std::uint32_t used = 0;
    EXPECT_EQ(stream.Convert(data, flags, &used).size(), 5u);
    EXPECT_EQ(used, 20u);
  }
  std::uint32_t used = 99;
  EXPECT_TRUE(
      stream.Convert(std::vector<std::uint8_t>(3), ACM_STREAMCONVERTF_BLOCKALIGN, &used).empty());
  EXPECT_EQ(used, 0u);
}

TEST(AcmPcmConversionTest, SmallDestinationGetsTheRestOnLaterCalls) {
  const ACMWAVEFORMATEX mono = Pcm(1, 8000, 16);
  Stream stream(mono, mono);
  ASSERT_TRUE(stream.ok());
  ACMSTREAMHEADER& h = stream.header();
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 40; ++i) data.push_back(static_cast<std::uint8_t>(i));
  std::copy(data.begin(), data.end(), h.pbSrc);

  std::vector<std::uint8_t> out;
  h.cbSrcLength = 40;
  h.cbDstLength = 15;  // room for 7 samples, not 7.5
  ASSERT_EQ(acmStreamConvert(stream.handle(), &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
  EXPECT_EQ(h.cbSrcLengthUsed, 40u);
  EXPECT_EQ(h.cbDstLengthUsed, 14u);
  out.insert(out.end(), h.pbDst, h.pbDst + h.cbDstLengthUsed);
  h.cbSrcLength = 0;
  for (std::uint32_t expected : {14u, 12u}) {
    ASSERT_EQ(acmStreamConvert(stream.handle(), &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    EXPECT_EQ(h.cbDstLengthUsed, expected);
    out.insert(out.end(), h.pbDst, h.pbDst + h.cbDstLengthUsed);
  }
  // New input queues up behind what is still waiting.
  h.cbSrcLength = 40;
  h.cbDstLength = 30;
  ASSERT_EQ(acmStreamConvert(stream.handle(), &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
  EXPECT_EQ(h.cbDstLengthUsed, 30u);
  out.insert(out.end(), h.pbDst, h.pbDst + h.cbDstLengthUsed);
  std::fill(h.pbSrc, h.pbSrc + 4, 0xAB);
  h.cbSrcLength = 4;
  h.cbDstLength = 100;
  ASSERT_EQ(acmStreamConvert(stream.handle(), &h, ACM_STREAMCONVERTF_END), 0u);
  out.insert(out.end(), h.pbDst, h.pbDst + h.cbDstLengthUsed);
  std::vector<std::uint8_t> expected = data;
  expected.insert(expected.end(), data.begin(), data.end());
  expected.insert(expected.end(), 4, 0xAB);
  EXPECT_EQ(out, expected);
  // START drops whatever was waiting.
  h.cbSrcLength = 40;
  h.cbDstLength = 2;
  ASSERT_EQ(acmStreamConvert(stream.handle(), &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
  h.cbSrcLength = 0;
  h.cbDstLength = 100;
  ASSERT_EQ(
      acmStreamConvert(stream.handle(), &h, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END), 0u);
  EXPECT_EQ(h.cbDstLengthUsed, 0u);
}

TEST(AcmStreamHeaderTest, PrepareConvertUnprepare) {
  const ACMWAVEFORMATEX format = Pcm(1, 8000, 8);
  HACMSTREAM stream = nullptr;
  HACMSTREAM other = nullptr;
  ASSERT_EQ(acmStreamOpen(&stream, nullptr, &format, &format, nullptr, 0, 0, 0), 0u);
  ASSERT_EQ(acmStreamOpen(&other, nullptr, &format, &format, nullptr, 0, 0, 0), 0u);
  std::uint8_t src[16] = {};
  std::uint8_t dst[16] = {};
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = src;
  h.cbSrcLength = 8;
  h.pbDst = dst;
  h.cbDstLength = 8;

  EXPECT_EQ(acmStreamConvert(stream, &h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamPrepareHeader(stream, &h, 1), MMSYSERR_INVALFLAG);
  ASSERT_EQ(acmStreamPrepareHeader(stream, &h, 0), MMSYSERR_NOERROR);
  EXPECT_NE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED, 0u);
  EXPECT_EQ(acmStreamPrepareHeader(stream, &h, 0), MMSYSERR_NOERROR);  // again: no effect
  EXPECT_EQ(acmStreamConvert(other, &h, 0), ACMERR_UNPREPARED);        // not this stream's

  EXPECT_EQ(acmStreamConvert(stream, &h, 0x40), MMSYSERR_INVALFLAG);
  h.cbSrcLength = 9;  // larger than prepared
  EXPECT_EQ(acmStreamConvert(stream, &h, 0), MMSYSERR_INVALPARAM);
  h.cbSrcLength = 8;
  h.cbDstLength = 9;
  EXPECT_EQ(acmStreamConvert(stream, &h, 0), MMSYSERR_INVALPARAM);
  h.cbDstLength = 8;
  h.cbStruct = 80;
  EXPECT_EQ(acmStreamConvert(stream, &h, 0), MMSYSERR_INVALPARAM);
  h.cbStruct = sizeof h;

  src[0] = 77;
  h.cbSrcLength = 4;  // shorter than prepared is fine
  ASSERT_EQ(acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_NE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE, 0u);
  EXPECT_EQ(h.cbSrcLengthUsed, 4u);
  EXPECT_EQ(h.cbDstLengthUsed, 4u);
  EXPECT_EQ(dst[0], 77);

  ASSERT_EQ(acmStreamUnprepareHeader(stream, &h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED, 0u);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamConvert(stream, &h, 0), ACMERR_UNPREPARED);

  // Headers without buffers or of the wrong size are refused.
  ACMSTREAMHEADER empty{};
  empty.cbStruct = sizeof empty;
  EXPECT_EQ(acmStreamPrepareHeader(stream, &empty, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamPrepareHeader(stream, nullptr, 0), MMSYSERR_INVALPARAM);
  h.cbStruct = 83;
  EXPECT_EQ(acmStreamPrepareHeader(stream, &h, 0), MMSYSERR_INVALPARAM);
  h.cbStruct = 0;
  EXPECT_EQ(acmStreamPrepareHeader(stream, &h, 0), MMSYSERR_INVALPARAM);
  // 84, the size of the packed 32-bit layout of the record, is taken too.
  h.cbStruct = 84;
  EXPECT_EQ(acmStreamPrepareHeader(stream, &h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamUnprepareHeader(stream, &h, 0), MMSYSERR_NOERROR);

  EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(other, 0), MMSYSERR_NOERROR);
}

TEST(AcmStreamHandleTest, UnknownAndClosedHandlesAreRefused) {
  const ACMWAVEFORMATEX format = Pcm(2, 44100, 16);
  HACMSTREAM closed = nullptr;
  ASSERT_EQ(acmStreamOpen(&closed, nullptr, &format, &format, nullptr, 0, 0, 0), 0u);
  ASSERT_EQ(acmStreamClose(closed, 0), MMSYSERR_NOERROR);
  int junk[64] = {};
  std::uint8_t buffer[8] = {};
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = buffer;
  h.pbDst = buffer;
  for (HACMSTREAM bad : {HACMSTREAM{nullptr}, reinterpret_cast<HACMSTREAM>(junk), closed}) {
    std::uint32_t size = 1;
    EXPECT_EQ(acmStreamClose(bad, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamReset(bad, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamSize(bad, 100, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(acmStreamPrepareHeader(bad, &h, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamUnprepareHeader(bad, &h, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamConvert(bad, &h, 0), MMSYSERR_INVALHANDLE);
  }
}

TEST(AcmStreamSizeTest, AnswersForBothDirectionsAndChecksArguments) {
  Stream stream(Pcm(2, 44100, 16), Pcm(1, 44100, 8));
  ASSERT_TRUE(stream.ok());
  std::uint32_t size = 0;
  EXPECT_EQ(acmStreamSize(stream.handle(), 4000, &size, ACM_STREAMSIZEF_SOURCE), 0u);
  EXPECT_EQ(size, 1000u);
  EXPECT_EQ(acmStreamSize(stream.handle(), 1000, &size, ACM_STREAMSIZEF_DESTINATION), 0u);
  EXPECT_EQ(size, 4000u);
  EXPECT_EQ(acmStreamSize(stream.handle(), 3, &size, 0), ACMERR_NOTPOSSIBLE);  // not one frame
  EXPECT_EQ(acmStreamSize(stream.handle(), 0, &size, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamSize(stream.handle(), 100, nullptr, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamSize(stream.handle(), 100, &size, 2), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamReset(stream.handle(), 1), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamReset(stream.handle(), 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(stream.handle(), 1), MMSYSERR_INVALFLAG);
}

TEST(AcmStreamThreadTest, StreamsInParallelThreadsGiveTheSameResult) {
  const ACMWAVEFORMATEX from = Pcm(2, 44100, 16);
  const ACMWAVEFORMATEX to = Pcm(1, 22050, 8);
  const auto data = acmtest::Sine(44100, 44100, 2);
  std::vector<std::uint8_t> expected;
  {
    Stream stream(from, to);
    ASSERT_TRUE(stream.ok());
    expected = stream.ConvertAll(data, 8192);
  }
  std::vector<std::vector<std::uint8_t>> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&from, &to, &data, &result] {
      for (int round = 0; round < 3; ++round) {
        Stream stream(from, to);
        if (!stream.ok()) return;
        result = stream.ConvertAll(data, 8192);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, expected);
}

}  // namespace
