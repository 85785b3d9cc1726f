#include "cli/Report.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <thread>

#include "cli/JsonText.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/cli/JsonLines.h"

namespace cli {
namespace {

using test::ReadAll;
using test::ScratchDir;
namespace fs = std::filesystem;

TEST(JsonTextTest, EscapesWhatJsonNeedsAndBytesThatAreNotUtf8) {
  const std::pair<std::string, std::string> rows[] = {
      {"plain/Song 1.mp3", "\"plain/Song 1.mp3\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {"a\nb\tc\rd\be\ff", "\"a\\nb\\tc\\rd\\be\\ff\""},
      {std::string("nul\0us\x1f", 7), "\"nul\\u0000us\\u001f\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5\""},
      {"caf\xe9.mp3", "\"caf\\udce9.mp3\""},          // Latin-1
      {"\xc0\x80", "\"\\udcc0\\udc80\""},             // overlong NUL
      {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},  // an encoded surrogate
      {"\xe2\x82", "\"\\udce2\\udc82\""},             // cut short
      {"\xe2\x82"
       "A",
       "\"\\udce2\\udc82A\""},                                   // cut short, then ASCII
      {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},  // past U+10FFFF
      {"\x7f", "\"\x7f\""},
  };
  for (const auto& [bytes, json] : rows) {
    EXPECT_EQ(JsonString(bytes), json) << ::testing::PrintToString(bytes);
    // And back, through an independent reader.
    const auto object = test::JsonLineReader("{\"k\":" + JsonString(bytes) + "}").Object();
    ASSERT_TRUE(object.has_value()) << ::testing::PrintToString(bytes);
    EXPECT_EQ(object->at("k"), bytes);
  }
}

TEST(ReportTest, LinesFromManyThreadsStayWholeAndTheTotalsCloseTheReport) {
  const ScratchDir dir;
  const fs::path path = dir / "report.jsonl";
  std::string error;
  std::unique_ptr<Report> report = Report::Open(path, error);
  ASSERT_TRUE(report) << error;
  // Long names make lines larger than a pipe's atomic write, so interleaving would show.
  const std::string longName(5000, 'x');
  constexpr int kThreads = 8, kLines = 100;
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i) {
          const Job job{dir / (longName + std::to_string(t) + "-" + std::to_string(i) + ".mp3"),
                        dir / "missing.WAV"};
          const ConversionResult result(
              i % 2 ? ConversionResult::kFailed : ConversionResult::kSkipped,
              "why \"" + std::to_string(i) + "\"");
          report->Record(job, result, std::chrono::microseconds(1234567));
          report->Record(job, ConversionResult(ConversionResult::kCancelled), {});
        }
      });
    }
  }
  BatchSummary summary;
  summary.failed = summary.skipped = kThreads * kLines / 2;
  summary.elapsed = std::chrono::milliseconds(61001);
  report->Totals(summary, false);
  EXPECT_EQ(report->WriteError(), 0);
  report.reset();

  const auto lines = test::ParseJsonLines(ReadAll(path));
  ASSERT_TRUE(lines.has_value());
  ASSERT_EQ(lines->size(), kThreads * kLines + 1u);  // no line for a cancelled job
  std::set<std::string> sources;
  for (std::size_t i = 0; i + 1 < lines->size(); ++i) {
    const test::JsonObject& line = (*lines)[i];
    sources.insert(line.at("source"));
    EXPECT_EQ(line.at("seconds"), "1.235");
    EXPECT_TRUE(line.at("status") == "failed" || line.at("status") == "skipped");
    EXPECT_EQ(line.at("reason").substr(0, 5), "why \"");
    EXPECT_EQ(line.at("frames"), "0");
  }
  EXPECT_EQ(sources.size(), kThreads * kLines + 0u);
  const test::JsonObject& totals = lines->back();
  EXPECT_EQ(totals.at("totals"), "true");
  EXPECT_EQ(totals.at("files"), std::to_string(kThreads * kLines));
  EXPECT_EQ(totals.at("failed"), std::to_string(kThreads * kLines / 2));
  EXPECT_EQ(totals.at("seconds"), "61.001");
  EXPECT_EQ(totals.at("interrupted"), "false");
}

TEST(ReportTest, ADoneJobReportsItsOutputsFramesAndSize) {
  const ScratchDir dir;
  std::string error;
  std::unique_ptr<Report> report = Report::Open(dir / "r.jsonl", error);
  ASSERT_TRUE(report);
  const fs::path wav = dir / "out.WAV";
  fs::copy_file(test::Fixture("pcm.wav"), wav);
  const fs::path copy = dir / "cover.jpg";
  test::WriteAll(copy, "not really a picture");
  ConversionResult done(ConversionResult::kConverted);
  report->Record({dir / "in.mp3", wav}, done, {});
  report->Record({dir / "src/cover.jpg", copy, {}, JobKind::kCopy}, done, {});
  report->Totals({1, 0, 0, 0, {}, 1}, true);
  report.reset();
  const auto lines = test::ParseJsonLines(ReadAll(dir / "r.jsonl"));
  ASSERT_TRUE(lines && lines->size() == 3);
  const std::int64_t wavFrames = test::PcmDataBytes(wav) / 2;  // mono, 16-bit
  EXPECT_EQ((*lines)[0].at("status"), "converted");
  EXPECT_EQ((*lines)[0].at("frames"), std::to_string(wavFrames));
  EXPECT_EQ((*lines)[0].at("bytes"), std::to_string(fs::file_size(wav)));
  EXPECT_EQ((*lines)[1].at("status"), "copied");
  EXPECT_EQ((*lines)[1].at("bytes"), "20");
  EXPECT_EQ((*lines)[2].at("bytes"), std::to_string(fs::file_size(wav) + 20));
  EXPECT_EQ((*lines)[2].at("interrupted"), "true");
}

}  // namespace
}  // namespace cli
