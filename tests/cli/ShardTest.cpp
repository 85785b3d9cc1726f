#include "cli/Shard.h"

#include <gtest/gtest.h>

#include <map>

#include "cli/FileList.h"
#include "cli/NumberText.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

TEST(NumberTextTest, OneSignDigitsAndNothingElse) {
  const struct {
    const char* text;
    std::optional<std::int64_t> integer;
    std::optional<double> decimal;
  } rows[] = {
      {"12", 12, 12.0},
      {"+12", 12, 12.0},
      {"-3", -3, -3.0},
      {"0", 0, 0.0},
      {"-16.5", std::nullopt, -16.5},
      {".5", std::nullopt, 0.5},
      {"5.", std::nullopt, 5.0},
      {"+-5", std::nullopt, std::nullopt},
      {"-+5", std::nullopt, std::nullopt},
      {"--5", std::nullopt, std::nullopt},
      {"++5", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"+", std::nullopt, std::nullopt},
      {"-.", std::nullopt, std::nullopt},
      {"5x", std::nullopt, std::nullopt},
      {" 5", std::nullopt, std::nullopt},
      {"5 ", std::nullopt, std::nullopt},
      {"1.2.3", std::nullopt, std::nullopt},
      {"1e3", std::nullopt, std::nullopt},
      {"0x10", std::nullopt, std::nullopt},
      {"inf", std::nullopt, std::nullopt},
      {"nan", std::nullopt, std::nullopt},
      {"9223372036854775807", INT64_MAX, 9223372036854775807.0},
      {"-9223372036854775808", INT64_MIN, -9223372036854775808.0},
      {"9223372036854775808", std::nullopt, 9223372036854775808.0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseInteger(row.text), row.integer) << '"' << row.text << '"';
    EXPECT_EQ(ParseDecimal(row.text), row.decimal) << '"' << row.text << '"';
  }
}

TEST(ShardTest, ParsesKOfN) {
  const struct {
    const char* text;
    bool valid;
    std::uint32_t index, count;
  } rows[] = {
      {"1/1", true, 1, 1},    {"3/4", true, 3, 4},    {"+2/+3", true, 2, 3},
      {"4/4", true, 4, 4},    {"0/4", false, 0, 0},   {"5/4", false, 0, 0},
      {"1/0", false, 0, 0},   {"-1/4", false, 0, 0},  {"1/4x", false, 0, 0},
      {"1 /4", false, 0, 0},  {"1/", false, 0, 0},    {"/4", false, 0, 0},
      {"14", false, 0, 0},    {"1/2/3", false, 0, 0}, {"1/4294967296", false, 0, 0},
      {"+-1/4", false, 0, 0},
  };
  for (const auto& row : rows) {
    const std::optional<ShardSpec> shard = ParseShard(row.text);
    ASSERT_EQ(shard.has_value(), row.valid) << row.text;
    if (shard) {
      EXPECT_EQ(std::pair(shard->index, shard->count), std::pair(row.index, row.count));
    }
  }
}

TEST(ShardTest, TheHashIsFnv1a64AndEverySourceLandsInExactlyOneShard) {
  // Published FNV-1a 64 values: the hash is part of the command line's promise.
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ULL);
  EXPECT_NE(Fnv1a64("a/b.mp3"), Fnv1a64("a/b.mp3\xff"));

  std::vector<Job> jobs;
  for (int i = 0; i < 200; ++i) {
    const fs::path key = "disc" + std::to_string(i % 7) + "/track " + std::to_string(i) + ".mp3";
    jobs.push_back({"/src" / key, "/out" / key, {}, JobKind::kConvert, key});
  }
  constexpr std::uint32_t kShards = 4;
  std::map<fs::path, int> taken;
  for (std::uint32_t k = 1; k <= kShards; ++k) {
    const std::vector<Job> share = TakeShard(jobs, {k, kShards});
    EXPECT_GT(share.size(), 20u) << "shard " << k;  // a fair hash: about 50 each
    for (const Job& job : share) {
      ++taken[job.source];
      EXPECT_EQ(Fnv1a64(job.shardKey.native()) % kShards, k - 1);
    }
  }
  EXPECT_EQ(taken.size(), jobs.size());
  for (const auto& [source, times] : taken) EXPECT_EQ(times, 1) << source;
  EXPECT_EQ(TakeShard(jobs, {1, 1}).size(), jobs.size());
}

TEST(FileListTest, SplitsAtTheSeparatorAndKeepsEveryOtherByte) {
  using Paths = std::vector<fs::path>;
  const struct {
    std::string text;
    char separator;
    Paths expected;
  } rows[] = {
      {"a.mp3\nb/c.mp3\n", '\n', {"a.mp3", "b/c.mp3"}},
      {"a.mp3\nb.mp3", '\n', {"a.mp3", "b.mp3"}},
      {"\n\na.mp3\n\n", '\n', {"a.mp3"}},
      {" lead and trail \r\n", '\n', {" lead and trail \r"}},
      {std::string("x\ny.mp3\0z\xff.mp3\0", 16), '\0', {"x\ny.mp3", "z\xff.mp3"}},
      {std::string("a\0\0b", 4), '\0', {"a", "b"}},
      {"", '\n', {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SplitFileList(row.text, row.separator), row.expected)
        << ::testing::PrintToString(row.text);
  }
  EXPECT_NE(ReadFileList("/nonexistent/list", '\n').error.find("cannot read /nonexistent/list"),
            std::string::npos);
}

}  // namespace
}  // namespace cli
