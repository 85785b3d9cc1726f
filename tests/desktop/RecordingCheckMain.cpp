// recording_check FILE.raw RECORDING.raw [LABEL]: compares a recording with the decoded file
// (both 44.1 kHz stereo s16le without header), prints the findings, each line after LABEL, and
// a verdict line. Exit status: 0 when the whole file was heard without a gap, 1 when not, 2 when
// the files cannot be read.
#include <cstdio>
#include <exception>
#include <sstream>
#include <string>

#include "tests/desktop/RecordingCheck.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s FILE.raw RECORDING.raw [LABEL]\n", argv[0]);
    return 2;
  }
  const std::string label = argc == 4 ? std::string(argv[3]) + ": " : "";
  try {
    const desktop::Pcm file = desktop::ReadRawPcm(argv[1], 2, 44100);
    const desktop::Pcm recording = desktop::ReadRawPcm(argv[2], 2, 44100);
    const desktop::CheckSettings settings;
    const desktop::CheckResult result = desktop::CheckRecording(file, recording, settings);
    std::istringstream lines(result.Report(settings));
    for (std::string line; std::getline(lines, line);) {
      std::printf("%s%s\n", label.c_str(), line.c_str());
    }
    const bool passed = result.Passed(settings);
    std::printf("%sverdict: %s\n", label.c_str(), passed ? "PASS" : "FAIL");
    return passed ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s%s\n", label.c_str(), error.what());
    return 2;
  }
}
