#include "cli/ProgressBar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace cli {
namespace {

constexpr std::size_t kBarWidth = 20;
constexpr std::size_t kDefaultWidth = 80;

}  // namespace

std::string FormatProgressLine(const BatchProgress& progress, std::size_t width) {
  double done = static_cast<double>(progress.finished);
  for (const int permille : progress.running) done += permille / 1000.0;
  const double fraction =
      progress.total == 0 ? 1.0 : std::clamp(done / static_cast<double>(progress.total), 0.0, 1.0);
  const auto filled = static_cast<std::size_t>(fraction * kBarWidth);
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " +
                     std::to_string(progress.finished) + "/" + std::to_string(progress.total) +
                     " files ";
  for (const int permille : progress.running) line += " " + std::to_string(permille / 10) + "%";
  if (line.size() > width) line.resize(width);
  return line;
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
