// Several converters on one shared tree, as schedulers run them: shards started at once, a shard
// killed and run again, GNU parallel feeding file lists in chunks, and the reports they write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "tests/cli/CliTestSupport.h"
#include "tests/cli/JsonLines.h"

namespace cli {
namespace {

using test::Fixture;
using test::JsonObject;
using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;
namespace fs = std::filesystem;
using Tree = std::map<fs::path, std::string>;  // relative path -> content

constexpr auto kPatience = std::chrono::seconds(120);

// Starts the program in `cwd` with standard output into `out` (or discarded) and standard error
// discarded; returns its process id.
pid_t Start(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& out = {}) {
  return test::StartProgram(QD_CONVERT_BINARY, args, cwd, out);
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Convert(const std::vector<std::string>& args, const fs::path& cwd) {
  return Wait(Start(args, cwd));
}

// Every regular file below `root`, by its path below it.
Tree ReadTree(const fs::path& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      tree[entry.path().lexically_relative(root)] = ReadAll(entry.path());
  }
  return tree;
}

Tree OnlyWaves(Tree tree) {
  std::erase_if(tree, [](const auto& item) { return item.first.extension() != ".WAV"; });
  return tree;
}

// `count` short sources in four folders (one nested), several formats, and a cover.jpg and a
// .cue beside them. With `repeat` > 1 each source is one fixture's frames repeated, to make a
// conversion last.
void MakeTree(const fs::path& src, int count, int repeat = 1) {
  static const char* const kFixtures[] = {"cbr8_mono.mp3",     "vbr16_mono.mp3",
                                          "cbr11_stereo.mp3",  "notag_vbr22.mp3",
                                          "layer2_24mono.mp2", "vbr32_stereo.mp3"};
  static const char* const kFolders[] = {"disc 1", "disc 2", "disc 2/bonus", "d\xe9mos"};
  for (const char* folder : kFolders) {
    fs::create_directories(src / folder);
    WriteAll(src / folder / "cover.jpg", std::string("picture of ") + folder);
    WriteAll(src / folder / "album.cue", std::string("FILE \"") + folder + "\" WAVE\n");
  }
  for (int i = 0; i < count; ++i) {
    const fs::path fixture = Fixture(repeat > 1 ? "notag_cbr44.mp3" : kFixtures[i % 6]);
    std::string bytes;
    for (int r = 0; r < repeat; ++r) bytes += ReadAll(fixture);
    WriteAll(src / kFolders[i % 4] / ("track " + std::to_string(i) + fixture.extension().native()),
             bytes);
  }
}

struct ReportFile {
  std::vector<JsonObject> files;  // the per-source lines
  std::optional<JsonObject> totals;
};

// A report's lines, each of which must parse; the totals line, when there is one, must be last.
ReportFile ReadReport(const fs::path& path) {
  const std::string text = ReadAll(path);
  const auto lines = test::ParseJsonLines(text);
  EXPECT_TRUE(lines.has_value()) << path << ":\n" << text;
  ReportFile report;
  if (!lines) return report;
  for (const JsonObject& line : *lines) {
    EXPECT_FALSE(report.totals.has_value()) << path << ": a line after the totals";
    if (line.count("totals")) {
      report.totals = line;
    } else {
      report.files.push_back(line);
    }
  }
  return report;
}

// The totals line agrees with the per-source lines, and each line with the file it names.
void ExpectConsistent(const ReportFile& report, const fs::path& cwd) {
  ASSERT_TRUE(report.totals.has_value());
  std::map<std::string, std::size_t> counts;
  std::int64_t bytes = 0, frames = 0;
  for (const JsonObject& line : report.files) {
    ++counts[line.at("status")];
    bytes += std::stoll(line.at("bytes"));
    frames += std::stoll(line.at("frames"));
    if (line.at("status") == "converted" || line.at("status") == "copied") {
      EXPECT_EQ(std::stoull(line.at("bytes")), fs::file_size(cwd / line.at("output")));
      EXPECT_EQ(line.at("status") == "converted", std::stoll(line.at("frames")) > 0);
    }
  }
  const JsonObject& totals = *report.totals;
  for (const char* status : {"converted", "copied", "skipped", "failed"}) {
    EXPECT_EQ(totals.at(status), std::to_string(counts[status])) << status;
  }
  EXPECT_EQ(totals.at("files"), std::to_string(report.files.size()));
  EXPECT_EQ(totals.at("bytes"), std::to_string(bytes));
  EXPECT_EQ(totals.at("frames"), std::to_string(frames));
}

TEST(ScaleOutTest, FourShardsStartedAtOnceWriteEveryOutputOnceAsOneRunDoes) {
  const ScratchDir dir;
  MakeTree(dir / "src", 40);
  ASSERT_EQ(Convert({"-q", "--copy-others", "-o", "ref", "src"}, dir.path()), 0);
  const Tree reference = ReadTree(dir / "ref");
  ASSERT_EQ(reference.size(), 40u + 8u);

  std::vector<pid_t> shards;
  for (int k = 1; k <= 4; ++k) {
    const std::string shard = std::to_string(k) + "/4";
    const std::string report = "r" + std::to_string(k) + ".jsonl";
    // The last shard writes its report to standard output.
    shards.push_back(k < 4 ? Start({"-q", "-n", "--copy-others", "--shard", shard, "--report",
                                    report, "-o", "out", "src"},
                                   dir.path())
                           : Start({"-n", "--copy-others", "--shard", shard, "--report", "-", "-o",
                                    "out", "src"},
                                   dir.path(), report));
  }
  for (const pid_t pid : shards) EXPECT_EQ(Wait(pid), 0);
  EXPECT_EQ(ReadTree(dir / "out"), reference);
  EXPECT_TRUE(test::PartialFiles(dir / "out").empty());

  std::map<std::string, int> done;  // source -> how many shards wrote it
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE("shard " + std::to_string(k));
    const ReportFile report = ReadReport(dir / ("r" + std::to_string(k) + ".jsonl"));
    ExpectConsistent(report, dir.path());
    EXPECT_GT(report.files.size(), 4u);  // FNV-1a spreads 48 paths over all four
    for (const JsonObject& line : report.files) {
      EXPECT_TRUE(line.at("status") == "converted" || line.at("status") == "copied");
      ++done[line.at("source")];
    }
  }
  EXPECT_EQ(done.size(), reference.size());
  for (const auto& [source, times] : done) EXPECT_EQ(times, 1) << source;
}

TEST(ScaleOutTest, AShardKilledWithSigkillCompletesWhatWasMissingWhenRunAgain) {
  const ScratchDir dir;
  MakeTree(dir / "src", 12, 25);  // about 50 s of audio each
  ASSERT_EQ(Convert({"-q", "-o", "ref", "src"}, dir.path()), 0);
  const Tree reference = ReadTree(dir / "ref");

  const pid_t other = Start({"-q", "-n", "--shard", "2/2", "-o", "out", "src"}, dir.path());
  const pid_t victim = Start(
      {"-q", "-n", "-j", "1", "--shard", "1/2", "--report", "killed.jsonl", "-o", "out", "src"},
      dir.path());
  // Killed once its first file is reported, while it converts the next.
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (ReadAll(dir / "killed.jsonl").find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(victim, SIGKILL);
  const int killedStatus = Wait(victim);
  EXPECT_EQ(Wait(other), 0);
  if (killedStatus != 128 + SIGKILL) std::cout << "note: the shard ended before the kill\n";

  const ReportFile killed = ReadReport(dir / "killed.jsonl");
  EXPECT_GE(killed.files.size(), 1u);
  std::set<std::string> before;  // outputs published before the rerun
  for (const auto& [relative, content] : ReadTree(dir / "out")) {
    if (relative.extension() == ".WAV") before.insert(("out" / relative).native());
  }

  ASSERT_EQ(Convert({"-q", "-n", "-j", "1", "--shard", "1/2", "--report", "again.jsonl", "-o",
                     "out", "src"},
                    dir.path()),
            0);
  EXPECT_EQ(ReadTree(dir / "out"), reference);
  EXPECT_TRUE(test::PartialFiles(dir / "out").empty());  // the killed run's partial file too
  const ReportFile again = ReadReport(dir / "again.jsonl");
  ExpectConsistent(again, dir.path());
  std::size_t converted = 0;
  for (const JsonObject& line : again.files) {
    const bool wasThere = before.count(line.at("output")) != 0;
    EXPECT_EQ(line.at("status"), wasThere ? "skipped" : "converted") << line.at("source");
    converted += !wasThere;
  }
  if (killedStatus == 128 + SIGKILL) {
    EXPECT_GT(converted, 0u);
  }
}

TEST(ScaleOutTest, GnuParallelFeedingChunksOfTheListGivesTheSameTree) {
  if (std::system("command -v parallel > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GNU parallel is not installed";
  }
  const ScratchDir dir;
  MakeTree(dir / "src", 40);
  ASSERT_EQ(Convert({"-q", "-o", "ref", "src"}, dir.path()), 0);
  fs::create_directories(dir / "reports");
  const std::string command =
      "cd '" + dir.path().native() +
      "' && find src -type f \\( -name '*.mp3' -o -name '*.mp2' \\) | sort | "
      "parallel --will-cite --pipe -N 5 -j 2 '" QD_CONVERT_BINARY
      " -q -n -j 1 --files-from - --relative-to src -o out --report reports/chunk-{#}.jsonl'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(OnlyWaves(ReadTree(dir / "out")), OnlyWaves(ReadTree(dir / "ref")));

  std::size_t chunks = 0, converted = 0;
  for (const auto& entry : fs::directory_iterator(dir / "reports")) {
    const ReportFile report = ReadReport(entry.path());
    ExpectConsistent(report, dir.path());
    EXPECT_LE(report.files.size(), 5u);
    ++chunks;
    converted += std::stoul(report.totals.value_or(JsonObject{{"converted", "0"}}).at("converted"));
  }
  EXPECT_EQ(chunks, 8u);
  EXPECT_EQ(converted, 40u);
}

TEST(ScaleOutTest, AListedFileOutsideTheRelativeFolderFailsAlone) {
  const ScratchDir dir;
  MakeTree(dir / "src", 4);
  fs::copy_file(Fixture("cbr8_mono.mp3"), dir / "outside.mp3");
  const std::string list = std::string("src/disc 1/track 0.mp3\0outside.mp3\0", 35) +
                           (dir / "src/d\xe9mos/track 3.mp3").native() + '\0';
  WriteAll(dir / "list", list);
  ASSERT_EQ(Convert({"-q", "-0", "--files-from", "list", "--relative-to", "src", "--report",
                     "r.jsonl", "-o", "out"},
                    dir.path()),
            1);
  EXPECT_TRUE(test::IsCompletePcmWav(dir / "out/disc 1/track 0.WAV"));
  EXPECT_TRUE(test::IsCompletePcmWav(dir / "out/d\xe9mos/track 3.WAV"));
  EXPECT_EQ(ReadTree(dir / "out").size(), 2u);
  const ReportFile report = ReadReport(dir / "r.jsonl");
  ExpectConsistent(report, dir.path());
  ASSERT_EQ(report.files.size(), 3u);
  for (const JsonObject& line : report.files) {
    if (line.at("source") != "outside.mp3") continue;
    EXPECT_EQ(line.at("status"), "failed");
    EXPECT_EQ(line.at("reason"), "not below src (--relative-to)");
  }
}

}  // namespace
}  // namespace cli
