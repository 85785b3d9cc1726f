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

TEST(OptionsTest, OutputSettings) {
  struct Row {
    Args args;
    OutputDepth depth;
    NormalizeSpec::Mode mode;
    double target;
    bool dither, tags;
    std::string error;
  };
  const Row rows[] = {
      {{"a"}, OutputDepth::k16, NormalizeSpec::kNone, -23, true, true, ""},
      {{"--bits", "24", "a"}, OutputDepth::k24, NormalizeSpec::kNone, -23, true, true, ""},
      {{"--bits=32f", "--no-tags", "a"},
       OutputDepth::k32Float,
       NormalizeSpec::kNone,
       -23,
       true,
       false,
       ""},
      {{"--normalize", "peak", "--no-dither", "a"},
       OutputDepth::k16,
       NormalizeSpec::kPeak,
       -23,
       false,
       true,
       ""},
      {{"--normalize=loudness", "a"},
       OutputDepth::k16,
       NormalizeSpec::kLoudness,
       -23,
       true,
       true,
       ""},
      {{"--normalize", "loudness=-14", "--bits", "32", "a"},
       OutputDepth::k32,
       NormalizeSpec::kLoudness,
       -14,
       true,
       true,
       ""},
      {{"--bits", "20", "a"},
       OutputDepth::k16,
       NormalizeSpec::kNone,
       -23,
       true,
       true,
       "invalid bit depth '20' (16, 24, 32 or 32f)"},
      {{"--normalize", "rms", "a"},
       OutputDepth::k16,
       NormalizeSpec::kNone,
       -23,
       true,
       true,
       "invalid normalization 'rms' (peak, loudness or loudness=LUFS)"},
      {{"a", "--bits"},
       OutputDepth::k16,
       NormalizeSpec::kNone,
       -23,
       true,
       true,
       "option '--bits' needs a value"},
      {{"--no-tags=1", "a"},
       OutputDepth::k16,
       NormalizeSpec::kNone,
       -23,
       true,
       true,
       "option '--no-tags' takes no value"},
  };
  for (const Row& row : rows) {
    const ParsedCommandLine p = ParseCommandLine(row.args);
    SCOPED_TRACE(::testing::PrintToString(row.args));
    EXPECT_EQ(p.error, row.error);
    if (!row.error.empty()) continue;
    EXPECT_EQ(p.options.output.depth, row.depth);
    EXPECT_EQ(p.options.output.normalize.mode, row.mode);
    EXPECT_DOUBLE_EQ(p.options.output.normalize.targetLufs, row.target);
    EXPECT_EQ(p.options.output.dither, row.dither);
    EXPECT_EQ(p.options.output.tags, row.tags);
  }
}

TEST(OptionsTest, UsageErrors) {
  for (const Args& args : {Args{"-x", "a"}, Args{"--frobnicate", "a"}, Args{"-vx", "a"},
                           Args{"a", "-o"}, Args{"-o", "", "a"}, Args{"-j", "0", "a"},
                           Args{"-j", "-2", "a"}, Args{"-j4x", "a"}, Args{"--quiet=yes", "a"}}) {
    EXPECT_NE(ParseCommandLine(args).error, "") << ::testing::PrintToString(args);
  }
}

TEST(OptionsTest, NumbersAreReadStrictlyAndTheScaleOutOptions) {
  struct Row {
    Args args;
    std::string error;  // a part of the message, empty when none
    std::string check;  // what the parsed options must show, see below
  };
  const Row rows[] = {
      {{"-j", "+2", "a"}, "", "jobs 2"},
      {{"-j", "+-2", "a"}, "invalid number of jobs '+-2'", ""},
      {{"-j", "2x", "a"}, "invalid number of jobs", ""},
      {{"-j", "1025", "a"}, "invalid number of jobs", ""},
      {{"--normalize", "loudness=+-5", "a"}, "invalid normalization 'loudness=+-5'", ""},
      {{"--normalize", "loudness=-+5", "a"}, "invalid normalization", ""},
      {{"--normalize", "loudness=-5 ", "a"}, "invalid normalization", ""},
      {{"--normalize", "loudness=-5", "a"}, "", "target -5"},
      {{"--normalize", "loudness=+0", "a"}, "", "target 0"},
      {{"--shard", "2/4", "a"}, "", "shard 2/4"},
      {{"--shard=4/4", "a"}, "", "shard 4/4"},
      {{"--shard", "5/4", "a"}, "invalid shard '5/4' (K/N with 1 <= K <= N)", ""},
      {{"--shard", "+-1/4", "a"}, "invalid shard", ""},
      {{"--files-from", "-", "-0"}, "", "list - null"},
      {{"--null", "--files-from=l", "-qn"}, "", "list l null"},
      {{"--files-from", "l"}, "", "list l"},
      {{"-0", "a"}, "option '-0' needs --files-from", ""},
      {{"--files-from="}, "option '--files-from' needs a file", ""},
      {{"--files-from", "l", "--relative-to", "src"}, "option '--relative-to' needs -o", ""},
      {{"--files-from", "l", "--relative-to", "src", "-o", "out"}, "", "list l below src"},
      {{"--copy-others", "a"}, "option '--copy-others' needs -o", ""},
      {{"--copy-others", "-oout", "a"}, "", "copy"},
      {{"--report", "-", "a"}, "", "report -"},
      {{"--report=r.jsonl", "a"}, "", "report r.jsonl"},
      {{"a", "--report"}, "option '--report' needs a value", ""},
  };
  for (const Row& row : rows) {
    const ParsedCommandLine p = ParseCommandLine(row.args);
    const std::string where = ::testing::PrintToString(row.args);
    if (!row.error.empty()) {
      EXPECT_NE(p.error.find(row.error), std::string::npos) << where << ": " << p.error;
      continue;
    }
    ASSERT_EQ(p.error, "") << where;
    const Options& o = p.options;
    std::string shown;
    if (o.jobs != 0) shown += "jobs " + std::to_string(o.jobs);
    if (o.output.normalize.mode == NormalizeSpec::kLoudness) {
      shown += "target " + std::to_string(static_cast<int>(o.output.normalize.targetLufs));
    }
    if (o.shard)
      shown += "shard " + std::to_string(o.shard->index) + "/" + std::to_string(o.shard->count);
    if (o.filesFrom) shown += "list " + o.filesFrom->native() + (o.nullSeparated ? " null" : "");
    if (o.relativeTo) shown += " below " + o.relativeTo->native();
    if (o.copyOthers) shown += "copy";
    if (o.report) shown += "report " + o.report->native();
    EXPECT_EQ(shown, row.check) << where;
  }
}

}  // namespace
}  // namespace cli
