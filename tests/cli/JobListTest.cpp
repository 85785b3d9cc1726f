#include "cli/JobList.h"

#include <gtest/gtest.h>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::ScratchDir;
using test::WriteAll;
namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<fs::path, fs::path>>;

Pairs Listed(const std::vector<Job>& jobs) {
  Pairs out;
  for (const Job& job : jobs) out.emplace_back(job.source, job.destination);
  return out;
}

TEST(JobListTest, OutputNames) {
  const std::pair<const char*, const char*> kCases[] = {
      {"Song.mp3", "Song.WAV"},   {"dir/Song.MP3", "dir/Song.WAV"},
      {"Song", "Song.WAV"},       {"a.b.mp2", "a.b.WAV"},
      {"Song.mpeg", "Song.WAV"},  {"dir.x/Song", "dir.x/Song.WAV"},
      {".hidden", ".hidden.WAV"}, {"caf\xe9 \"1\".mp3", "caf\xe9 \"1\".WAV"}};
  for (const auto& [source, expected] : kCases) EXPECT_EQ(WavName(source), expected) << source;
  for (const char* yes : {"a.mp3", "a.MP3", "a.Mp2", "a.mp1", "a.mpa", "a.WAV"}) {
    EXPECT_TRUE(HasAudioExtension(yes)) << yes;
  }
  for (const char* no : {"a.mp4", "a.txt", "mp3", "a.mp3.bak", ".mp3x"}) {
    EXPECT_FALSE(HasAudioExtension(no)) << no;
  }
}

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"root/b.mp3", "root/a.MP3", "root/sub/deeper/c.Wav", "root/sub/B.mp2",
                          "root/notes.txt"}) {
      fs::create_directories((dir / f).parent_path());
      WriteAll(dir / f, "x");
    }
  }
  ScratchDir dir;
  const fs::path root = dir / "root", out = dir / "out";
};

TEST_F(FolderTest, AudioFilesInSortedOrderWithTheTreeMirrored) {
  const Pairs mirrored = {{root / "a.MP3", out / "a.WAV"},
                          {root / "b.mp3", out / "b.WAV"},
                          {root / "sub/B.mp2", out / "sub/B.WAV"},
                          {root / "sub/deeper/c.Wav", out / "sub/deeper/c.WAV"}};
  EXPECT_EQ(Listed(BuildJobList({root}, out)), mirrored);
  EXPECT_EQ(Listed(BuildJobList({root.native() + "/"}, out)).back().second,
            out / "sub/deeper/c.WAV");
  for (const Job& job : BuildJobList({root}, std::nullopt)) {
    EXPECT_EQ(job.destination, WavName(job.source));
  }
  // Named files are taken whatever their extension.
  EXPECT_EQ(Listed(BuildJobList({root / "notes.txt"}, out)),
            (Pairs{{root / "notes.txt", out / "notes.WAV"}}));
}

TEST_F(FolderTest, EarlierOutputsAreNotListed) {
  WriteAll(root / "a.WAV", "earlier output beside its source");
  EXPECT_EQ(BuildJobList({root}, std::nullopt).size(), 4u);
  fs::create_directories(root / "out/sub");
  WriteAll(root / "out/sub/B.WAV", "earlier output in an output folder inside the tree");
  EXPECT_EQ(BuildJobList({root}, root / "out").size(), 5u);  // a.WAV is a source there
}

TEST_F(FolderTest, TwoSourcesForOneOutputAreRefused) {
  fs::create_directories(dir / "other");
  WriteAll(dir / "other/b.mp3", "x");
  const std::vector<Job> jobs = BuildJobList({root / "b.mp3", dir / "other/b.mp3"}, out);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].error, "");
  EXPECT_EQ(jobs[1].error, "its output " + (out / "b.WAV").native() + " is also the output of " +
                               (root / "b.mp3").native());
}

}  // namespace
}  // namespace cli
