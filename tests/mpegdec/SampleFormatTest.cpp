// The sample formats: 24-bit, 32-bit and float output as libmpg123 makes them, positioning in
// float, and the count of clipped samples of a master that is too loud.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

struct FormatCase {
  int32_t format;
  const char* mpg123Encoding;  // mpg123's -e argument
  int sampleBytes;
};
const FormatCase kWideFormats[] = {
    {MPEG_SAMPLES_S24, "s24", 3},
    {MPEG_SAMPLES_S32, "s32", 4},
    {MPEG_SAMPLES_FLOAT32, "f32", 4},
};

// Everything read until GetDone, in blocks of `block` bytes; every read must hold whole sample
// frames of `frameBytes`.
std::vector<uint8_t> readBytes(MPEG_HANDLE handle, int frameBytes, int32_t block = 4097) {
  std::vector<uint8_t> all;
  std::vector<uint8_t> buffer(size_t(block), 0);
  for (int reads = 0; !mpeg_GetDone(handle) && reads < 1000000; ++reads) {
    const int32_t got = mpeg_ReadDataBytes(handle, buffer.data(), block);
    EXPECT_GT(got, 0);
    if (got <= 0) break;
    EXPECT_EQ(got % frameBytes, 0);
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
  return all;
}

// Opens `path` in `format` and reads it to the end.
std::vector<uint8_t> decodeBytes(const std::string& path, int32_t format, int64_t* clipped,
                                 int32_t block = 4097) {
  Instance instance;
  EXPECT_EQ(mpeg_SetSampleFormat(instance.get(), format), MPEG_OK);
  EXPECT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_OK) << path;
  EXPECT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK) << path;
  const int bytes = format == MPEG_SAMPLES_S16 ? 2 : format == MPEG_SAMPLES_S24 ? 3 : 4;
  auto all = readBytes(instance.get(), bytes * channelsOf(instance.info()), block);
  if (clipped) {
    EXPECT_EQ(mpeg_GetClipCount(instance.get(), clipped), MPEG_OK);
  }
  return all;
}

std::vector<float> asFloats(const std::vector<uint8_t>& bytes) {
  std::vector<float> samples(bytes.size() / 4);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
  return samples;
}

float worstDifference(const float* a, const float* b, size_t count) {
  float worst = 0;
  for (size_t i = 0; i < count; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

TEST(MpegDecSampleFormat, WideOutputEqualsMpg123AtThatDepth) {
  if (!haveMpg123()) GTEST_SKIP() << "mpg123 is not installed";
  for (const char* file : {"cbr44_joint.mp3", "vbr44_joint.mp3", "cbr22_joint.mp3",
                           "cbr11_stereo.mp3", "vbr16_mono.mp3", "cbr48_mono.mp3", "layer1_48.mp1",
                           "layer2_48.mp2", "layer2_24mono.mp2"}) {
    for (const FormatCase& c : kWideFormats) {
      const auto reference = mpg123DecodeData(fixture(file), c.mpg123Encoding);
      ASSERT_TRUE(reference) << file << " " << c.mpg123Encoding;
      ASSERT_EQ(reference->bits, c.sampleBytes * 8) << file << " " << c.mpg123Encoding;
      const auto decoded = decodeBytes(fixture(file), c.format, nullptr);
      EXPECT_EQ(decoded.size(), reference->data.size()) << file << " " << c.mpg123Encoding;
      EXPECT_TRUE(decoded == reference->data) << file << " " << c.mpg123Encoding;
    }
  }
}

TEST(MpegDecSampleFormat, FloatPositionsLandOnTheSamplesOfAStraightDecode) {
  for (const char* file :
       {"cbr44_joint.mp3", "vbr16_mono.mp3", "layer2_48.mp2", "rate_switch.mp3", "truncated.mp3"}) {
    const auto whole = asFloats(decodeBytes(fixture(file), MPEG_SAMPLES_FLOAT32, nullptr));
    Instance instance;
    ASSERT_EQ(mpeg_SetSampleFormat(instance.get(), MPEG_SAMPLES_FLOAT32), MPEG_OK);
    ASSERT_EQ(mpeg_SetFileName(instance.get(), fixture(file).c_str()), MPEG_OK);
    const int channels = channelsOf(instance.info());
    const size_t step = size_t(instance.samplesPerFrame() * channels);
    const int last = int((whole.size() - 1) / step);
    // A position set before opening, then positions of the open file.
    ASSERT_EQ(mpeg_SetPosition(instance.get(), 3), MPEG_OK);
    ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
    for (const int frame : {3, 1, last / 2, last, 0}) {
      if (frame != 3) {
        ASSERT_EQ(mpeg_SetPosition(instance.get(), frame), MPEG_OK);
      }
      const auto tail = asFloats(readBytes(instance.get(), 4 * channels));
      ASSERT_EQ(tail.size(), whole.size() - frame * step) << file << " frame " << frame;
      // As in 16-bit, a seek may round a few samples differently by a hair; a wrong position
      // differs by far more than one 16-bit step.
      EXPECT_LE(worstDifference(tail.data(), whole.data() + frame * step, tail.size()),
                frame == 0 ? 0.0f : 1.0f / 32768)
          << file << " frame " << frame;
    }
  }
}

// A hot master: a loud stereo sine encoded 1.41 times louder than full scale.
class HotMaster : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("command -v sox >/dev/null 2>&1 && command -v lame >/dev/null 2>&1") != 0) {
      return;
    }
    const auto base =
        std::filesystem::temp_directory_path() / ("mpegdec-hot-" + std::to_string(getpid()));
    const std::string wav = base.string() + ".wav";
    path_ = new std::string(base.string() + ".mp3");
    const std::string command =
        "sox -R -D -n -r 44100 -c 2 -b 16 '" + wav + "' synth 1 sine 440 sine 554 vol 0.95 && " +
        "lame --silent --noreplaygain --scale 1.41 -b 192 '" + wav + "' '" + *path_ + "'";
    if (std::system(command.c_str()) != 0) {
      delete path_;
      path_ = nullptr;
    }
    std::filesystem::remove(wav);
  }
  static void TearDownTestSuite() {
    if (path_) std::filesystem::remove(*path_);
    delete path_;
    path_ = nullptr;
  }
  void SetUp() override {
    if (!path_) GTEST_SKIP() << "sox and lame are needed to make the hot master";
  }
  static inline std::string* path_ = nullptr;
};

TEST_F(HotMaster, ClipCountIsTheFullScaleSamplesInIntegersAndZeroInFloat) {
  int64_t clipped = -1;
  const auto s16 = decodeBytes(*path_, MPEG_SAMPLES_S16, &clipped);
  int64_t fullScale = 0;
  for (size_t i = 0; i + 1 < s16.size(); i += 2) {
    const int16_t sample = int16_t(s16[i] | s16[i + 1] << 8);
    fullScale += sample == INT16_MAX || sample == INT16_MIN;
  }
  EXPECT_GT(fullScale, 1000);
  EXPECT_EQ(clipped, fullScale);

  int64_t clipped32 = -1;
  decodeBytes(*path_, MPEG_SAMPLES_S32, &clipped32);
  EXPECT_GT(clipped32, 1000);

  int64_t clippedFloat = -1;
  const auto floats = asFloats(decodeBytes(*path_, MPEG_SAMPLES_FLOAT32, &clippedFloat));
  EXPECT_EQ(clippedFloat, 0);
  const float peak = *std::max_element(floats.begin(), floats.end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); });
  EXPECT_GT(std::abs(peak), 1.2f);  // beyond full scale, not clipped
}

TEST_F(HotMaster, ClipCountRestartsWithTheDecodingAndOutlivesTheClose) {
  Instance instance;
  int64_t count = -1;
  ASSERT_EQ(mpeg_SetFileName(instance.get(), path_->c_str()), MPEG_OK);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  readBytes(instance.get(), 4);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  const int64_t whole = count;
  ASSERT_GT(whole, 0);

  ASSERT_EQ(mpeg_ResetFile(instance.get()), MPEG_OK);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  EXPECT_EQ(count, 0);
  readBytes(instance.get(), 4);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  EXPECT_EQ(count, whole);  // a restart repeats the decode, clipping included

  ASSERT_EQ(mpeg_SetPosition(instance.get(), int32_t(instance.info().Frames)), MPEG_OK);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(mpeg_ResetFile(instance.get()), MPEG_OK);
  readBytes(instance.get(), 4);
  ASSERT_EQ(mpeg_CloseFile(instance.get()), MPEG_OK);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  EXPECT_EQ(count, whole);
  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  ASSERT_EQ(mpeg_GetClipCount(instance.get(), &count), MPEG_OK);
  EXPECT_EQ(count, 0);
}

TEST(MpegDecSampleFormat, SettingFollowsTheChannelModesRules) {
  EXPECT_GE(mpeg_Version(), 21);
  int32_t format = -1;
  int64_t count = -1;
  EXPECT_EQ(mpeg_SetSampleFormat(nullptr, MPEG_SAMPLES_S24), MPEG_ERR_NO_HANDLE);
  EXPECT_EQ(mpeg_GetSampleFormat(nullptr, &format), MPEG_ERR_NO_HANDLE);
  EXPECT_EQ(mpeg_GetClipCount(nullptr, &count), MPEG_ERR_NO_HANDLE);

  Instance instance;
  EXPECT_EQ(mpeg_GetSampleFormat(instance.get(), nullptr), MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(mpeg_GetClipCount(instance.get(), nullptr), MPEG_ERR_BAD_ARGUMENT);
  ASSERT_EQ(mpeg_GetSampleFormat(instance.get(), &format), MPEG_OK);
  EXPECT_EQ(format, MPEG_SAMPLES_S16);
  for (const int32_t bad : {-1, 4, 0x100}) {
    EXPECT_EQ(mpeg_SetSampleFormat(instance.get(), bad), MPEG_ERR_BAD_ARGUMENT) << bad;
  }
  ASSERT_EQ(mpeg_SetSampleFormat(instance.get(), MPEG_SAMPLES_S24), MPEG_OK);
  ASSERT_EQ(instance.open("cbr44_joint.mp3"), MPEG_OK);
  EXPECT_EQ(mpeg_SetSampleFormat(instance.get(), MPEG_SAMPLES_FLOAT32), MPEG_ERR_ALREADY_OPEN);
  EXPECT_EQ(mpeg_SetSampleFormat(instance.get(), MPEG_SAMPLES_S24), MPEG_OK);
  char partial[6];
  EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), partial, 5), -MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(mpeg_ReadDataBytes(instance.get(), partial, 6), 6);

  // Closed, the next open takes the new format; clearing keeps it.
  ASSERT_EQ(mpeg_CloseFile(instance.get()), MPEG_OK);
  ASSERT_EQ(mpeg_SetSampleFormat(instance.get(), MPEG_SAMPLES_S32), MPEG_OK);
  ASSERT_EQ(mpeg_Clear(instance.get()), MPEG_OK);
  ASSERT_EQ(mpeg_GetSampleFormat(instance.get(), &format), MPEG_OK);
  EXPECT_EQ(format, MPEG_SAMPLES_S32);
  ASSERT_EQ(instance.open("cbr44_joint.mp3"), MPEG_OK);
  EXPECT_EQ(readBytes(instance.get(), 8).size(), decodeFixture("cbr44_joint.mp3").size() * 4);
}

}  // namespace
}  // namespace mpegdec_test
