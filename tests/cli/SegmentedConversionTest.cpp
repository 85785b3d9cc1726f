// A file decoded in segments, on helper threads or one after another, is the same file to the
// byte as one decoded in one run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/Batch.h"
#include "cli/FileConverter.h"
#include "cli/LibraryMessages.h"
#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::ReadAll;
namespace fs = std::filesystem;

class SegmentedConversionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InstallLibraryMessageReporter();
    // 70 s of a chord and noise, 128 kbit/s joint stereo: long enough for three segments.
    source_ = new fs::path(fs::temp_directory_path() /
                           ("qd-segments-" + std::to_string(::getpid()) + ".mp3"));
    const std::string wav = source_->native() + ".wav";
    if (std::system(("sox -R -D -n -r 44100 -c 2 -b 16 '" + wav +
                     "' synth 70 sine 220 sine 330 pinknoise tremolo 2 30 vol 0.7 2> /dev/null && "
                     "lame --silent -b 128 '" +
                     wav + "' '" + source_->native() + "'")
                        .c_str()) != 0) {
      source_->clear();
    }
    std::remove(wav.c_str());
  }
  static void TearDownTestSuite() {
    if (!source_->empty()) fs::remove(*source_);
    delete source_;
  }
  void SetUp() override {
    if (source_->empty()) GTEST_SKIP() << "no sox or lame";
  }

  std::string Convert(const OutputSettings& settings, const std::string& name) {
    FileConverter converter;
    converter.SetOutputSettings(settings);
    const ConversionResult r = converter.Convert(*source_, dir / name);
    EXPECT_EQ(r.status, ConversionResult::kConverted) << r.reason;
    return ReadAll(dir / name);
  }

  static fs::path* source_;
  test::ScratchDir dir;
};

fs::path* SegmentedConversionTest::source_ = nullptr;

TEST_F(SegmentedConversionTest, EverySegmentCountGivesTheSameBytes) {
  struct Row {
    const char* name;
    OutputDepth depth;
    NormalizeSpec::Mode normalize;
  };
  // The decoder's own integers (packed 24-bit writes at odd offsets), and a normalization:
  // gain measured in parts, dither that depends on each sample's place.
  for (const Row& row : {Row{"s16", OutputDepth::k16, NormalizeSpec::kNone},
                         Row{"s24", OutputDepth::k24, NormalizeSpec::kNone},
                         Row{"loud16", OutputDepth::k16, NormalizeSpec::kLoudness}}) {
    SCOPED_TRACE(row.name);
    OutputSettings settings;
    settings.depth = row.depth;
    settings.normalize.mode = row.normalize;
    const std::string whole = Convert(settings, std::string(row.name) + "-1.WAV");
    ASSERT_GT(whole.size(), 1000000u);
    for (unsigned parts : {2u, 3u}) {
      settings.parts = parts;
      const std::string cut =
          Convert(settings, std::string(row.name) + "-" + std::to_string(parts) + ".WAV");
      EXPECT_TRUE(cut == whole) << parts << " segments";
    }
  }
}

TEST_F(SegmentedConversionTest, HelperThreadsOfABatchGiveTheSameBytes) {
  FileConverter converter;
  const std::vector<Job> one = {{*source_, dir / "one.WAV", {}}};
  ASSERT_EQ(RunBatch(one, 1, converter, nullptr, {}).converted, 1u);
  HelperPool pool(3);
  converter.SetHelperPool(&pool);
  const std::vector<Job> again = {{*source_, dir / "pool.WAV", {}}};
  ASSERT_EQ(RunBatch(again, 3, converter, nullptr, {}, &pool).converted, 1u);
  EXPECT_TRUE(ReadAll(dir / "pool.WAV") == ReadAll(dir / "one.WAV"));
}

TEST_F(SegmentedConversionTest, ACancelledSegmentedConversionLeavesNoFile) {
  FileConverter converter;
  OutputSettings settings;
  settings.parts = 3;
  converter.SetOutputSettings(settings);
  std::atomic<bool> cancel{false};
  converter.SetCancelFlag(&cancel);
  const ConversionResult r =
      converter.Convert(*source_, dir / "cancelled.WAV", [&](std::int64_t position, std::int64_t) {
        if (position > 5000) cancel = true;
      });
  EXPECT_EQ(r.status, ConversionResult::kCancelled);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace cli
