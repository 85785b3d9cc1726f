// Runs the jobs of one call on worker threads, each converting whole files, and hands the
// results back on the calling thread in job order, so that what is printed does not depend on
// the number of workers or on which file finishes first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <vector>

#include "cli/FileConverter.h"
#include "cli/FileCopier.h"
#include "cli/HelperPool.h"
#include "cli/JobList.h"

namespace cli {

// One file being converted.
struct RunningFile {
  std::filesystem::path source;  // the job's source, as listed
  int permille = 0;              // how much of it is done
};

// Where a batch is: finished jobs, the file each busy worker converts and how long it has run.
struct BatchProgress {
  std::size_t total = 0;
  std::size_t finished = 0;              // jobs done, whatever their result
  std::size_t skipped = 0;               // of those, the ones skipped (done without any work)
  std::vector<RunningFile> running;      // one entry per busy worker, by worker
  std::chrono::milliseconds elapsed{0};  // since the batch started
};

// How a batch ended: each job counts in exactly one of the five.
struct BatchSummary {
  std::size_t converted = 0;
  std::size_t failed = 0;  // including the jobs with a listing error
  std::size_t skipped = 0;
  std::size_t cancelled = 0;
  std::chrono::milliseconds elapsed{0};  // from the start to the last result
  std::size_t copied = 0;                // the copy jobs that were done (--copy-others)
};

struct BatchCallbacks {
  // Each job's result, in job order, on the calling thread.
  std::function<void(const Job&, const ConversionResult&)> onResult;
  // Each job's result as soon as it ends, with the time it took, on the worker thread that ran
  // it (so on several threads at once): for records that must not wait for earlier jobs.
  std::function<void(const Job&, const ConversionResult&, std::chrono::microseconds)> onFinished;
  // About every `tickInterval` while the batch runs, on the calling thread.
  std::function<void(const BatchProgress&)> onTick;
  std::chrono::milliseconds tickInterval{100};
};

// Converts `jobs` with `workers` threads (at least one; without a pool at most one per job). Jobs
// with a listing error are reported as failed without being converted. Once `cancel` is true no job
// starts and the running ones stop; the jobs that did not finish are reported as cancelled. A job
// whose result is kSkipped counts as skipped. Returns the counts of each result. With a `pool` (the
// one `converter` uses), there are `workers` threads whatever the number of jobs, and the threads
// that have no job left help convert the running ones; the pool is closed when the batch ends.
// Copy jobs go to `copier` (failed without one) and count as copied when done.
BatchSummary RunBatch(const std::vector<Job>& jobs, unsigned workers,
                      const FileConverter& converter, const std::atomic<bool>* cancel,
                      const BatchCallbacks& callbacks, HelperPool* pool = nullptr,
                      const FileCopier* copier = nullptr);

}  // namespace cli
