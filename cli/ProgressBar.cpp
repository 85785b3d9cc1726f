#include "cli/ProgressBar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "cli/TerminalText.h"

namespace cli {
namespace {

constexpr std::size_t kBarWidth = 20;
constexpr std::size_t kDefaultWidth = 80;
// Less room than this for the file name and it is left out.
constexpr std::size_t kMinNameColumns = 8;
// The time left shows once this share of the work is done or this long has passed.
constexpr std::int64_t kEtaMinPercent = 3;
constexpr std::chrono::milliseconds kEtaMinElapsed{1000};
// A guess beyond this says nothing useful.
constexpr std::chrono::milliseconds kEtaMax = std::chrono::hours(100);
constexpr std::int64_t kPermille = 1000;

// "1:23 left", "1:02:03 left"; empty until the guess is worth showing. The work is counted in
// per mille of a file, so that the thresholds hold exactly.
std::string TimeLeft(std::int64_t workDone, std::int64_t workTotal,
                     std::chrono::milliseconds elapsed) {
  if (workTotal <= 0 || workDone <= 0) return {};
  workDone = std::min(workDone, workTotal);
  if (workDone * 100 < kEtaMinPercent * workTotal && elapsed < kEtaMinElapsed) return {};
  const std::int64_t leftMs = elapsed.count() * (workTotal - workDone) / workDone;
  if (leftMs > kEtaMax.count()) return {};
  const std::int64_t seconds = (leftMs + 500) / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld left", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

}  // namespace

std::string FormatProgressLine(const BatchProgress& progress, std::size_t width) {
  // All in per mille of a file. Skipped jobs count as done in the percentage but not as work
  // done for the time left: they took no time, and counting them would make the guess too short.
  std::int64_t running = 0;
  for (const RunningFile& file : progress.running) {
    running += std::clamp<std::int64_t>(file.permille, 0, kPermille);
  }
  const auto total = static_cast<std::int64_t>(progress.total) * kPermille;
  const auto finished = static_cast<std::int64_t>(progress.finished) * kPermille;
  const auto skipped = static_cast<std::int64_t>(progress.skipped) * kPermille;
  const std::int64_t done = total == 0 ? 1 : std::min(finished + running, total);
  const std::int64_t all = std::max<std::int64_t>(total, 1);
  const auto filled = static_cast<std::size_t>(done * static_cast<std::int64_t>(kBarWidth) / all);
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(done * 100 / all));

  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " +
                     percent + "  " + std::to_string(progress.finished) + "/" +
                     std::to_string(progress.total) + " files";
  const std::string timeLeft =
      TimeLeft(finished - skipped + running, total - skipped, progress.elapsed);
  if (!timeLeft.empty()) line += "  " + timeLeft;

  if (!progress.running.empty()) {
    const std::string more = progress.running.size() > 1
                                 ? " +" + std::to_string(progress.running.size() - 1) + " more"
                                 : "";
    const std::size_t used = DisplayColumns(line) + 2 + more.size();
    if (width >= used + kMinNameColumns) {
      return line + "  " +
             CutLeft(Printable(progress.running.front().source.native()), width - used) + more;
    }
  }
  return CutRight(line, width);
}

void ProgressBar::Update(const BatchProgress& progress) {
  // One column less than the terminal: writing the last column makes some terminals wrap.
  const std::string line = FormatProgressLine(progress, Width() - 1);
  if (line == shown_) return;
  Write("\r" + line + "\033[K");
  shown_ = line;
}

void ProgressBar::Clear() {
  if (shown_.empty()) return;
  Write("\r\033[K");
  shown_.clear();
}

void ProgressBar::Write(const std::string& text) const {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a progress line is not worth an error
    done += static_cast<std::size_t>(n);
  }
}

std::size_t ProgressBar::Width() const {
  winsize size{};
  if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
  return kDefaultWidth;
}

}  // namespace cli
