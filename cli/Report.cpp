#include "cli/Report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/JsonText.h"
#include "cli/WaveProbe.h"

namespace cli {
namespace {

const char* StatusName(const Job& job, ConversionResult::Status status) {
  switch (status) {
    case ConversionResult::kConverted:
      return job.kind == JobKind::kCopy ? "copied" : "converted";
    case ConversionResult::kSkipped:
      return "skipped";
    case ConversionResult::kCancelled:
      return "cancelled";
    case ConversionResult::kFailed:
      break;
  }
  return "failed";
}

// Seconds with three decimals, in integer arithmetic: a point whatever the locale.
std::string Seconds(std::chrono::microseconds duration) {
  const std::int64_t ms = (std::max<std::int64_t>(0, duration.count()) + 500) / 1000;
  std::string fraction = std::to_string(ms % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(ms / 1000) + "." + fraction;
}

std::string Field(const char* name, const std::string& json) {
  return std::string("\"") + name + "\":" + json;
}

}  // namespace

std::string ReportLine(const Job& job, const ConversionResult& result,
                       std::chrono::microseconds duration, std::int64_t frames,
                       std::int64_t bytes) {
  return "{" + Field("source", JsonString(job.source.native())) + "," +
         Field("output", JsonString(job.destination.native())) + "," +
         Field("status", JsonString(StatusName(job, result.status))) + "," +
         Field("reason", JsonString(result.reason)) + "," + Field("seconds", Seconds(duration)) +
         "," + Field("frames", std::to_string(frames)) + "," +
         Field("bytes", std::to_string(bytes)) + "}";
}

std::unique_ptr<Report> Report::Open(const std::filesystem::path& path, std::string& error) {
  if (path == "-") return std::make_unique<Report>(STDOUT_FILENO, false);
  // Appending: each line lands after the last one even if the file is shared.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot create report " + path.native() + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<Report>(fd, true);
}

Report::~Report() {
  if (owned_) ::close(fd_);
}

void Report::Record(const Job& job, const ConversionResult& result,
                    std::chrono::microseconds duration) {
  if (result.status == ConversionResult::kCancelled) return;
  std::int64_t frames = 0;
  std::int64_t bytes = 0;
  if (result.status == ConversionResult::kConverted) {
    struct stat st {};
    bytes = ::stat(job.destination.c_str(), &st) == 0 ? st.st_size : result.bytes;
    if (job.kind == JobKind::kConvert) frames = WaveFrames(job.destination).value_or(0);
  }
  std::string line = ReportLine(job, result, duration, frames, bytes);
  std::lock_guard lock(mutex_);
  frames_ += frames;
  bytes_ += bytes;
  WriteLineLocked(std::move(line));
}

void Report::Totals(const BatchSummary& s, bool interrupted) {
  const std::size_t files = s.converted + s.copied + s.skipped + s.failed + s.cancelled;
  std::lock_guard lock(mutex_);
  std::string line =
      "{\"totals\":true,\"files\":" + std::to_string(files) +
      ",\"converted\":" + std::to_string(s.converted) + ",\"copied\":" + std::to_string(s.copied) +
      ",\"skipped\":" + std::to_string(s.skipped) + ",\"failed\":" + std::to_string(s.failed) +
      ",\"cancelled\":" + std::to_string(s.cancelled) + ",\"frames\":" + std::to_string(frames_) +
      ",\"bytes\":" + std::to_string(bytes_) + ",\"seconds\":" + Seconds(s.elapsed) +
      ",\"interrupted\":" + (interrupted ? "true" : "false") + "}";
  WriteLineLocked(std::move(line));
}

int Report::WriteError() const {
  std::lock_guard lock(mutex_);
  return writeError_;
}

void Report::WriteLineLocked(std::string line) {
  line += '\n';
  // One write() for the line; a pipe or a full disk may take less, the rest follows at once.
  const char* next = line.data();
  std::size_t left = line.size();
  while (left > 0 && writeError_ == 0) {
    const ssize_t n = ::write(fd_, next, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeError_ = n < 0 ? errno : EIO;
      break;
    }
    next += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace cli
