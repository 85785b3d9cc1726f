// Frame positions on the decoded (gapless) timeline: frame k starts at sample k * samples per
// frame of a full decode.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

TEST(MpegDecPosition, DecodingFromFrameKIsTheTailOfAFullDecode) {
  for (const char* file :
       {"cbr44_joint.mp3", "vbr16_mono.mp3", "cbr8_mono.mp3", "layer1_48.mp1", "layer2_48.mp2",
        "notag_vbr22.mp3", "truncated.mp3", "rate_switch.mp3", "mono_stereo.mp3"}) {
    const auto whole = decodeFixture(file);
    Instance instance;
    ASSERT_EQ(instance.open(file), MPEG_OK);
    const TMpegFileInfo info = instance.info();
    const size_t step = size_t(instance.samplesPerFrame() * channelsOf(info));
    const int last = int((whole.size() - 1) / step);
    for (const int frame : {1, 2, 5, last / 2, last - 1, last}) {
      ASSERT_EQ(mpeg_SetPosition(instance.get(), frame), MPEG_OK) << file << " frame " << frame;
      EXPECT_EQ(mpeg_GetPosition(instance.get()), frame);
      const Decoded tail = readToEnd(instance.get());
      EXPECT_FALSE(tail.emptyReadNeeded);
      ASSERT_EQ(tail.samples.size(), whole.size() - frame * step) << file << " frame " << frame;
      // libmpg123 may round a few samples after a seek one step differently from a decode that
      // ran through (some MPEG 2 and mono streams); anything more is a wrong position.
      int worst = 0;
      for (size_t i = 0; i < tail.samples.size(); ++i) {
        worst = std::max(worst, std::abs(tail.samples[i] - whole[frame * step + i]));
      }
      EXPECT_LE(worst, 1) << file << " frame " << frame;
    }
    ASSERT_EQ(mpeg_SetPosition(instance.get(), 0), MPEG_OK);
    EXPECT_TRUE(readToEnd(instance.get()).samples == whole) << file;
  }
}

TEST(MpegDecPosition, PositionFollowsReadsAndStopsAtTheEnd) {
  Instance instance;
  ASSERT_EQ(mpeg_GetPosition(instance.get()), -1);
  ASSERT_EQ(instance.open("cbr44_joint.mp3"), MPEG_OK);
  const TMpegFileInfo info = instance.info();
  std::vector<char> buffer(4 * 1152);  // one frame of stereo samples
  for (int i = 0; i < 10; ++i) mpeg_ReadDataBytes(instance.get(), buffer.data(), 4 * 1152);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 10);
  mpeg_ReadDataBytes(instance.get(), buffer.data(), 4 * 600);
  int32_t frame = -1;
  EXPECT_EQ(mpeg_ReadDataBytesEx(instance.get(), buffer.data(), 4 * 1152, &frame), 4 * 1152);
  EXPECT_EQ(frame, 10);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 11);

  // Positions past the last sample leave nothing to read; beyond the frames they are refused.
  EXPECT_EQ(mpeg_SetPosition(instance.get(), info.Frames), MPEG_OK);
  EXPECT_TRUE(mpeg_GetDone(instance.get()));
  EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), buffer.data(), 4096), 0);
  EXPECT_EQ(mpeg_SetPosition(instance.get(), info.Frames + 1), MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(mpeg_SetPosition(instance.get(), -1), MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(mpeg_SetPosition(instance.get(), 3), MPEG_OK);
  EXPECT_FALSE(mpeg_GetDone(instance.get()));

  ASSERT_EQ(mpeg_CloseFile(instance.get()), MPEG_OK);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 0);
}

// A bound file that is not open has a position too: 0 after binding and after closing, and a
// position set before opening is where the next open starts decoding.
TEST(MpegDecPosition, PositionOfABoundFileBeforeItIsOpened) {
  const auto whole = decodeFixture("cbr44_joint.mp3");
  Instance instance;
  ASSERT_EQ(mpeg_SetPosition(instance.get(), 3), MPEG_ERR_NO_FILE);
  ASSERT_EQ(mpeg_SetFileName(instance.get(), fixture("cbr44_joint.mp3").c_str()), MPEG_OK);
  TMpegFileInfo info{};
  ASSERT_EQ(mpeg_GetFileInfo(instance.get(), &info), MPEG_OK);
  const size_t step = size_t(instance.samplesPerFrame() * channelsOf(info));
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 0);
  EXPECT_EQ(mpeg_SetPosition(instance.get(), info.Frames + 1), MPEG_ERR_BAD_ARGUMENT);
  ASSERT_EQ(mpeg_SetPosition(instance.get(), 7), MPEG_OK);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 7);

  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 7);
  const Decoded tail = readToEnd(instance.get());
  ASSERT_EQ(tail.samples.size(), whole.size() - 7 * step);
  EXPECT_LE(std::abs(tail.samples[step] - whole[8 * step]), 1);

  ASSERT_EQ(mpeg_CloseFile(instance.get()), MPEG_OK);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), 0);
  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  EXPECT_TRUE(readToEnd(instance.get()).samples == whole);
}

}  // namespace
}  // namespace mpegdec_test
