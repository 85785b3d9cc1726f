// The one-line progress display on a terminal: an overall bar and percentage, files done out of
// the total, the time left, and the file being converted, redrawn in place with a carriage
// return.
// Threading: one thread (the batch's calling thread) uses a ProgressBar.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cli/Batch.h"

namespace cli {

// "[#########-----------]  45%  3/10 files  1:23 left  …bum/Song.mp3 +2 more", at most
// `width` display columns. The file is the first busy worker's, shortened from the left to fit,
// and left out when too little room is left for it; the time left shows once enough of the
// batch is done for a fair guess. File names are shown with control characters and bytes that
// are not UTF-8 replaced by '?'.
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
