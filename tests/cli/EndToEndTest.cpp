// Runs the built program on fixture files, as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <set>
#include <string>
#include <vector>

#include "sources/MpegBinding.h"
#include "tests/cli/CliTestSupport.h"

extern char** environ;

namespace cli {
namespace {

using test::Fixture;
using test::IsCompletePcmWav;
using test::PartialFiles;
using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;
namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the converter in `cwd` with stdin from /dev/null and stdout/stderr into files.
Outcome RunConverter(const std::vector<std::string>& args, const fs::path& cwd,
                     const std::string& program = QD_CONVERT_BINARY) {
  const ScratchDir io;
  const std::string outFile = io / "stdout", errFile = io / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Outcome o;
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  o.out = ReadAll(outFile);
  o.err = ReadAll(errFile);
  return o;
}

std::string Error(const fs::path& source, const std::string& reason) {
  return "quelbarin-convert: " + source.native() + ": " + reason + "\n";
}

TEST(EndToEndTest, UsageErrorsAndHelp) {
  const ScratchDir dir;
  Outcome o = RunConverter({}, dir.path());
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("Usage:"), std::string::npos);
  o = RunConverter({"-x", "a.mp3"}, dir.path());
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("unknown option '-x'"), std::string::npos);
  o = RunConverter({"--help"}, dir.path());
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("Usage:"), std::string::npos);
  EXPECT_EQ(o.err, "");
}

TEST(EndToEndTest, MixedBatchConvertsTheGoodFilesAndNamesEachFailure) {
  const ScratchDir dir;
  fs::copy_file(Fixture("cbr44_joint.mp3"), dir / "good.mp3");
  fs::copy_file(Fixture("cbr8_mono.mp3"), dir / "also good.mp3");
  fs::copy_file(Fixture("random.mp3"), dir / "noise.mp3");
  fs::copy_file(Fixture("cbr8_mono.mp3"), dir / "blocked.mp3");
  fs::create_directories(dir / "blocked.WAV/in the way");

  const Outcome o = RunConverter(
      {"good.mp3", "missing.mp3", "noise.mp3", "blocked.mp3", (dir / "also good.mp3").native()},
      dir.path());
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, Error("missing.mp3", "No such file or directory") +
                       Error("noise.mp3", "not an audio file (neither MPEG audio nor WAVE)") +
                       Error("blocked.mp3", "cannot create blocked.WAV: Is a directory"));
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(IsCompletePcmWav(dir / "good.WAV"));
  EXPECT_TRUE(IsCompletePcmWav(dir / "also good.WAV"));
  EXPECT_FALSE(fs::exists(dir / "noise.WAV"));
  EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

TEST(EndToEndTest, AnyBytesInFileNames) {
  const ScratchDir dir;
  const std::vector<std::string> names = {
      "with space.mp3", "it's \"quoted\".mp3", "caf\xe9 latin1.mp3", "\xe6\x97\xa5\xe6\x9c\xac.mp3",
      "-v.mp3",         "$(echo x);*.mp3"};
  std::vector<std::string> args = {"-v", "--"};
  std::string expected;
  for (const std::string& name : names) {
    fs::copy_file(Fixture("cbr8_mono.mp3"), dir / name);
    args.push_back(name);
    expected += name + " -> " + name.substr(0, name.size() - 3) + "WAV\n";
  }
  const Outcome o = RunConverter(args, dir.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, expected);
  for (const std::string& name : names) {
    EXPECT_TRUE(IsCompletePcmWav(dir / (name.substr(0, name.size() - 3) + "WAV"))) << name;
  }
}

TEST(EndToEndTest, FoldersAreMirroredAndTheWorkerCountChangesNothing) {
  const ScratchDir dir;
  fs::create_directories(dir / "in/sub/deep");
  fs::copy_file(Fixture("cbr44_joint.mp3"), dir / "in/a.mp3");
  fs::copy_file(Fixture("layer2_48.mp2"), dir / "in/sub/B.MP2");
  fs::copy_file(Fixture("mp3_in_wav.wav"), dir / "in/sub/deep/c.wav");
  fs::copy_file(Fixture("vbr44_joint.mp3"), dir / "in/sub/deep/d.mp3");
  fs::copy_file(Fixture("text.mp3"), dir / "in/sub/bad.mp3");
  WriteAll(dir / "in/readme.txt", "not listed");

  const Outcome one = RunConverter({"-q", "-j", "1", "-o", "out1", "in"}, dir.path());
  const Outcome four = RunConverter({"-q", "-j4", "--output=out4", "in"}, dir.path());
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(four.status, 1);
  EXPECT_EQ(one.err, Error("in/sub/bad.mp3", "not an audio file (neither MPEG audio nor WAVE)"));
  EXPECT_EQ(four.err, one.err);

  const std::set<std::string> expected = {"a.WAV", "sub/B.WAV", "sub/deep/c.WAV", "sub/deep/d.WAV"};
  for (const char* out : {"out1", "out4"}) {
    std::set<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir / out)) {
      if (e.is_regular_file()) found.insert(e.path().lexically_relative(dir / out).native());
    }
    EXPECT_EQ(found, expected) << out;
  }
  for (const std::string& file : expected) {
    EXPECT_TRUE(IsCompletePcmWav(dir / "out1" / file)) << file;
    EXPECT_EQ(ReadAll(dir / "out1" / file), ReadAll(dir / "out4" / file)) << file;
  }
}

TEST(EndToEndTest, WithoutTheDecoderModuleEachFileFailsWithTheReason) {
  const ScratchDir dir;
  // A copy of the program in a folder without the modules.
  fs::copy_file(QD_CONVERT_BINARY, dir / "quelbarin-convert");
  fs::copy_file(Fixture("cbr8_mono.mp3"), dir / "a.mp3");
  const Outcome o = RunConverter({"a.mp3"}, dir.path(), dir / "quelbarin-convert");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, Error("a.mp3", std::string("cannot read audio: cannot use the MPEG decoder "
                                              "module libmmmpeg.so (") +
                                      sources::kUnableToLoadDecoder + ")"));
}

}  // namespace
}  // namespace cli
