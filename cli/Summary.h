// The line printed at the end of a run: how many files were converted, where to, how long it
// took, and how many were copied, failed, were skipped or were cancelled.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/Batch.h"

namespace cli {

// "5 files converted into out/ in 2.3 s, 3 copied, 1 failed, 2 skipped", without a new line. The
// "into" part only with `outputDir`; the counts after the time only when not zero ("copied": the
// other files of --copy-others). Under a minute the
// time has one decimal, from there on it reads "1 min 5 s".
std::string FormatSummary(const BatchSummary& summary,
                          const std::optional<std::filesystem::path>& outputDir);

}  // namespace cli
