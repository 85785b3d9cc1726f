#include "cli/Options.h"

#include <gtest/gtest.h>

#include <regex>

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

TEST(OptionsTest, ExistingOutputsAndVersion) {
  using E = ExistingFiles;
  struct Case {
    Args args;
    E existing;
    bool version;
    std::string error;  // a part of the message, empty when none
  };
  const Case kCases[] = {
      {{"a"}, E::kRefuse, false, ""},
      {{"-f", "a"}, E::kReplace, false, ""},
      {{"--force", "a"}, E::kReplace, false, ""},
      {{"--skip-existing", "a"}, E::kSkip, false, ""},
      {{"-qnv", "a"}, E::kSkip, false, ""},
      {{"-f", "-f", "a"}, E::kReplace, false, ""},
      {{"--version"}, E::kRefuse, true, ""},
      {{"--", "-f", "--version"}, E::kRefuse, false, ""},
      {{"-f", "-n", "a"}, E::kRefuse, false, "options '-f' and '-n' cannot be used together"},
      {{"-nf", "a"}, E::kRefuse, false, "options '-f' and '-n'"},
      {{"--skip-existing", "a", "--force"},
       E::kRefuse,
       false,
       "options '--force' and '--skip-existing'"},
      {{"-V"}, E::kRefuse, false, "unknown option '-V'"},
      {{"--version=2"}, E::kRefuse, false, "takes no value"},
  };
  for (const Case& c : kCases) {
    const ParsedCommandLine p = ParseCommandLine(c.args);
    const std::string where = ::testing::PrintToString(c.args);
    if (!c.error.empty()) {
      EXPECT_NE(p.error.find(c.error), std::string::npos) << where << ": " << p.error;
      continue;
    }
    EXPECT_EQ(p.error, "") << where;
    EXPECT_EQ(p.options.existing, c.existing) << where;
    EXPECT_EQ(p.options.version, c.version) << where;
  }
  // The program's name and a dotted version number.
  EXPECT_TRUE(std::regex_match(VersionText(), std::regex("quelbarin-convert [0-9]+(\\.[0-9]+)+\n")))
      << VersionText();
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
