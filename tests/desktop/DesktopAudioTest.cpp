// The preview's real audio path end to end: scripts/desktop-audio-check.sh --private plays a
// generated 20 s MP3 with preview_play through ALSA's pulse plugin into a private PulseAudio
// server, with one core kept busy, records the server's null sink and compares each recording
// with the decoded file. Every play must be heard whole: no silent gap, first and last samples
// present. Skipped when a tool of the path is not installed.
// QD_AUDIO_PLAYS sets the number of plays (default 3); QD_AUDIO_STRESS=N adds stress-ng.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

constexpr int kMissingToolStatus = 77;

struct CommandRun {
  int status = -1;
  std::string output;
};

CommandRun RunCommand(const std::string& command) {
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk{};
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) {
    run.output += chunk.data();
    std::cout << chunk.data() << std::flush;  // the figures of every play, also on success
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

int Count(const std::string& text, const std::string& word) {
  int count = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

TEST(DesktopAudioTest, EveryPlayIsHeardWholeWithoutGapsUnderLoad) {
  const char* plays = std::getenv("QD_AUDIO_PLAYS");
  const int count = plays != nullptr ? std::atoi(plays) : 3;
  ASSERT_GT(count, 0);
  const CommandRun run = RunCommand("bash " QD_CHECK_SCRIPT " --private --load 1 --plays " +
                                    std::to_string(count) + " " QD_BUILD_DIR " 2>&1");
  if (run.status == kMissingToolStatus) {
    const auto reason = run.output.rfind("missing:");
    GTEST_SKIP() << (reason == std::string::npos ? run.output : run.output.substr(reason));
  }
  EXPECT_EQ(Count(run.output, "verdict: PASS"), count) << run.output;
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Count(run.output, "result=ok"), count);
}

}  // namespace
