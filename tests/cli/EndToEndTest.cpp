// Runs the built program on fixture files, as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <set>

#include "sources/MpegBinding.h"
#include "tests/cli/CliTestSupport.h"

extern char** environ;

namespace cli {
namespace {

using test::Fixture;
using test::PcmDataBytes;
using test::ReadAll;
using test::ScratchDir;
namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs the program in `cwd`, with no input and its output caught in files.
Outcome RunConverter(const std::vector<std::string>& args, const fs::path& cwd,
                     const std::string& program = QD_CONVERT_BINARY) {
  const ScratchDir io;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT, 0644);
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
  o.out = ReadAll(io / "out");
  o.err = ReadAll(io / "err");
  return o;
}

// Starts the program in `cwd` with its output discarded (and a file size limit when
// `maxFileBytes` is not 0); returns its process id.
pid_t StartConverter(const std::vector<std::string>& args, const fs::path& cwd,
                     rlim_t maxFileBytes = 0) {
  return test::StartProgram(QD_CONVERT_BINARY, args, cwd, {}, maxFileBytes);
}

std::string Error(const std::string& source, const std::string& reason) {
  return "quelbarin-convert: " + source + ": " + reason + "\n";
}

const std::string kNotAudio = "not an audio file (neither MPEG audio nor WAVE)";

TEST(EndToEndTest, UsageErrorsAndHelp) {
  const ScratchDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-x", "a.mp3"}}) {
    const Outcome o = RunConverter(args, dir.path());
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find(args.empty() ? "Usage:" : "unknown option '-x'"), std::string::npos);
  }
  const Outcome help = RunConverter({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.find("Usage: quelbarin-convert"), 0u);
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
                       Error("noise.mp3", kNotAudio) +
                       Error("blocked.mp3", "cannot create blocked.WAV: Is a directory"));
  EXPECT_GT(PcmDataBytes(dir / "good.WAV"), 0u);
  EXPECT_GT(PcmDataBytes(dir / "also good.WAV"), 0u);
  EXPECT_FALSE(fs::exists(dir / "noise.WAV"));
  EXPECT_TRUE(test::PartialFiles(dir.path()).empty());
}

TEST(EndToEndTest, AnyBytesInFileNames) {
  const ScratchDir dir;
  std::vector<std::string> args = {"-v", "--"};
  std::string expected;
  for (const std::string name : {"with space.mp3", "it's \"quoted\".mp3", "caf\xe9 latin1.mp3",
                                 "\xe6\x97\xa5\xe6\x9c\xac.mp3", "-v.mp3", "$(echo x);*.mp3"}) {
    fs::copy_file(Fixture("cbr8_mono.mp3"), dir / name);
    args.push_back(name);
    const std::string wav = name.substr(0, name.size() - 3) + "WAV";
    expected += name + " -> " + wav + "\n";
  }
  const Outcome o = RunConverter(args, dir.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, expected);
  for (std::size_t i = 2; i < args.size(); ++i) {
    EXPECT_GT(PcmDataBytes(dir / (args[i].substr(0, args[i].size() - 3) + "WAV")), 0u) << args[i];
  }
}

// LAME-encoded digital silence decodes to a step or two: neither normalization raises that
// noise, and -v says why.
TEST(EndToEndTest, NormalizedSilenceStaysSilent) {
  const ScratchDir dir;
  if (std::system(("sox -n -r 44100 -c 2 -b 16 '" + (dir / "s.wav").native() +
                   "' synth 3 sine 440 vol 0 2>/dev/null && lame --silent '" +
                   (dir / "s.wav").native() + "' '" + (dir / "s.mp3").native() + "'")
                      .c_str()) != 0) {
    GTEST_SKIP() << "needs sox and lame";
  }
  for (const std::string mode : {"peak", "loudness"}) {
    SCOPED_TRACE(mode);
    const Outcome o = RunConverter({"-v", "-f", "--normalize", mode, "s.mp3"}, dir.path());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.find("s.mp3 -> s.WAV, gain +0.00 dB (silence: "), 0u) << o.out;
    EXPECT_NE(o.out.find("below -70 dBFS, gain left at 1)"), std::string::npos) << o.out;
    const std::string data = test::PcmData(dir / "s.WAV");
    ASSERT_FALSE(data.empty());
    int peak = 0;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      std::int16_t v = 0;
      std::memcpy(&v, data.data() + i, 2);
      peak = std::max(peak, std::abs(int(v)));
    }
    EXPECT_LE(peak, 4);  // the decoder's noise and the dither, nothing more
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
  test::WriteAll(dir / "in/readme.txt", "not listed");

  const Outcome one = RunConverter({"-q", "-j", "1", "-o", "out1", "in"}, dir.path());
  const Outcome four = RunConverter({"-q", "-j4", "--output=out4", "in"}, dir.path());
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(four.status, 1);
  EXPECT_EQ(one.err, Error("in/sub/bad.mp3", kNotAudio));
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
    EXPECT_GT(PcmDataBytes(dir / "out1" / file), 0u) << file;
    EXPECT_EQ(ReadAll(dir / "out1" / file), ReadAll(dir / "out4" / file)) << file;
  }
}

TEST(EndToEndTest, PlainPcmWavesInAFolderAreConvertedWhenTheOutputChangesThem) {
  const ScratchDir dir;
  fs::create_directories(dir / "in");
  std::string data(8000 * 4, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = char(i * 37 % 200);
  test::WriteAll(dir / "in/s.wav", test::WaveFile(1, 2, 8000, 16, 4, data));
  const struct {
    std::vector<std::string> options;
    bool converted;
  } rows[] = {{{}, false}, {{"--bits", "24"}, true}, {{"--normalize", "peak"}, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.options));
    fs::remove_all(dir / "out");
    std::vector<std::string> args = row.options;
    args.insert(args.end(), {"-q", "-o", "out", "in"});
    EXPECT_EQ(RunConverter(args, dir.path()).status, 0);
    EXPECT_EQ(fs::exists(dir / "out/s.WAV"), row.converted);
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

TEST(EndToEndTest, RerunsAndRepeatedInputsConvertEachSourceOnce) {
  const ScratchDir dir;
  fs::create_directories(dir / "in/sub");
  fs::copy_file(Fixture("cbr8_mono.mp3"), dir / "in/a.mp3");
  fs::copy_file(Fixture("cbr8_mono.mp3"), dir / "in/sub/b.mp3");

  // The same file twice, and a folder with one of its own sub-folders.
  Outcome o = RunConverter({"-v", "in/a.mp3", "in/a.mp3", "in", "in/sub"}, dir.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "in/a.mp3 -> in/a.WAV\nin/sub/b.mp3 -> in/sub/b.WAV\n");

  // Again into the input folder: the earlier outputs are neither sources nor replaced.
  const std::string before = ReadAll(dir / "in/a.WAV");
  o = RunConverter({"-o", "in", "in"}, dir.path());
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, Error("in/a.mp3", "in/a.WAV exists (use --force to replace it)") +
                       Error("in/sub/b.mp3", "in/sub/b.WAV exists (use --force to replace it)"));
  o = RunConverter({"-n", "-v", "-o", "in", "in"}, dir.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_NE(o.out.find("in/a.mp3: skipped (in/a.WAV exists)"), std::string::npos) << o.out;
  o = RunConverter({"-f", "-o", "in", "in"}, dir.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(ReadAll(dir / "in/a.WAV"), before);
}

// A signal in the middle of a file ends the run with 128 + its number and no partial file.
TEST(EndToEndTest, SignalsEndTheRunWithoutLeftovers) {
  const ScratchDir dir;
  const std::string frames = ReadAll(Fixture("cbr44_joint.mp3"));
  std::string longMp3;
  for (int i = 0; i < 300; ++i) longMp3 += frames;  // ten minutes
  test::WriteAll(dir / "long.mp3", longMp3);

  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    SCOPED_TRACE(strsignal(signal));
    const pid_t pid = StartConverter({"-q", "-o", "out", "long.mp3"}, dir.path());
    ASSERT_GT(pid, 0);
    // Bounded wait until the partial file is there: the conversion is under way.
    for (int i = 0; i < 2000 && !fs::exists(dir / "out"); ++i) ::usleep(5000);
    for (int i = 0; i < 2000 && test::PartialFiles(dir / "out").empty(); ++i) ::usleep(5000);
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
    fs::remove_all(dir / "out");
  }

  // A file size limit: the write that passes it raises SIGXFSZ and fails.
  const pid_t pid = StartConverter({"-q", "-o", "out", "long.mp3"}, dir.path(), 1 << 20);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 128 + SIGXFSZ);
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

}  // namespace
}  // namespace cli
