#include "cli/ProgressBar.h"

#include <gtest/gtest.h>

namespace cli {
namespace {

TEST(ProgressBarTest, BarCountsFinishedFilesAndTheRunningOnesShare) {
  EXPECT_EQ(FormatProgressLine({4, 0, {}}, 80), "[--------------------] 0/4 files ");
  // 2 done and two halves: 3 of 4, three quarters of the bar.
  EXPECT_EQ(FormatProgressLine({4, 2, {500, 500}}, 80),
            "[###############-----] 2/4 files  50% 50%");
  EXPECT_EQ(FormatProgressLine({3, 3, {}}, 80), "[####################] 3/3 files ");
  EXPECT_EQ(FormatProgressLine({1, 0, {999}}, 80), "[###################-] 0/1 files  99%");
}

TEST(ProgressBarTest, LineIsCutToTheWidth) {
  EXPECT_EQ(FormatProgressLine({4, 1, {250}}, 10), "[######---");
  EXPECT_EQ(FormatProgressLine({4, 1, {250}}, 0), "");
}

}  // namespace
}  // namespace cli
