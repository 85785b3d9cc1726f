// The machine-readable record of a run (--report): one JSON object a line per source as it ends,
// then a line with the totals. Each line goes out in one write() as soon as its file ends, so a
// report cut short by a kill is valid up to its last line; JSON strings are written by
// JsonString (file names that are not UTF-8 included).
//
//   {"source":"in/a.mp3","output":"out/a.WAV","status":"converted","reason":"",
//    "seconds":0.412,"frames":10584000,"bytes":42336044}
//   {"totals":true,"files":2,"converted":1,"copied":0,"skipped":1,"failed":0,"cancelled":0,
//    "frames":10584000,"bytes":42336044,"seconds":0.415,"interrupted":false}
//
// status: converted, copied (--copy-others), skipped (-n) or failed; a job stopped by an
// interrupt gets no line (it counts as cancelled in the totals). frames: the sample frames in
// the output that was written (0 for copies and files not written); bytes: the size of the file
// written (0 when none).
// Threading: Record from any thread (one line at a time under a lock); Totals after the batch.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "cli/Batch.h"

namespace cli {

// The line for one job, without the new line.
std::string ReportLine(const Job& job, const ConversionResult& result,
                       std::chrono::microseconds duration, std::int64_t frames, std::int64_t bytes);

class Report {
 public:
  // Writes to `fd`, closing it at the end when `owned`.
  Report(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  // The report into `path` (created or emptied), or standard output for "-"; null with `error`
  // set when it cannot be created.
  static std::unique_ptr<Report> Open(const std::filesystem::path& path, std::string& error);

  // One job's line; nothing for a cancelled job. Reads the output's header and size when the job
  // was done.
  void Record(const Job& job, const ConversionResult& result, std::chrono::microseconds duration);
  void Totals(const BatchSummary& summary, bool interrupted);

  // The errno of the first write that failed, else 0.
  int WriteError() const;

 private:
  void WriteLineLocked(std::string line);

  const int fd_;
  const bool owned_;
  mutable std::mutex mutex_;
  std::int64_t frames_ = 0;  // under mutex_
  std::int64_t bytes_ = 0;   // under mutex_
  int writeError_ = 0;       // under mutex_
};

}  // namespace cli
