// Runs the jobs of one call on worker threads, each converting whole files, and hands the
// results back on the calling thread in job order, so that what is printed does not depend on
// the number of workers or on which file finishes first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

#include "cli/FileConverter.h"
#include "cli/JobList.h"

namespace cli {

// Where a batch is: finished jobs and the per-mille done of each file being converted.
struct BatchProgress {
  std::size_t total = 0;
  std::size_t finished = 0;
  std::vector<int> running;  // per mille, one entry per busy worker, by worker
};

struct BatchCallbacks {
  // Each job's result, in job order, on the calling thread.
  std::function<void(const Job&, const ConversionResult&)> onResult;
  // About every `tickInterval` while the batch runs, on the calling thread.
  std::function<void(const BatchProgress&)> onTick;
  std::chrono::milliseconds tickInterval{100};
};

// Converts `jobs` with `workers` threads (at least one, at most one per job). Jobs with a listing
// error are reported as failed without being converted. Once `cancel` is true no job starts and
// the running ones stop; the jobs that did not finish are reported as cancelled.
// Returns the number of jobs that failed.
std::size_t RunBatch(const std::vector<Job>& jobs, unsigned workers, const FileConverter& converter,
                     const std::atomic<bool>* cancel, const BatchCallbacks& callbacks);

}  // namespace cli
