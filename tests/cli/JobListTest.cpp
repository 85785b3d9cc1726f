#include "cli/JobList.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::ScratchDir;
using test::WriteAll;
namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<fs::path, fs::path>>;

Pairs SourcesAndDestinations(const std::vector<Job>& jobs) {
  Pairs out;
  for (const Job& job : jobs) {
    EXPECT_EQ(job.error, "") << job.source;
    out.emplace_back(job.source, job.destination);
  }
  return out;
}

TEST(JobListTest, WavNameReplacesTheExtension) {
  const std::pair<const char*, const char*> kCases[] = {{"Song.mp3", "Song.WAV"},
                                                        {"dir/Song.MP3", "dir/Song.WAV"},
                                                        {"Song", "Song.WAV"},
                                                        {"a.b.mp2", "a.b.WAV"},
                                                        {"Song.wav", "Song.WAV"},
                                                        {"Song.mpeg", "Song.WAV"},
                                                        {"dir.x/Song", "dir.x/Song.WAV"},
                                                        {".hidden", ".hidden.WAV"},
                                                        {"Song.", "Song.WAV"},
                                                        {"caf\xe9 \"1\".mp3", "caf\xe9 \"1\".WAV"}};
  for (const auto& [source, expected] : kCases) EXPECT_EQ(WavName(source), expected) << source;
  // With a three-letter extension that is the name less its last three characters plus "WAV".
  for (const std::string name : {"x.mp3", "-a b.MPA", "long name.wav"}) {
    EXPECT_EQ(WavName(name).native(), name.substr(0, name.size() - 3) + "WAV");
  }
}

TEST(JobListTest, AudioExtensionsInAnyCase) {
  for (const char* yes : {"a.mp3", "a.MP3", "a.Mp2", "a.mp1", "a.mpa", "a.WAV", "x.y.wav"}) {
    EXPECT_TRUE(HasAudioExtension(yes)) << yes;
  }
  for (const char* no : {"a.mp4", "a.txt", "mp3", "a.mp3.bak", "a.wave", ".mp3x"}) {
    EXPECT_FALSE(HasAudioExtension(no)) << no;
  }
}

class FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"root/b.mp3", "root/a.MP3", "root/sub/deeper/c.Wav", "root/sub/x.mpa",
                          "root/sub/B.mp2", "root/notes.txt", "root/cover.jpg"}) {
      fs::create_directories((dir / f).parent_path());
      WriteAll(dir / f, "x");
    }
  }
  ScratchDir dir;
};

TEST_F(FolderTest, MirrorsTheTreeUnderTheOutputFolder) {
  const fs::path root = dir / "root", out = dir / "out";
  EXPECT_EQ(SourcesAndDestinations(BuildJobList({root}, out)),
            (Pairs{{root / "a.MP3", out / "a.WAV"},
                   {root / "b.mp3", out / "b.WAV"},
                   {root / "sub/B.mp2", out / "sub/B.WAV"},
                   {root / "sub/deeper/c.Wav", out / "sub/deeper/c.WAV"},
                   {root / "sub/x.mpa", out / "sub/x.WAV"}}));
  // A trailing slash changes nothing.
  EXPECT_EQ(BuildJobList({root.native() + "/"}, out).back().destination, out / "sub/x.WAV");
}

TEST_F(FolderTest, WithoutOutputFolderEachOutputGoesBesideItsSource) {
  const fs::path root = dir / "root";
  const std::vector<Job> jobs = BuildJobList({root}, std::nullopt);
  ASSERT_EQ(jobs.size(), 5u);
  for (const Job& job : jobs) EXPECT_EQ(job.destination, WavName(job.source));
}

TEST_F(FolderTest, EarlierResultsAreNotSources) {
  const fs::path root = dir / "root";
  WriteAll(root / "a.WAV", "earlier output");
  EXPECT_EQ(BuildJobList({root}, std::nullopt).size(), 5u);
  // An output folder inside the searched one is left out.
  fs::create_directories(root / "out/sub");
  WriteAll(root / "out/sub/B.WAV", "earlier output");
  EXPECT_EQ(BuildJobList({root}, root / "out").size(), 6u);  // a.WAV is a source now
}

TEST_F(FolderTest, FilesGivenByNameAreTakenWhateverTheirExtension) {
  const fs::path out = dir / "out";
  EXPECT_EQ(
      SourcesAndDestinations(BuildJobList({dir / "root/notes.txt", dir / "missing.mp3"}, out)),
      (Pairs{{dir / "root/notes.txt", out / "notes.WAV"},
             {dir / "missing.mp3", out / "missing.WAV"}}));
}

TEST_F(FolderTest, TwoSourcesForOneOutputAreRefused) {
  fs::create_directories(dir / "other");
  WriteAll(dir / "other/b.mp3", "x");
  const std::vector<Job> jobs =
      BuildJobList({dir / "root/b.mp3", dir / "other/b.mp3", dir / "root/b.mp3"}, dir / "out");
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].error, "");
  EXPECT_NE(jobs[1].error.find("also the output of " + (dir / "root/b.mp3").native()),
            std::string::npos);
  EXPECT_NE(jobs[2].error, "");
}

}  // namespace
}  // namespace cli
