#include "cli/JobList.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::ScratchDir;
using test::U16;
using test::U32;
using test::WriteAll;
namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<fs::path, fs::path>>;

Pairs Listed(const std::vector<Job>& jobs) {
  Pairs out;
  for (const Job& job : jobs) out.emplace_back(job.source, job.destination);
  return out;
}

// A small WAVE file: a "fmt " chunk with these fields (and `extra` after cbSize, for formats
// other than PCM), then two blocks of silence.
std::string Wave(unsigned tag, unsigned channels, unsigned bits, unsigned blockAlign,
                 const std::string& extra = "") {
  return test::WaveFile(tag, channels, 8000, bits, blockAlign, std::string(2 * blockAlign, '\0'),
                        {}, extra);
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

TEST_F(FolderTest, ASourceIsListedOnceForEachOutputItLeadsTo) {
  fs::create_hard_link(root / "b.mp3", root / "hard.mp3");
  fs::create_symlink("b.mp3", root / "z.mp3");
  // Links lead to the same file, but to outputs of their own names: each is listed.
  const Pairs mirrored = {{root / "a.MP3", out / "a.WAV"},
                          {root / "b.mp3", out / "b.WAV"},
                          {root / "hard.mp3", out / "hard.WAV"},
                          {root / "sub/B.mp2", out / "sub/B.WAV"},
                          {root / "sub/deeper/c.Wav", out / "sub/deeper/c.WAV"},
                          {root / "z.mp3", out / "z.WAV"}};
  const Pairs subFirst = {
      {root / "sub/B.mp2", out / "B.WAV"},   {root / "sub/deeper/c.Wav", out / "deeper/c.WAV"},
      {root / "a.MP3", out / "a.WAV"},       {root / "b.mp3", out / "b.WAV"},
      {root / "hard.mp3", out / "hard.WAV"}, {root / "z.mp3", out / "z.WAV"}};
  Pairs fileFirst = mirrored;
  fileFirst.insert(fileFirst.begin(), {root / "sub/B.mp2", out / "B.WAV"});
  // Where it first appears, for the same output.
  Pairs hardFirst = mirrored;
  std::rotate(hardFirst.begin(), hardFirst.begin() + 2, hardFirst.begin() + 3);
  const struct {
    const char* name;
    std::vector<fs::path> inputs;
    Pairs expected;
  } rows[] = {
      {"one name twice", {root / "b.mp3", root / "b.mp3"}, {{root / "b.mp3", out / "b.WAV"}}},
      {"two spellings",
       {root / "./b.mp3", root / "sub/../b.mp3"},
       {{root / "./b.mp3", out / "b.WAV"}}},
      {"a hard link first, then the folder that holds it", {root / "hard.mp3", root}, hardFirst},
      {"a file, then its folder (two outputs)", {root / "sub/B.mp2", root}, fileFirst},
      {"links inside the folder", {root}, mirrored},
      {"one folder twice", {root, root}, mirrored},
      {"a folder, then a folder inside it", {root, root / "sub"}, mirrored},
      {"a folder inside, then its parent", {root / "sub", root}, subFirst},
      {"a missing file twice",
       {dir / "gone.mp3", dir / "./gone.mp3"},
       {{dir / "gone.mp3", out / "gone.WAV"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<Job> jobs = BuildJobList(row.inputs, out);
    EXPECT_EQ(Listed(jobs), row.expected);
    for (const Job& job : jobs) EXPECT_EQ(job.error, "") << job.source;
  }
}

TEST(JobListLinkTest, AHardLinkInTwoFoldersGetsBothOutputs) {
  const ScratchDir dir;
  const fs::path src = dir / "src", out = dir / "out";
  fs::create_directories(src / "a");
  fs::create_directories(src / "b");
  WriteAll(src / "a/song.mp3", "x");
  fs::create_hard_link(src / "a/song.mp3", src / "b/song.mp3");
  EXPECT_EQ(Listed(BuildJobList({src}, out)), (Pairs{{src / "a/song.mp3", out / "a/song.WAV"},
                                                     {src / "b/song.mp3", out / "b/song.WAV"}}));
  EXPECT_EQ(BuildJobList({src}, std::nullopt).size(), 2u);
  // Named, both lead to out/song.WAV: the same file for the same output is listed once.
  EXPECT_EQ(Listed(BuildJobList({src / "a/song.mp3", src / "b/song.mp3"}, out)),
            (Pairs{{src / "a/song.mp3", out / "song.WAV"}}));
}

TEST_F(FolderTest, RelativeToMirrorsNamedFilesAndRefusesOnesOutsideIt) {
  ListingOptions options;
  options.outputDir = out;
  options.relativeTo = root;
  const std::vector<Job> jobs =
      BuildJobList({root / "sub/deeper/c.Wav", root / "b.mp3", dir / "elsewhere.mp3",
                    root / "../root/a.MP3", root / "sub/../../x.mp3"},
                   options);
  ASSERT_EQ(jobs.size(), 5u);
  EXPECT_EQ(jobs[0].destination, out / "sub/deeper/c.WAV");
  EXPECT_EQ(jobs[1].destination, out / "b.WAV");
  EXPECT_EQ(jobs[2].error, "not below " + root.native() + " (--relative-to)");
  EXPECT_EQ(jobs[3].destination, out / "a.WAV");
  EXPECT_EQ(jobs[4].error, jobs[2].error);
  // The shard key of a named file is its name as given.
  EXPECT_EQ(jobs[3].shardKey, root / "../root/a.MP3");
  // A folder given on the command line still mirrors below itself.
  options.relativeTo = dir.path();
  EXPECT_EQ(BuildJobList({root / "sub"}, options).front().destination, out / "B.WAV");
}

TEST_F(FolderTest, CopyOthersListsTheFilesThatAreNotAudio) {
  WriteAll(root / "sub/cover.jpg", "x");
  WriteAll(root / ".qd-0123456789abcdef-1-0.part", "a partial output of another run");
  ListingOptions options;
  options.outputDir = out;
  options.copyOthers = true;
  Pairs copies;
  std::set<fs::path> keys;
  for (const Job& job : BuildJobList({root}, options)) {
    if (job.kind == JobKind::kCopy) copies.emplace_back(job.source, job.destination);
    keys.insert(job.shardKey);
  }
  EXPECT_EQ(copies, (Pairs{{root / "notes.txt", out / "notes.txt"},
                           {root / "sub/cover.jpg", out / "sub/cover.jpg"}}));
  EXPECT_TRUE(keys.count("sub/cover.jpg") && keys.count("sub/B.mp2"));  // paths below root
  // Named files are converted, never copied; without --copy-others nothing is copied.
  options.copyOthers = false;
  for (const Job& job : BuildJobList({root, root / "sub/cover.jpg"}, options)) {
    EXPECT_EQ(job.kind, JobKind::kConvert) << job.source;
  }
}

TEST(JobListWaveTest, PlainPcmWavesFoundInFoldersAreNotListedForTheDefaultOutput) {
  ScratchDir dir;
  const fs::path folder = dir / "in", out = dir / "out";
  fs::create_directories(folder);
  // Subformat GUID of PCM, after valid bits and the channel mask.
  const std::string extensible =
      U16(16) + U32(3) + U32(1) + std::string("\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71", 12);
  const struct {
    const char* name;
    std::string bytes;
    bool listed;
  } rows[] = {
      {"pcm16.wav", Wave(1, 2, 16, 4), false},
      {"pcm8.WAV", Wave(1, 1, 8, 1), false},
      {"pcm24.wav", Wave(1, 1, 24, 3), true},
      {"float.wav", Wave(3, 1, 32, 4), true},
      {"ima.wav", Wave(0x11, 1, 4, 256, U16(505)), true},
      {"extensible.wav", Wave(0xFFFE, 2, 16, 4, extensible), true},
      {"cut.wav", Wave(1, 2, 16, 4).substr(0, 30), true},
      {"empty.wav", "", true},
      {"pcm16.mp3", Wave(1, 2, 16, 4), true},
  };
  std::vector<fs::path> named;
  Pairs expected;
  for (const auto& row : rows) {
    WriteAll(folder / row.name, row.bytes);
    named.push_back(folder / row.name);
    if (row.listed) expected.emplace_back(folder / row.name, WavName(out / row.name));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listed(BuildJobList({folder}, out)), expected);
  // Named on the command line, every file is converted; and so is every file found when the
  // output is another depth or normalized.
  EXPECT_EQ(BuildJobList(named, out).size(), std::size(rows));
  ListingOptions changing;
  changing.outputDir = out;
  changing.leavePlainPcm = false;
  EXPECT_EQ(BuildJobList({folder}, changing).size(), std::size(rows));

  // Beside the sources, a WAVE file that is its own output name stays out whatever it holds.
  const std::pair<const char*, std::string> beside[] = {
      {"pcm16.wav", Wave(1, 2, 16, 4)},
      {"ima.WAV", Wave(0x11, 1, 4, 256, U16(505))},
      {"ima.wav", Wave(0x11, 1, 4, 256, U16(505))}};
  fs::create_directories(dir / "beside");
  for (const auto& [name, bytes] : beside) WriteAll(dir / "beside" / name, bytes);
  EXPECT_EQ(Listed(BuildJobList({dir / "beside"}, std::nullopt)),
            (Pairs{{dir / "beside/ima.wav", dir / "beside/ima.WAV"}}));
}

TEST(JobListWaveTest, ASecondRunIntoTheSearchedFolderListsTheSourcesOnly) {
  ScratchDir dir;
  const fs::path music = dir / "music";
  fs::create_directories(music / "live");
  for (const char* source : {"Song.mp3", "live/Take.mp2"}) WriteAll(music / source, "x");
  for (const char* earlier : {"Song.WAV", "live/Take.WAV"})
    WriteAll(music / earlier, Wave(1, 2, 16, 4));
  const Pairs sources = {{music / "Song.mp3", music / "Song.WAV"},
                         {music / "live/Take.mp2", music / "live/Take.WAV"}};
  for (const auto& inputs : {std::vector<fs::path>{music}, std::vector<fs::path>{music, music}}) {
    const std::vector<Job> jobs = BuildJobList(inputs, music);
    EXPECT_EQ(Listed(jobs), sources);
    for (const Job& job : jobs) EXPECT_EQ(job.error, "") << job.source;
  }
}

// Restores a folder's permissions, so that the scratch folder can be removed.
class LockedFolder {
 public:
  explicit LockedFolder(fs::path path) : path_(std::move(path)) {
    fs::permissions(path_, fs::perms::none);
  }
  ~LockedFolder() { fs::permissions(path_, fs::perms::owner_all); }

 private:
  fs::path path_;
};

// One line per job, to compare listings made in another process.
std::string Describe(const std::vector<Job>& jobs) {
  std::string text;
  for (const Job& job : jobs) {
    text += job.source.native() + " -> " + job.destination.native() + " [" + job.error + "]\n";
  }
  return text;
}

// Lists as a user without privileges, since root reads every folder whatever its permissions:
// as root, a child process drops to "nobody" and sends the listing back through a pipe.
std::string ListUnprivileged(const std::vector<fs::path>& inputs, const fs::path& outputDir) {
  if (::geteuid() != 0) return Describe(BuildJobList(inputs, outputDir));
  const passwd* nobody = ::getpwnam("nobody");
  int fds[2];
  if (nobody == nullptr || ::pipe(fds) != 0) return "no user \"nobody\" or no pipe";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(3);
    const std::string text = Describe(BuildJobList(inputs, outputDir));
    ::_exit(::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "listing child failed";
}

TEST(JobListWalkTest, AnUnreadableFolderIsReportedAndTheWalkGoesOn) {
  ScratchDir dir;
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  const fs::path tree = dir / "tree", out = dir / "out";
  for (const char* f : {"a.mp3", "b/hidden.mp3", "b/deeper/x.mp3", "c/d.mp3", "e.mp3"}) {
    fs::create_directories((tree / f).parent_path());
    WriteAll(tree / f, "x");
  }
  const LockedFolder locked(tree / "b");
  const std::string denied = "cannot read folder: Permission denied";
  const std::vector<Job> walked = {{tree / "a.mp3", out / "a.WAV", ""},
                                   {tree / "b", "", denied},
                                   {tree / "c/d.mp3", out / "c/d.WAV", ""},
                                   {tree / "e.mp3", out / "e.WAV", ""}};
  const struct {
    const char* name;
    std::vector<fs::path> inputs;
    std::vector<Job> expected;
  } rows[] = {
      {"inside the walk", {tree}, walked},
      {"walked twice", {tree, tree / "c", tree}, walked},
      {"named", {tree / "b", tree / "e.mp3"}, {walked[1], walked[3]}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ListUnprivileged(row.inputs, out), Describe(row.expected)) << row.name;
  }
}

}  // namespace
}  // namespace cli
