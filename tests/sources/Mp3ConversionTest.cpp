// MP3 files converted through the window's chain (audio file source → trigger with 32768-byte
// blocks → wave file sink) compared with the PCM that mpg123 decodes from the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/platform/CapturingReporter.h"
#include "tests/sources/ChainConversion.h"
#include "tests/sources/SourcesTestFiles.h"

namespace sources::test {
namespace {

const std::string kFixtures = QD_MP3_FIXTURES;

bool HaveMpg123() {
  return std::system("mpg123 --version > /dev/null 2>&1") == 0;
}

class Mp3ConversionTest : public ::testing::TestWithParam<const char*> {};

TEST_P(Mp3ConversionTest, MatchesMpg123ExceptTheFirstAndLastMillisecond) {
  if (!HaveMpg123()) GTEST_SKIP() << "mpg123 is not installed";
  const std::string mp3 = kFixtures + "/" + GetParam();
  if (!std::filesystem::exists(mp3)) GTEST_SKIP() << mp3 << " is missing";
  TempDir dir;
  const std::string ours = dir.File("ours.wav");
  const std::string theirs = dir.File("theirs.wav");
  platform::test::CapturingReporter reporter;
  ASSERT_TRUE(ConvertWithTrigger(mp3, ours));
  EXPECT_TRUE(reporter.Texts().empty());
  const std::string command = "mpg123 -q -w '" + theirs + "' '" + mp3 + "' 2> /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);

  const Pcm16 a = ReadWav(ours);
  const Pcm16 b = ReadWav(theirs);
  ASSERT_EQ(a.format.nChannels, b.format.nChannels);
  ASSERT_EQ(a.format.nSamplesPerSec, b.format.nSamplesPerSec);
  ASSERT_EQ(a.format.wBitsPerSample, 16);
  ASSERT_EQ(a.samples.size(), b.samples.size()) << "sample counts differ";
  const std::size_t channels = a.format.nChannels;
  const std::size_t edge = (a.format.nSamplesPerSec / 1000 + 1) * channels;  // one millisecond
  std::size_t worstEdge = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    const int diff = std::abs(a.samples[i] - b.samples[i]);
    if (i < edge) {
      // The fade-in only ever moves samples towards silence.
      ASSERT_LE(std::abs(a.samples[i]), std::abs(b.samples[i]) + 1) << "sample " << i;
    } else if (i + edge >= a.samples.size()) {
      worstEdge = std::max<std::size_t>(worstEdge, diff);
    } else {
      ASSERT_EQ(a.samples[i], b.samples[i]) << "sample " << i;
    }
  }
  EXPECT_LE(worstEdge, 40u) << "the last millisecond";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mp3ConversionTest,
                         ::testing::Values("cbr44_joint.mp3", "cbr48_mono.mp3", "cbr22_joint.mp3",
                                           "cbr11_stereo.mp3", "cbr8_mono.mp3", "vbr16_mono.mp3",
                                           "vbr32_stereo.mp3", "notag_vbr22.mp3", "id3v2_big.mp3",
                                           "layer2_48.mp2", "free44.mp3", "junk_start.mp3",
                                           "truncated.mp3"));

// A damaged frame is concealed, so its samples may differ from another decoder's; the length
// may not.
TEST(Mp3ConversionDamagedTest, KeepsTheSampleCountOfMpg123) {
  if (!HaveMpg123()) GTEST_SKIP() << "mpg123 is not installed";
  const std::string mp3 = kFixtures + "/damaged.mp3";
  TempDir dir;
  const std::string ours = dir.File("ours.wav");
  const std::string theirs = dir.File("theirs.wav");
  platform::test::CapturingReporter reporter;
  ASSERT_TRUE(ConvertWithTrigger(mp3, ours));
  const std::string command = "mpg123 -q -w '" + theirs + "' '" + mp3 + "' 2> /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadWav(ours).samples.size(), ReadWav(theirs).samples.size());
}

}  // namespace
}  // namespace sources::test
