// A file cut short keeps its LAME header, which announces far more frames than the file holds.
// The encoder delay at its start is known all the same and is trimmed; the end padding is only
// trimmed when the end is there. mpg123 decodes such files the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

bool haveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<int16_t> decodePath(const std::string& path) {
  Instance instance;
  EXPECT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_OK) << path;
  EXPECT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK) << path;
  const Decoded decoded = readToEnd(instance.get());
  EXPECT_EQ(decoded.error, 0) << path;
  return decoded.samples;
}

TEST(MpegDecGapless, CutFileLosesItsEncoderDelayAsWithMpg123) {
  if (!haveTool("sox") || !haveTool("lame") || !haveMpg123()) {
    GTEST_SKIP() << "needs sox, lame and mpg123";
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("mpegdec-cut-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string wav = (dir / "x.wav").string(), mp3 = (dir / "x.mp3").string();
  ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 '" + wav + "' synth 5 sine 440 && lame --silent '" +
                         wav + "' '" + mp3 + "'")
                            .c_str()),
            0);
  // The complete file: delay and padding trimmed, exactly the 5 s that were encoded.
  const auto whole = decodePath(mp3);
  EXPECT_EQ(whole.size(), size_t(5 * 44100 * 2));

  const auto bytes = fileBytes(mp3);
  const struct {
    const char* name;
    size_t bytes;
  } cuts[] = {
      {"cut in the middle", 40000},
      {"cut after a few frames", 5000},
      {"cut two frames before the end", bytes.size() - 836},
  };
  for (const auto& cut : cuts) {
    const std::string path = (dir / "cut.mp3").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(cut.bytes));
    const auto ours = decodePath(path);
    const auto reference = mpg123DecodeFile(path);
    ASSERT_TRUE(reference) << cut.name;
    EXPECT_EQ(ours.size(), reference->samples.size()) << cut.name;
    EXPECT_TRUE(ours == reference->samples) << cut.name << ": PCM differs from mpg123's";
    // The same start as the complete file: the lead-in is gone from both.
    ASSERT_LE(ours.size(), whole.size()) << cut.name;
    EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + ptrdiff_t(ours.size() / 2), whole.begin()))
        << cut.name;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mpegdec_test
