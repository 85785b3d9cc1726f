// Every fixture's file info and decoded length against facts recorded from `mpg123 -w` (sample
// counts, rates, channels) and `mpg123 -t -v` (frame counts); where mpg123 is installed, the
// decoded PCM must also equal its output sample for sample (the same library decodes both).
#include <gtest/gtest.h>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

struct Facts {
  const char* file;
  int version;  // MPEG_VERSION_*
  int layer;
  int rate;
  int mode;  // MPEG_MODE_*
  int frames;
  int64_t samples;  // per channel, after gapless trimming
  int samplesPerFrame;
  int bitrate;            // constant bit rate; 0 for VBR and free format
  const char* reference;  // mpg123 options giving the same format; nullptr: no reference
};

constexpr int V1 = MPEG_VERSION_1, V2 = MPEG_VERSION_2LSF;
constexpr int ST = MPEG_MODE_STEREO, JS = MPEG_MODE_JOINT_STEREO, DC = MPEG_MODE_DUAL_CHANNEL,
              SC = MPEG_MODE_SINGLE_CHANNEL;

const Facts kFacts[] = {
    {"cbr44_joint.mp3", V1, 3, 44100, JS, 78, 88200, 1152, 128, ""},
    {"vbr44_joint.mp3", V1, 3, 44100, JS, 78, 88200, 1152, 0, ""},
    {"cbr48_mono.mp3", V1, 3, 48000, SC, 64, 72000, 1152, 64, ""},
    {"vbr32_stereo.mp3", V1, 3, 32000, ST, 43, 48000, 1152, 0, ""},
    {"cbr22_joint.mp3", V2, 3, 22050, JS, 79, 44100, 576, 64, ""},
    {"vbr16_mono.mp3", V2, 3, 16000, SC, 58, 32000, 576, 0, ""},
    {"cbr11_stereo.mp3", V2, 3, 11025, ST, 31, 17856, 576, 24, ""},
    {"cbr8_mono.mp3", V2, 3, 8000, SC, 30, 17280, 576, 8, ""},
    {"notag_cbr44.mp3", V1, 3, 44100, JS, 78, 89856, 1152, 128, ""},
    {"notag_vbr22.mp3", V2, 3, 22050, JS, 79, 45504, 576, 0, ""},
    {"dual48.mp3", V1, 3, 48000, DC, 43, 48000, 1152, 128, ""},
    {"crc44.mp3", V1, 3, 44100, JS, 40, 44100, 1152, 96, ""},
    {"free44.mp3", V1, 3, 44100, JS, 40, 44100, 1152, 0, ""},
    {"layer2_48.mp2", V1, 2, 48000, ST, 42, 48384, 1152, 160, ""},
    {"layer2_24mono.mp2", V2, 2, 24000, SC, 21, 24192, 1152, 64, ""},
    {"layer1_48.mp1", V1, 1, 48000, ST, 100, 38400, 384, 192, ""},
    {"id3v2_big.mp3", V2, 3, 22050, SC, 41, 23616, 576, 32, ""},
    {"ape_id3v1.mp3", V1, 3, 48000, SC, 64, 72000, 1152, 64, ""},
    {"junk_start.mp3", V2, 3, 22050, JS, 79, 44100, 576, 64, ""},
    {"truncated.mp3", V1, 3, 44100, JS, 49, 55343, 1152, 0, ""},
    // The decoder leaves out the frame whose header the damage destroyed; mpg123 decodes what
    // it finds of it, so only the counts are its.
    {"damaged.mp3", V1, 3, 44100, JS, 77, 87599, 1152, 128, nullptr},
    // mpg123 plays false frames in the junk (and restarts its output at them); the decoder
    // skips the junk, see MpegDecContainers.
    {"junk_middle.mp3", V1, 3, 44100, JS, 78, 88200, 1152, 128, nullptr},
    {"mono_stereo.mp3", V1, 3, 44100, SC, 81, 91332, 1152, 0, "--mono"},
    {"stereo_mono.mp3", V1, 3, 44100, JS, 81, 91332, 1152, 0, "--stereo"},
    // mpg123 restarts its output file when the rate changes, so there is no reference here;
    // MpegDecFormat.RateChangeIsResampledIntoTheAnnouncedFormat checks the samples.
    {"rate_switch.mp3", V1, 3, 44100, JS, 84, 90669, 1152, 0, nullptr},
    {"mp3_in_wav.wav", V1, 3, 48000, SC, 64, 72000, 1152, 64, ""},
    {"mp2_in_wav.wav", V2, 2, 24000, SC, 21, 24192, 1152, 64, ""},
};

class FixtureFacts : public ::testing::TestWithParam<Facts> {};

TEST_P(FixtureFacts, InfoIsExactAndDecodingDeliversIt) {
  const Facts& facts = GetParam();
  Instance instance;
  ASSERT_EQ(mpeg_SetFileName(instance.get(), fixture(facts.file).c_str()), MPEG_OK);
  const TMpegFileInfo info = instance.info();
  EXPECT_EQ(int(info.Version), facts.version);
  EXPECT_EQ(int(info.Layer), facts.layer);
  EXPECT_EQ(int(info.SampleRate), facts.rate);
  EXPECT_EQ(int(info.PlayBackRate), facts.rate);
  EXPECT_EQ(int(info.Mode), facts.mode);
  EXPECT_EQ(int(info.Frames), facts.frames);
  EXPECT_EQ(int(info.Time), (facts.samples * 1000 + facts.rate / 2) / facts.rate);
  EXPECT_DOUBLE_EQ(double(info.FrameTime), facts.samplesPerFrame * 1000.0 / facts.rate);
  if (facts.bitrate != 0) {
    EXPECT_EQ(int(info.BitRate), facts.bitrate);
  }
  EXPECT_GT(int(info.BitRate), 0);

  ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  const Decoded decoded = readToEnd(instance.get());
  EXPECT_EQ(decoded.error, 0);
  EXPECT_FALSE(decoded.emptyReadNeeded);
  const int channels = channelsOf(info);
  EXPECT_EQ(int64_t(decoded.samples.size()), facts.samples * channels);

  if (!facts.reference || !haveMpg123()) return;
  const auto reference = mpg123Decode(facts.file, facts.reference);
  ASSERT_TRUE(reference);
  EXPECT_EQ(reference->rate, facts.rate);
  EXPECT_EQ(reference->channels, channels);
  EXPECT_EQ(reference->samples.size(), decoded.samples.size());
  EXPECT_TRUE(reference->samples == decoded.samples) << "PCM differs from mpg123's";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureFacts, ::testing::ValuesIn(kFacts),
                         [](const ::testing::TestParamInfo<Facts>& param) {
                           std::string name = param.param.file;
                           for (char& c : name) c = std::isalnum(uint8_t(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace mpegdec_test
