// The one-line progress display on a terminal: files done out of the total, an overall bar and
// the percentage of each file being converted, redrawn in place with a carriage return.
#pragma once

#include <cstddef>
#include <string>

#include "cli/Batch.h"

namespace cli {

// "[#####---------------] 3/10 files  45% 12%", cut to `width` characters.
std::string FormatProgressLine(const BatchProgress& progress, std::size_t width);

class ProgressBar {
 public:
  explicit ProgressBar(int fd) : fd_(fd) {}
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws the line when it changed.
  void Update(const BatchProgress& progress);
  // Erases the line; the next Update draws it again. Call before printing anything else.
  void Clear();

 private:
  void Write(const std::string& text) const;
  std::size_t Width() const;

  int fd_;
  std::string shown_;
};

}  // namespace cli
