// Reading: the end, restarts, channel selection, a rate change and damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

TEST(MpegDecRead, DoneComesWithTheLastBytesWhateverTheBlockSize) {
  for (const char* file : {"cbr44_joint.mp3", "vbr16_mono.mp3", "layer1_48.mp1"}) {
    const auto whole = decodeFixture(file);
    for (const int32_t block : {32768, 4097, 1001, 7}) {
      Instance instance;
      ASSERT_EQ(instance.open(file), MPEG_OK);
      const Decoded decoded = readToEnd(instance.get(), block);
      EXPECT_FALSE(decoded.emptyReadNeeded) << file << " block " << block;
      EXPECT_FALSE(decoded.partialSampleFrame) << file << " block " << block;
      EXPECT_TRUE(decoded.samples == whole) << file << " block " << block;
      char after[8];
      EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), after, sizeof after), 0);
    }
  }
  Instance instance;
  ASSERT_EQ(instance.open("cbr44_joint.mp3"), MPEG_OK);
  char buffer[4];
  EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), buffer, 0), 0);
  EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), buffer, 3), -MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), nullptr, 4), -MPEG_ERR_BAD_ARGUMENT);
  EXPECT_FALSE(mpeg_GetDone(instance.get()));
}

TEST(MpegDecRead, ResetFileRestartsIdentically) {
  for (const char* file : {"cbr22_joint.mp3", "vbr44_joint.mp3", "rate_switch.mp3"}) {
    const auto whole = decodeFixture(file);
    Instance instance;
    ASSERT_EQ(instance.open(file), MPEG_OK);
    std::vector<char> buffer(32768);
    for (int i = 0; i < 3; ++i) mpeg_ReadDataBytes(instance.get(), buffer.data(), 32768);
    for (int loop = 0; loop < 2; ++loop) {  // from the middle, then after the end
      ASSERT_EQ(mpeg_ResetFile(instance.get()), MPEG_OK);
      EXPECT_FALSE(mpeg_GetDone(instance.get()));
      EXPECT_TRUE(readToEnd(instance.get()).samples == whole) << file;
    }
  }
}

TEST(MpegDecChannels, ModesPickOneChannelOrMixBoth) {
  for (const char* file : {"vbr32_stereo.mp3", "dual48.mp3"}) {
    const auto both = decodeFixture(file, MPEG_CHANNEL_BOTH);
    const auto left = decodeFixture(file, MPEG_CHANNEL_LEFT);
    const auto right = decodeFixture(file, MPEG_CHANNEL_RIGHT);
    const auto mix = decodeFixture(file, MPEG_CHANNEL_DOWNMIX);
    ASSERT_EQ(both.size(), 2 * left.size());
    ASSERT_EQ(right.size(), left.size());
    ASSERT_EQ(mix.size(), left.size());
    // libmpg123 rounds a single decoded channel a little differently, so compare loosely here
    // (the channels carry different tones at half scale) and exactly with mpg123 below.
    int worst = 0;
    for (size_t i = 0; i < left.size(); ++i) {
      const int l = both[2 * i], r = both[2 * i + 1];
      worst = std::max(
          {worst, std::abs(left[i] - l), std::abs(right[i] - r), std::abs(2 * mix[i] - l - r) / 2});
    }
    EXPECT_LT(worst, 256) << file;
    if (!haveMpg123()) continue;
    EXPECT_TRUE(mpg123Decode(file, "-0").value().samples == left) << file;
    EXPECT_TRUE(mpg123Decode(file, "-1").value().samples == right) << file;
    EXPECT_TRUE(mpg123Decode(file, "--mono").value().samples == mix) << file;
  }
  const auto mono = decodeFixture("cbr48_mono.mp3");
  for (const int mode : {MPEG_CHANNEL_LEFT, MPEG_CHANNEL_RIGHT, MPEG_CHANNEL_DOWNMIX}) {
    EXPECT_TRUE(decodeFixture("cbr48_mono.mp3", mode) == mono) << "mode " << mode;
  }
  // The channel count follows the mode, so the mode stays while the file is open.
  Instance instance;
  ASSERT_EQ(instance.open("cbr44_joint.mp3", MPEG_CHANNEL_LEFT), MPEG_OK);
  EXPECT_EQ(mpeg_SetChannelMode(instance.get(), MPEG_CHANNEL_BOTH), MPEG_ERR_ALREADY_OPEN);
  EXPECT_EQ(mpeg_SetChannelMode(instance.get(), 4), MPEG_ERR_BAD_ARGUMENT);
  int32_t mode = 0x7F7F7F7F;  // only the low byte is written
  ASSERT_EQ(mpeg_GetChannelMode(instance.get(), &mode), MPEG_OK);
  EXPECT_EQ(mode, 0x7F7F7F00 | MPEG_CHANNEL_LEFT);
}

// A lone stereo frame before a mono stream starts the stream, so the PCM is stereo: the announced
// mode must say so, since callers take the channel count from it.
TEST(MpegDecChannels, ModeAnnouncesTheChannelsDelivered) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("mpegdec-mode-" + std::to_string(getpid()) + ".mp3");
  // MPEG 2 layer III, 16 kHz, 8 kbit/s, stereo: 36 bytes of silence.
  std::vector<uint8_t> bytes = {0xFF, 0xF3, 0x18, 0x00};
  bytes.resize(36, 0);
  const auto mono = fileBytes(fixture("vbr16_mono.mp3"));
  bytes.insert(bytes.end(), mono.begin(), mono.end());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  Instance instance;
  ASSERT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_OK);
  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  const TMpegFileInfo info = instance.info();
  const Decoded decoded = readToEnd(instance.get());
  EXPECT_EQ(decoded.error, 0);
  const double ms = decoded.samples.size() / channelsOf(info) * 1000.0 / info.PlayBackRate;
  EXPECT_NEAR(ms, info.Time, 0.5);
  std::filesystem::remove(path);
}

TEST(MpegDecFormat, RateChangeIsResampledIntoTheAnnouncedFormat) {
  Instance instance;
  ASSERT_EQ(instance.open("rate_switch.mp3"), MPEG_OK);
  const TMpegFileInfo info = instance.info();
  EXPECT_EQ(int(info.PlayBackRate), 44100);
  const auto samples = readToEnd(instance.get()).samples;
  // Both fixtures start with the same 44.1 kHz stereo stream of 44100 samples...
  const auto stereoFirst = decodeFixture("stereo_mono.mp3");
  ASSERT_GE(samples.size(), 88200u);
  EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 88200, stereoFirst.begin()));
  // ...then come 44 frames at 48 kHz, delivered at 44.1 kHz.
  const double frames = double(samples.size()) / 2;
  EXPECT_NEAR(frames, 44100 + 44 * 1152 * 44100.0 / 48000, 2);
  EXPECT_EQ(int(info.Time), int(std::lround(frames * 1000 / 44100)));
}

// An info header that claims billions of frames is left unused: libmpg123 counted through
// every one of them when it resampled, and binding this 9 KB file took minutes.
TEST(MpegDecRobustness, AForgedInfoFrameCountIsNotUsed) {
  Instance instance;
  const std::string path = std::string(QD_MP3_FIXTURES) + "/../mpeg-found/forged_info_count.mp3";
  ASSERT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_OK);
  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  const TMpegFileInfo info = instance.info();
  EXPECT_LT(int(info.Frames), 100);  // a copy: the record is packed
  const Decoded decoded = readToEnd(instance.get());
  EXPECT_EQ(decoded.error, 0);
  const double ms = decoded.samples.size() / channelsOf(info) * 1000.0 / info.PlayBackRate;
  EXPECT_NEAR(ms, info.Time, 0.5);
}

TEST(MpegDecContainers, JunkBetweenFramesLeavesNoTrace) {
  // Without the frame map, libmpg123's resync decodes the false frames in the junk as noise.
  EXPECT_TRUE(decodeFixture("junk_middle.mp3") == decodeFixture("cbr44_joint.mp3"));
}

// Cut and corrupted copies bind or are refused, and when bound decode to exactly Time.
TEST(MpegDecRobustness, MutatedFilesDecodeToTheirAnnouncedLength) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("mpegdec-mutated-" + std::to_string(getpid()) + ".mp3");
  std::mt19937 random(20240611);
  int bound = 0;
  for (const char* source : {"vbr44_joint.mp3", "layer2_48.mp2", "cbr8_mono.mp3"}) {
    const auto original = fileBytes(fixture(source));
    for (int variant = 0; variant < 24; ++variant) {
      auto bytes = original;
      if (variant % 3 == 0) bytes.resize(random() % bytes.size());
      for (int hits = variant % 3 == 1 ? 40 : 4; hits > 0 && !bytes.empty(); --hits) {
        const size_t at = random() % bytes.size();
        const size_t length = std::min<size_t>(1 + random() % 64, bytes.size() - at);
        for (size_t i = 0; i < length; ++i) bytes[at + i] = variant % 2 ? 0xFF : uint8_t(random());
      }
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
      Instance instance;
      if (mpeg_SetFileName(instance.get(), path.c_str()) != MPEG_OK) {
        EXPECT_TRUE(mpeg_GetEmpty(instance.get()));
        continue;
      }
      ++bound;
      ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
      const TMpegFileInfo info = instance.info();
      const Decoded decoded = readToEnd(instance.get(), 4096);
      EXPECT_EQ(decoded.error, 0);
      const double ms = decoded.samples.size() / channelsOf(info) * 1000.0 / info.PlayBackRate;
      EXPECT_NEAR(ms, info.Time, 0.5) << source << " variant " << variant;
    }
  }
  std::filesystem::remove(path);
  EXPECT_GT(bound, 30);
}

}  // namespace
}  // namespace mpegdec_test
