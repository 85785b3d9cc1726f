#include "cli/Batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::Fixture;
using test::ScratchDir;
namespace fs = std::filesystem;

struct Reported {
  fs::path source;
  ConversionResult::Status status;
};

std::vector<Reported> RunJobs(const std::vector<Job>& jobs, unsigned workers,
                              const std::atomic<bool>* cancel, std::size_t* failed = nullptr) {
  FileConverter converter;
  converter.SetCancelFlag(cancel);
  std::vector<Reported> reported;
  BatchCallbacks callbacks;
  callbacks.onResult = [&](const Job& job, const ConversionResult& r) {
    reported.push_back({job.source, r.status});
  };
  callbacks.onTick = [&](const BatchProgress& p) {
    EXPECT_EQ(p.total, jobs.size());
    EXPECT_LE(p.running.size(), workers);
  };
  const std::size_t n = RunBatch(jobs, workers, converter, cancel, callbacks);
  if (failed != nullptr) *failed = n;
  return reported;
}

TEST(BatchTest, ResultsComeInJobOrderWhateverTheNumberOfWorkers) {
  ScratchDir dir;
  std::vector<Job> jobs;
  // The long file first, so that with several workers the short ones finish before it.
  for (const char* name : {"id3v2_big.mp3", "cbr44_joint.mp3", "random.mp3", "cbr8_mono.mp3",
                           "vbr16_mono.mp3", "text.mp3", "crc44.mp3"}) {
    jobs.push_back({Fixture(name), dir / (std::string(name) + ".WAV"), {}});
  }
  jobs.push_back({Fixture("cbr8_mono.mp3"), dir / "skipped.WAV", "listed as failed"});
  for (const unsigned workers : {1u, 4u}) {
    std::size_t failed = 0;
    const std::vector<Reported> reported = RunJobs(jobs, workers, nullptr, &failed);
    ASSERT_EQ(reported.size(), jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(reported[i].source, jobs[i].source);
      const bool bad = i == 2 || i == 5 || i == 7;
      EXPECT_EQ(reported[i].status, bad ? ConversionResult::kFailed : ConversionResult::kConverted)
          << jobs[i].source;
    }
    EXPECT_EQ(failed, 3u);
    EXPECT_FALSE(fs::exists(dir / "skipped.WAV"));
  }
}

TEST(BatchTest, NothingStartsOnceCancelled) {
  ScratchDir dir;
  const std::vector<Job> jobs = {{Fixture("cbr8_mono.mp3"), dir / "a.WAV", {}},
                                 {Fixture("random.mp3"), dir / "b.WAV", {}}};
  const std::atomic<bool> cancel{true};
  std::size_t failed = 1;
  const std::vector<Reported> reported = RunJobs(jobs, 2, &cancel, &failed);
  ASSERT_EQ(reported.size(), 2u);
  for (const Reported& r : reported) {
    EXPECT_EQ(r.status, ConversionResult::kCancelled);
  }
  EXPECT_EQ(failed, 0u);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace cli
