#include "cli/Batch.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::Fixture;
namespace fs = std::filesystem;
using Status = ConversionResult::Status;

// Runs the batch and returns the statuses in the order they were reported. Checks each tick:
// only jobs not reported yet can be running, and time goes forward.
std::vector<Status> RunJobs(const std::vector<Job>& jobs, unsigned workers,
                            const std::atomic<bool>* cancel, BatchSummary& summary,
                            ExistingFiles existing = ExistingFiles::kRefuse) {
  FileConverter converter;
  converter.SetCancelFlag(cancel);
  converter.SetExistingFiles(existing);
  std::vector<Status> reported;
  BatchCallbacks callbacks;
  callbacks.tickInterval = std::chrono::milliseconds(1);
  callbacks.onResult = [&](const Job& job, const ConversionResult& r) {
    EXPECT_EQ(job.source, jobs[reported.size()].source);
    reported.push_back(r.status);
  };
  std::chrono::milliseconds lastElapsed{0};
  callbacks.onTick = [&](const BatchProgress& p) {
    EXPECT_GE(p.finished, reported.size());
    EXPECT_LE(p.running.size(), workers);
    EXPECT_GE(p.elapsed, lastElapsed);
    lastElapsed = p.elapsed;
    for (const RunningFile& file : p.running) {
      EXPECT_TRUE(file.permille >= 0 && file.permille <= 1000) << file.permille;
      const auto job = std::find_if(jobs.begin() + reported.size(), jobs.end(),
                                    [&](const Job& j) { return j.source == file.source; });
      EXPECT_NE(job, jobs.end()) << file.source << " runs after it was reported";
    }
  };
  summary = RunBatch(jobs, workers, converter, cancel, callbacks);
  EXPECT_GE(summary.elapsed, lastElapsed);
  return reported;
}

TEST(BatchTest, ResultsComeInJobOrderWhateverTheNumberOfWorkers) {
  test::ScratchDir dir;
  std::vector<Job> jobs;
  // The long file first, so that with several workers the short ones finish before it.
  for (const char* name :
       {"cbr44_joint.mp3", "random.mp3", "cbr8_mono.mp3", "vbr16_mono.mp3", "text.mp3"}) {
    jobs.push_back({Fixture(name), dir / (std::string(name) + ".WAV"), {}});
  }
  jobs.push_back({Fixture("cbr8_mono.mp3"), dir / "listed.WAV", "failed while listing"});
  constexpr Status kConverted = ConversionResult::kConverted, kFailed = ConversionResult::kFailed,
                   kSkipped = ConversionResult::kSkipped;
  // Run after run into the same folder: the outputs of the first exist for the others.
  struct Round {
    unsigned workers;
    ExistingFiles existing;
    std::vector<Status> expected;
  };
  const Round kRounds[] = {
      {1, ExistingFiles::kRefuse, {kConverted, kFailed, kConverted, kConverted, kFailed, kFailed}},
      {4, ExistingFiles::kReplace, {kConverted, kFailed, kConverted, kConverted, kFailed, kFailed}},
      {4, ExistingFiles::kSkip, {kSkipped, kFailed, kSkipped, kSkipped, kFailed, kFailed}},
      {2, ExistingFiles::kRefuse, {kFailed, kFailed, kFailed, kFailed, kFailed, kFailed}},
  };
  for (const Round& round : kRounds) {
    BatchSummary summary;
    EXPECT_EQ(RunJobs(jobs, round.workers, nullptr, summary, round.existing), round.expected);
    auto count = [&](Status status) {
      return static_cast<std::size_t>(
          std::count(round.expected.begin(), round.expected.end(), status));
    };
    EXPECT_EQ(summary.converted, count(kConverted));
    EXPECT_EQ(summary.failed, count(kFailed));
    EXPECT_EQ(summary.skipped, count(kSkipped));
    EXPECT_EQ(summary.cancelled, 0u);
    EXPECT_FALSE(fs::exists(dir / "listed.WAV"));
  }
}

TEST(BatchTest, NothingStartsOnceCancelled) {
  test::ScratchDir dir;
  const std::atomic<bool> cancel{true};
  BatchSummary summary;
  EXPECT_EQ(RunJobs({{Fixture("cbr8_mono.mp3"), dir / "a.WAV", {}}, {"missing", "b.WAV", {}}}, 2,
                    &cancel, summary),
            std::vector<Status>(2, ConversionResult::kCancelled));
  EXPECT_EQ(summary.cancelled, 2u);
  EXPECT_EQ(summary.converted + summary.failed + summary.skipped, 0u);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace cli
