// Compares a recording of a sound server's output with the decoded file that was played into it:
// where the file's sound starts in the recording, every stretch of silence inside it that the
// file does not have (with how much of the file was skipped across it), sound heard twice or
// dropped without a silence, and whether the file's first and last samples were heard. Positions
// are found by normalized cross-correlation, so a recording at another volume still matches.
// Threading: plain functions on the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace desktop {

// Interleaved 16-bit PCM.
struct Pcm {
  std::vector<std::int16_t> samples;
  int channels = 2;
  int rate = 44100;

  std::size_t Frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

// Reads headerless little-endian 16-bit samples; throws std::runtime_error when the file cannot
// be read.
Pcm ReadRawPcm(const std::string& path, int channels, int rate);

struct CheckSettings {
  double silenceLevel =
      0.001;                  // a frame is silent when no channel reaches this share of full scale
  double minGapMs = 2.0;      // shorter silent runs are not reported
  double segmentMs = 10.0;    // length of the pieces matched against the file
  double minSegmentMs = 1.0;  // shortest sound between two gaps that is placed in the file
  double startSearchMs = 250.0;
  double endSearchMs = 1000.0;
  double gapSearchMs = 100.0;  // beyond the gap's own length
  double minScore = 0.9;       // normalized correlation that counts as the same sound
  double toleranceMs = 0.5;    // start or end missing by up to this much still counts as heard
};

struct Gap {
  double atMs = 0;       // from the start of the sound in the recording
  double lengthMs = 0;   // of the silence
  double skippedMs = 0;  // of the file, between the sound before and after the silence
  bool resumed = false;  // the sound after the silence was found in the file
};

struct CheckResult {
  bool soundFound = false;
  double soundStartMs = 0;  // in the recording
  double soundLengthMs = 0;
  double fileLengthMs = 0;
  bool startFound = false;
  double startScore = 0;
  double missingStartMs = 0;
  std::vector<Gap> gaps;
  bool endFound = false;
  double endScore = 0;
  double missingEndMs = 0;
  // Sound heard twice (positive) or dropped (negative) without a silence, found at the end.
  double shiftMs = 0;

  bool Passed(const CheckSettings& settings) const;
  // Several lines, one per finding.
  std::string Report(const CheckSettings& settings) const;
};

CheckResult CheckRecording(const Pcm& file, const Pcm& recording, const CheckSettings& settings);

}  // namespace desktop
