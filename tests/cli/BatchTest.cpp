#include "cli/Batch.h"

#include <gtest/gtest.h>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::Fixture;
namespace fs = std::filesystem;
using Status = ConversionResult::Status;

// Runs the batch and returns the statuses in the order they were reported.
std::vector<Status> RunJobs(const std::vector<Job>& jobs, unsigned workers,
                            const std::atomic<bool>* cancel, std::size_t& failed) {
  FileConverter converter;
  converter.SetCancelFlag(cancel);
  std::vector<Status> reported;
  BatchCallbacks callbacks;
  callbacks.onResult = [&](const Job& job, const ConversionResult& r) {
    EXPECT_EQ(job.source, jobs[reported.size()].source);
    reported.push_back(r.status);
  };
  callbacks.onTick = [&](const BatchProgress& p) { EXPECT_LE(p.running.size(), workers); };
  failed = RunBatch(jobs, workers, converter, cancel, callbacks);
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
  const std::vector<Status> expected = {ConversionResult::kConverted, ConversionResult::kFailed,
                                        ConversionResult::kConverted, ConversionResult::kConverted,
                                        ConversionResult::kFailed,    ConversionResult::kFailed};
  for (const unsigned workers : {1u, 4u}) {
    std::size_t failed = 0;
    EXPECT_EQ(RunJobs(jobs, workers, nullptr, failed), expected);
    EXPECT_EQ(failed, 3u);
    EXPECT_FALSE(fs::exists(dir / "listed.WAV"));
  }
}

TEST(BatchTest, NothingStartsOnceCancelled) {
  test::ScratchDir dir;
  const std::atomic<bool> cancel{true};
  std::size_t failed = 1;
  EXPECT_EQ(RunJobs({{Fixture("cbr8_mono.mp3"), dir / "a.WAV", {}}, {"missing", "b.WAV", {}}}, 2,
                    &cancel, failed),
            std::vector<Status>(2, ConversionResult::kCancelled));
  EXPECT_EQ(failed, 0u);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace cli
