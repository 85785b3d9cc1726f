#include "tests/desktop/RecordingCheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>

namespace desktop {
namespace {

constexpr int kRate = 44100;

std::size_t Frames(double ms) {
  return static_cast<std::size_t>(ms * kRate / 1000);
}

// One second of two tones plus noise on each channel, never silent for more than a frame.
Pcm MakeFile(std::size_t frames = kRate) {
  Pcm pcm;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> noise(-3000, 3000);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    pcm.samples.push_back(
        static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 300 * t) + noise(random)));
    pcm.samples.push_back(
        static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 450 * t) + noise(random)));
  }
  return pcm;
}

void AppendSilence(Pcm& pcm, std::size_t frames) {
  pcm.samples.insert(pcm.samples.end(), frames * 2, 0);
}

void Append(Pcm& pcm, const Pcm& from, std::size_t first, std::size_t last) {
  pcm.samples.insert(pcm.samples.end(), from.samples.begin() + 2 * first,
                     from.samples.begin() + 2 * last);
}

// The file as a sound server records it: silence around it, optionally cut at either end.
Pcm Record(const Pcm& file, std::size_t cutStart = 0, std::size_t cutEnd = 0) {
  Pcm recording;
  AppendSilence(recording, Frames(300));
  Append(recording, file, cutStart, file.Frames() - cutEnd);
  AppendSilence(recording, Frames(200));
  return recording;
}

TEST(RecordingCheckTest, AWholeRecordingPassesAndItsStartIsFound) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Record(file), settings);
  EXPECT_TRUE(result.Passed(settings)) << result.Report(settings);
  EXPECT_NEAR(result.soundStartMs, 300.0, 0.1);
  EXPECT_NEAR(result.missingEndMs, 0.0, 0.05);
  EXPECT_NEAR(result.soundLengthMs, result.fileLengthMs, 0.05);
}

TEST(RecordingCheckTest, ACutEndIsReportedInMilliseconds) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Record(file, 0, Frames(8)), settings);
  EXPECT_FALSE(result.Passed(settings));
  EXPECT_TRUE(result.endFound);
  EXPECT_NEAR(result.missingEndMs, 8.0, 0.05);
  EXPECT_NE(result.Report(settings).find("end: 8.0 ms of the file missing"), std::string::npos)
      << result.Report(settings);
}

TEST(RecordingCheckTest, AnEndCutByLessThanTheToleranceStillPasses) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Record(file, 0, 10), settings);
  EXPECT_TRUE(result.Passed(settings)) << result.Report(settings);
  EXPECT_NEAR(result.missingEndMs, 10.0 * 1000 / kRate, 0.01);
}

TEST(RecordingCheckTest, ACutStartIsReported) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Record(file, Frames(20)), settings);
  EXPECT_FALSE(result.Passed(settings));
  EXPECT_NEAR(result.missingStartMs, 20.0, 0.05);
}

TEST(RecordingCheckTest, InsertedSilenceIsAGapWithNothingSkipped) {
  const Pcm file = MakeFile();
  Pcm recording;
  AppendSilence(recording, Frames(100));
  Append(recording, file, 0, Frames(500));
  AppendSilence(recording, Frames(5));
  Append(recording, file, Frames(500), file.Frames());
  AppendSilence(recording, Frames(100));
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, recording, settings);
  EXPECT_FALSE(result.Passed(settings));
  ASSERT_EQ(result.gaps.size(), 1u) << result.Report(settings);
  EXPECT_NEAR(result.gaps[0].atMs, 500.0, 0.1);
  EXPECT_NEAR(result.gaps[0].lengthMs, 5.0, 0.1);
  EXPECT_TRUE(result.gaps[0].resumed);
  EXPECT_NEAR(result.gaps[0].skippedMs, 0.0, 0.05);
  // The offset follows the gap, so the end is still found whole.
  EXPECT_NEAR(result.missingEndMs, 0.0, 0.05);
}

TEST(RecordingCheckTest, GapsCloserThanASegmentAreEachPlaced) {
  const Pcm file = MakeFile();
  Pcm recording;
  AppendSilence(recording, Frames(100));
  Append(recording, file, 0, Frames(500));
  AppendSilence(recording, Frames(3));
  Append(recording, file, Frames(500), Frames(503));
  AppendSilence(recording, Frames(4));
  Append(recording, file, Frames(503), file.Frames());
  AppendSilence(recording, Frames(100));
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, recording, settings);
  ASSERT_EQ(result.gaps.size(), 2u) << result.Report(settings);
  for (const Gap& gap : result.gaps) {
    EXPECT_TRUE(gap.resumed);
    EXPECT_NEAR(gap.skippedMs, 0.0, 0.05);
  }
  EXPECT_NEAR(result.gaps[1].atMs, 506.0, 0.1);
  EXPECT_NE(result.Report(settings).find("gaps: 2, 7.0 ms of silence in all, the longest 4.0 ms"),
            std::string::npos)
      << result.Report(settings);
}

TEST(RecordingCheckTest, SilenceInPlaceOfTheSoundIsAGapThatSkipsItsLength) {
  const Pcm file = MakeFile();
  Pcm recording = Record(file);
  const std::size_t from = Frames(300 + 700);
  std::fill(recording.samples.begin() + 2 * from,
            recording.samples.begin() + 2 * (from + Frames(10)), 0);
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, recording, settings);
  ASSERT_EQ(result.gaps.size(), 1u) << result.Report(settings);
  EXPECT_NEAR(result.gaps[0].atMs, 700.0, 0.1);
  EXPECT_NEAR(result.gaps[0].skippedMs, 10.0, 0.1);
  EXPECT_NE(result.Report(settings).find("gap at 700.0 ms: 10.0 ms of silence"), std::string::npos);
}

// The file from 0 to `cut` ms, then from `resume` ms to its end, between silences.
Pcm Spliced(const Pcm& file, double cut, double resume) {
  Pcm recording;
  AppendSilence(recording, Frames(100));
  Append(recording, file, 0, Frames(cut));
  Append(recording, file, Frames(resume), file.Frames());
  AppendSilence(recording, Frames(100));
  return recording;
}

TEST(RecordingCheckTest, SoundHeardTwiceWithoutSilenceIsASplice) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Spliced(file, 500, 480), settings);
  EXPECT_FALSE(result.Passed(settings));
  EXPECT_TRUE(result.gaps.empty());
  EXPECT_NEAR(result.shiftMs, 20.0, 0.05);
  EXPECT_NEAR(result.missingEndMs, 0.0, 0.05);
  EXPECT_NE(result.Report(settings).find("splice: 20.0 ms of sound heard twice"), std::string::npos)
      << result.Report(settings);
}

TEST(RecordingCheckTest, SoundDroppedWithoutSilenceIsASplice) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Spliced(file, 500, 530), settings);
  EXPECT_FALSE(result.Passed(settings));
  EXPECT_NEAR(result.shiftMs, -30.0, 0.05);
  EXPECT_NE(result.Report(settings).find("splice: 30.0 ms of the file dropped"), std::string::npos)
      << result.Report(settings);
}

TEST(RecordingCheckTest, SilenceShorterThanTheMinimumIsNoGap) {
  const Pcm file = MakeFile();
  Pcm recording = Record(file);
  const std::size_t from = Frames(600);
  std::fill(recording.samples.begin() + 2 * from,
            recording.samples.begin() + 2 * (from + Frames(1)), 0);
  const CheckSettings settings;
  EXPECT_TRUE(CheckRecording(file, recording, settings).gaps.empty());
}

TEST(RecordingCheckTest, TheFilesOwnSilenceIsNoGap) {
  Pcm file = MakeFile();
  const std::size_t from = Frames(400);
  std::fill(file.samples.begin() + 2 * from, file.samples.begin() + 2 * (from + Frames(50)), 0);
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, Record(file), settings);
  EXPECT_TRUE(result.Passed(settings)) << result.Report(settings);
}

TEST(RecordingCheckTest, AQuieterRecordingWithNoiseStillMatches) {
  const Pcm file = MakeFile();
  Pcm recording = Record(file);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> dither(-1, 1);
  for (std::int16_t& s : recording.samples) {
    if (s != 0) s = static_cast<std::int16_t>(s * 0.4 + dither(random));
  }
  const CheckSettings settings;
  const CheckResult result = CheckRecording(file, recording, settings);
  EXPECT_TRUE(result.Passed(settings)) << result.Report(settings);
  EXPECT_GT(result.startScore, 0.99);
}

TEST(RecordingCheckTest, ASilentOrForeignRecordingFails) {
  const Pcm file = MakeFile();
  const CheckSettings settings;
  Pcm silence;
  AppendSilence(silence, kRate);
  const CheckResult none = CheckRecording(file, silence, settings);
  EXPECT_FALSE(none.soundFound);
  EXPECT_FALSE(none.Passed(settings));

  Pcm other = MakeFile();
  std::mt19937 random(11);
  std::uniform_int_distribution<int> noise(-8000, 8000);
  for (std::int16_t& s : other.samples) s = static_cast<std::int16_t>(noise(random));
  const CheckResult foreign = CheckRecording(file, Record(other), settings);
  EXPECT_FALSE(foreign.startFound);
  EXPECT_FALSE(foreign.endFound);
  EXPECT_FALSE(foreign.Passed(settings));
}

TEST(RecordingCheckTest, RawFilesAreReadAsLittleEndianFrames) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "recording-check-test.raw";
  {
    std::ofstream out(path, std::ios::binary);
    const unsigned char bytes[] = {0x01, 0x02, 0xFF, 0xFF, 0x00, 0x80, 0x34};  // odd byte dropped
    out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
  }
  const Pcm pcm = ReadRawPcm(path.string(), 1, kRate);
  std::filesystem::remove(path);
  ASSERT_EQ(pcm.Frames(), 3u);
  EXPECT_EQ(pcm.samples[0], 0x0201);
  EXPECT_EQ(pcm.samples[1], -1);
  EXPECT_EQ(pcm.samples[2], -32768);
  EXPECT_THROW(ReadRawPcm(path.string(), 2, kRate), std::runtime_error);
}

}  // namespace
}  // namespace desktop
