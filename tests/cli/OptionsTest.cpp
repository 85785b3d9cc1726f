#include "cli/Options.h"

#include <gtest/gtest.h>

namespace cli {
namespace {

using Args = std::vector<std::string>;
using Paths = std::vector<std::filesystem::path>;

TEST(OptionsTest, EverySpellingOfTheOptions) {
  for (const Args& args :
       {Args{"-o", "out", "-j", "3", "-q", "-v", "a"}, Args{"-qvoout", "-j3", "a"},
        Args{"--output", "out", "--jobs", "3", "--quiet", "--verbose", "a"},
        Args{"--output=out", "-vqj", "3", "--jobs=3", "a"}}) {
    const ParsedCommandLine p = ParseCommandLine(args);
    EXPECT_EQ(p.error, "") << ::testing::PrintToString(args);
    EXPECT_EQ(p.options.outputDir.value_or("none"), "out");
    EXPECT_EQ(p.options.jobs, 3u);
    EXPECT_TRUE(p.options.quiet && p.options.verbose && !p.options.help);
    EXPECT_EQ(p.options.inputs, Paths{"a"});
  }
  // After "--" everything is a file, and so is a lone "-".
  const Options o = ParseCommandLine({"-", "--", "-v", "--jobs=2", "--"}).options;
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.inputs, (Paths{"-", "-v", "--jobs=2", "--"}));
}

TEST(OptionsTest, UsageErrors) {
  for (const Args& args : {Args{"-x", "a"}, Args{"--frobnicate", "a"}, Args{"-vx", "a"},
                           Args{"a", "-o"}, Args{"-o", "", "a"}, Args{"-j", "0", "a"},
                           Args{"-j", "-2", "a"}, Args{"-j4x", "a"}, Args{"--quiet=yes", "a"}}) {
    EXPECT_NE(ParseCommandLine(args).error, "") << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace cli
