#include "cli/FileCopier.h"

#include <gtest/gtest.h>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::ReadAll;
using test::ScratchDir;
using test::WriteAll;
namespace fs = std::filesystem;

TEST(FileCopierTest, CopiesUnderTheRulesOfTheOutputs) {
  using S = ConversionResult::Status;
  const std::string content(3 << 20, 'c');
  const struct {
    const char* name;
    ExistingFiles policy;
    const char* before;  // the destination's content beforehand; null: none
    bool cancel;
    S status;
    const char* reason;  // a part of it
    std::string after;   // the destination's content afterwards; empty: none
  } rows[] = {
      {"new", ExistingFiles::kRefuse, nullptr, false, S::kConverted, "", content},
      {"refused", ExistingFiles::kRefuse, "old", false, S::kFailed, "exists (use --force", "old"},
      {"skipped", ExistingFiles::kSkip, "old", false, S::kSkipped, "exists", "old"},
      {"replaced", ExistingFiles::kReplace, "old", false, S::kConverted, "", content},
      {"cancelled", ExistingFiles::kRefuse, nullptr, true, S::kCancelled, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ScratchDir dir;
    WriteAll(dir / "cover.jpg", content);
    const fs::path destination = dir / "out/deep/cover.jpg";
    if (row.before != nullptr) {
      fs::create_directories(destination.parent_path());
      WriteAll(destination, row.before);
    }
    const std::atomic<bool> cancel{row.cancel};
    FileCopier copier;
    copier.SetCancelFlag(&cancel);
    copier.SetExistingFiles(row.policy);
    std::int64_t lastProgress = 0;
    const ConversionResult result =
        copier.Copy(dir / "cover.jpg", destination,
                    [&](std::int64_t done, std::int64_t) { lastProgress = done; });
    EXPECT_EQ(result.status, row.status);
    EXPECT_NE(result.reason.find(row.reason), std::string::npos) << result.reason;
    EXPECT_EQ(fs::exists(destination) ? ReadAll(destination) : "", row.after);
    if (row.status == S::kConverted) {
      EXPECT_EQ(result.bytes, static_cast<std::int64_t>(content.size()));
      EXPECT_EQ(lastProgress, result.bytes);
    }
    EXPECT_TRUE(test::PartialFiles(dir.path()).empty());
  }

  const ScratchDir dir;
  FileCopier copier;
  EXPECT_EQ(copier.Copy(dir / "missing.jpg", dir / "out/missing.jpg").reason,
            "no such file or directory");
  fs::create_directories(dir / "folder");
  EXPECT_EQ(copier.Copy(dir / "folder", dir / "out/folder").reason, "not a regular file");
  EXPECT_FALSE(fs::exists(dir / "out/folder"));
}

}  // namespace
}  // namespace cli
