#include "cli/FileConverter.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <string>
#include <vector>

#include "cli/LibraryMessages.h"
#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::Fixture;
using test::IsCompletePcmWav;
using test::PartialFiles;
using test::ReadAll;
using test::ScratchDir;
using test::TmpfsMount;
using test::WriteAll;
namespace fs = std::filesystem;

class FileConverterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallLibraryMessageReporter(); }

  // Converts and expects a failure whose reason contains `reason`, with nothing left behind.
  void ExpectFailure(const fs::path& source, const fs::path& destination,
                     const std::string& reason) {
    const ConversionResult r = converter.Convert(source, destination);
    EXPECT_EQ(r.status, ConversionResult::kFailed) << source;
    EXPECT_NE(r.reason.find(reason), std::string::npos) << r.reason;
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
  }

  ScratchDir dir;
  FileConverter converter;
};

TEST_F(FileConverterTest, ConvertsIntoACompleteWaveAndReportsProgress) {
  std::vector<std::int64_t> positions;
  std::int64_t length = 0;
  const ConversionResult r = converter.Convert(
      Fixture("cbr44_joint.mp3"), dir / "new/folder/out.WAV", [&](std::int64_t p, std::int64_t l) {
        positions.push_back(p);
        length = l;
      });
  ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
  EXPECT_TRUE(IsCompletePcmWav(dir / "new/folder/out.WAV"));
  EXPECT_EQ(test::PcmDataBytes(dir / "new/folder/out.WAV"), r.bytes);
  EXPECT_TRUE(PartialFiles(dir.path()).empty());
  ASSERT_GT(positions.size(), 2u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_NEAR(static_cast<double>(positions.back()), static_cast<double>(length), 100.0);
}

TEST_F(FileConverterTest, WaveSourcesConvertToo) {
  const ConversionResult r = converter.Convert(Fixture("mp3_in_wav.wav"), dir / "x.WAV");
  ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
  EXPECT_TRUE(IsCompletePcmWav(dir / "x.WAV"));
}

TEST_F(FileConverterTest, SourcesThatCannotBeConverted) {
  ExpectFailure(dir / "missing.mp3", dir / "a.WAV", "No such file or directory");
  ExpectFailure(dir.path(), dir / "a.WAV", "Is a directory");
  for (const char* notAudio : {"random.mp3", "text.mp3", "empty.mp3"}) {
    ExpectFailure(Fixture(notAudio), dir / "a.WAV", "not an audio file");
  }
  EXPECT_FALSE(fs::exists(dir / "a.WAV"));
  if (::geteuid() != 0) {  // root reads everything
    WriteAll(dir / "locked.mp3", ReadAll(Fixture("cbr44_joint.mp3")));
    fs::permissions(dir / "locked.mp3", fs::perms::none);
    ExpectFailure(dir / "locked.mp3", dir / "a.WAV", "Permission denied");
  }
}

TEST_F(FileConverterTest, NeverWritesOverItsSource) {
  const std::string original = ReadAll(Fixture("pcm.wav"));
  WriteAll(dir / "Song.WAV", original);
  ExpectFailure(dir / "Song.WAV", dir / "Song.WAV", "would overwrite the source");
  // Also when the names differ but lead to the same file.
  fs::create_symlink(dir / "Song.WAV", dir / "link.WAV");
  ExpectFailure(dir / "Song.WAV", dir / "link.WAV", "would overwrite the source");
  ExpectFailure(dir / "Song.WAV", dir / "." / "Song.WAV", "would overwrite the source");
  EXPECT_EQ(ReadAll(dir / "Song.WAV"), original);
}

TEST_F(FileConverterTest, DestinationsThatCannotBeWritten) {
  fs::create_directories(dir / "taken.WAV/inside");
  ExpectFailure(Fixture("cbr8_mono.mp3"), dir / "taken.WAV", "Is a directory");
  WriteAll(dir / "file", "");
  ExpectFailure(Fixture("cbr8_mono.mp3"), dir / "file/sub/a.WAV", "cannot create folder");
  ExpectFailure(Fixture("cbr8_mono.mp3"), dir / (std::string(300, 'n') + ".WAV"),
                "File name too long");
  // The wave writer takes paths of at most 260 bytes.
  ExpectFailure(Fixture("cbr8_mono.mp3"), dir / std::string(250, 'd') / "a.WAV", "longer than");
}

TEST_F(FileConverterTest, UnwritableFolder) {
  const fs::path locked = dir / "locked";
  std::optional<TmpfsMount> readOnly;
  if (::geteuid() == 0) {
    readOnly.emplace(locked, "size=64k", MS_RDONLY);
    if (!readOnly->Mounted()) GTEST_SKIP() << "cannot mount a read-only tmpfs";
  } else {
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const ConversionResult r = converter.Convert(Fixture("cbr8_mono.mp3"), locked / "a.WAV");
  EXPECT_EQ(r.status, ConversionResult::kFailed);
  EXPECT_NE(r.reason.find("cannot create " + (locked / "a.WAV").native()), std::string::npos)
      << r.reason;
}

TEST_F(FileConverterTest, FullDiskKeepsNothingAndLeavesAnOldOutputAlone) {
  WriteAll(dir / "out.WAV", "the old output");
  int blocks = 0;  // room for two blocks, then none
  converter.SetFreeSpaceQuery([&](const std::string&) -> std::optional<std::uint64_t> {
    return ++blocks <= 2 ? std::optional<std::uint64_t>(1 << 30) : std::optional<std::uint64_t>(0);
  });
  ExpectFailure(Fixture("cbr44_joint.mp3"), dir / "out.WAV", wave::kDiskFullMessage);
  EXPECT_GT(blocks, 2);
  EXPECT_EQ(ReadAll(dir / "out.WAV"), "the old output");
}

TEST_F(FileConverterTest, FullTmpfs) {
  TmpfsMount small(dir / "small", "size=200k");
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs";
  // The decoded file (about 350 KB) does not fit.
  const ConversionResult r = converter.Convert(Fixture("cbr44_joint.mp3"), dir / "small/a.WAV");
  EXPECT_EQ(r.status, ConversionResult::kFailed);
  EXPECT_NE(r.reason.find("cannot write"), std::string::npos) << r.reason;
  EXPECT_TRUE(fs::is_empty(dir / "small"));
}

TEST_F(FileConverterTest, CancelStopsAtTheNextBlockAndRemovesThePartialFile) {
  std::atomic<bool> cancel{false};
  converter.SetCancelFlag(&cancel);
  int calls = 0;
  const ConversionResult r =
      converter.Convert(Fixture("cbr44_joint.mp3"), dir / "a.WAV", [&](std::int64_t, std::int64_t) {
        ++calls;
        cancel = true;
      });
  EXPECT_EQ(r.status, ConversionResult::kCancelled);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(fs::is_empty(dir.path()));
  // Once cancelled, nothing more starts.
  EXPECT_EQ(converter.Convert(Fixture("cbr8_mono.mp3"), dir / "b.WAV").status,
            ConversionResult::kCancelled);
}

}  // namespace
}  // namespace cli
