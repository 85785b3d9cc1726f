#include "cli/Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cli {
namespace {

using Args = std::vector<std::string>;

Options Parse(const Args& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  EXPECT_EQ(parsed.error, "") << "for " << ::testing::PrintToString(args);
  return parsed.options;
}

TEST(OptionsTest, ValuesInEveryAcceptedSpelling) {
  for (const Args& args :
       {Args{"-o", "out", "-j", "3", "a"}, Args{"-oout", "-j3", "a"},
        Args{"--output", "out", "--jobs", "3", "a"}, Args{"--output=out", "--jobs=3", "a"}}) {
    const Options o = Parse(args);
    ASSERT_TRUE(o.outputDir.has_value());
    EXPECT_EQ(*o.outputDir, "out");
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_EQ(o.inputs, std::vector<std::filesystem::path>{"a"});
  }
}

TEST(OptionsTest, BundledFlagsAndDefaults) {
  const Options defaults = Parse({"x.mp3"});
  EXPECT_FALSE(defaults.outputDir.has_value());
  EXPECT_EQ(defaults.jobs, 0u);
  EXPECT_FALSE(defaults.quiet || defaults.verbose || defaults.help);

  const Options o = Parse({"-qvj2", "x.mp3"});
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.jobs, 2u);
  EXPECT_TRUE(Parse({"--help"}).help);
}

TEST(OptionsTest, DoubleDashMakesEverythingAfterItAFile) {
  const Options o = Parse({"a", "--", "-v", "--jobs=2", "--", "-"});
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.jobs, 0u);
  EXPECT_EQ(o.inputs, (std::vector<std::filesystem::path>{"a", "-v", "--jobs=2", "--", "-"}));
  // A lone "-" is a file name as well.
  EXPECT_EQ(Parse({"-"}).inputs, std::vector<std::filesystem::path>{"-"});
}

TEST(OptionsTest, UsageErrors) {
  for (const Args& args :
       {Args{"-x", "a"}, Args{"--frobnicate", "a"}, Args{"-vx", "a"}, Args{"a", "-o"},
        Args{"-o", "", "a"}, Args{"-j", "0", "a"}, Args{"-j", "-2", "a"}, Args{"-j", "two", "a"},
        Args{"-j4x", "a"}, Args{"--jobs"}, Args{"--quiet=yes", "a"}, Args{"-j", "99999", "a"}}) {
    EXPECT_NE(ParseCommandLine(args).error, "") << ::testing::PrintToString(args);
  }
  EXPECT_NE(ParseCommandLine({"-x"}).error.find("'-x'"), std::string::npos);
}

}  // namespace
}  // namespace cli
