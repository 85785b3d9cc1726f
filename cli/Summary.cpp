#include "cli/Summary.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace cli {
namespace {

constexpr std::int64_t kTenthsPerMinute = 600;

// Integer arithmetic throughout: the decimal point is a point whatever the locale.
std::string FormatDuration(std::chrono::milliseconds duration) {
  const std::int64_t ms = std::max<std::int64_t>(0, duration.count());
  // Round to what is shown before choosing the form, so that 59.97 s reads "1 min 0 s".
  const std::int64_t tenths = (ms + 50) / 100;
  if (tenths < kTenthsPerMinute) {
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
  }
  const std::int64_t seconds = (ms + 500) / 1000;
  return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
}

std::string Folder(const std::filesystem::path& dir) {
  std::string text = dir.native();
  if (!text.ends_with('/')) text += '/';
  return text;
}

}  // namespace

std::string FormatSummary(const BatchSummary& summary,
                          const std::optional<std::filesystem::path>& outputDir) {
  std::string line = std::to_string(summary.converted) +
                     (summary.converted == 1 ? " file converted" : " files converted");
  if (outputDir) line += " into " + Folder(*outputDir);
  line += " in " + FormatDuration(summary.elapsed);
  if (summary.copied != 0) line += ", " + std::to_string(summary.copied) + " copied";
  if (summary.failed != 0) line += ", " + std::to_string(summary.failed) + " failed";
  if (summary.skipped != 0) line += ", " + std::to_string(summary.skipped) + " skipped";
  if (summary.cancelled != 0) line += ", " + std::to_string(summary.cancelled) + " cancelled";
  return line;
}

}  // namespace cli
