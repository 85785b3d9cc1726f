#include "cli/Summary.h"

#include <gtest/gtest.h>

namespace cli {
namespace {

using std::chrono::milliseconds;

TEST(SummaryTest, Lines) {
  struct Case {
    BatchSummary summary;
    std::optional<std::filesystem::path> outputDir;
    std::string expected;
  };
  const Case kCases[] = {
      {{5, 1, 2, 0, milliseconds(2300)},
       "out",
       "5 files converted into out/ in 2.3 s, 1 failed, 2 skipped"},
      {{1, 0, 0, 0, milliseconds(0)}, std::nullopt, "1 file converted in 0.0 s"},
      {{0, 3, 0, 0, milliseconds(49)}, std::nullopt, "0 files converted in 0.0 s, 3 failed"},
      {{0, 0, 4, 0, milliseconds(50)}, std::nullopt, "0 files converted in 0.1 s, 4 skipped"},
      {{1, 1, 1, 1, milliseconds(10)},
       "a b/c",
       "1 file converted into a b/c/ in 0.0 s, 1 failed, 1 skipped, 1 cancelled"},
      {{2, 0, 0, 0, milliseconds(12345)}, "out/", "2 files converted into out/ in 12.3 s"},
      {{2, 1, 0, 0, milliseconds(100), 3},
       "out",
       "2 files converted into out/ in 0.1 s, 3 copied, 1 failed"},
      // Past a minute, whole seconds; the rounding decides which form.
      {{3, 0, 0, 0, milliseconds(59949)}, std::nullopt, "3 files converted in 59.9 s"},
      {{3, 0, 0, 0, milliseconds(59950)}, std::nullopt, "3 files converted in 1 min 0 s"},
      {{3, 0, 0, 0, milliseconds(65000)}, std::nullopt, "3 files converted in 1 min 5 s"},
      {{3, 0, 0, 0, milliseconds(3725400)}, std::nullopt, "3 files converted in 62 min 5 s"},
  };
  for (const Case& c : kCases) EXPECT_EQ(FormatSummary(c.summary, c.outputDir), c.expected);
}

}  // namespace
}  // namespace cli
