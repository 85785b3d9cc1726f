#include "cli/FileConverter.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/LibraryMessages.h"
#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::Fixture;
using test::PartialFiles;
using test::ReadAll;
using test::WriteAll;
namespace fs = std::filesystem;

class FileConverterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallLibraryMessageReporter(); }

  // Expects a failure whose reason contains `reason`, with no partial file left behind.
  void ExpectFailure(const fs::path& source, const fs::path& destination,
                     const std::string& reason) {
    const ConversionResult r = converter.Convert(source, destination);
    EXPECT_EQ(r.status, ConversionResult::kFailed) << source;
    EXPECT_NE(r.reason.find(reason), std::string::npos) << r.reason;
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
  }

  test::ScratchDir dir;
  FileConverter converter;
};

TEST_F(FileConverterTest, WritesACompleteWaveIntoANewFolderAndReportsProgress) {
  std::vector<std::int64_t> positions;
  std::int64_t length = 0;
  const fs::path out = dir / "new/folder/out.WAV";
  const ConversionResult r =
      converter.Convert(Fixture("cbr44_joint.mp3"), out, [&](std::int64_t p, std::int64_t l) {
        positions.push_back(p);
        length = l;
      });
  ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
  EXPECT_EQ(test::PcmDataBytes(out), r.bytes);
  EXPECT_EQ(r.bytes, 2 * 44100 * 4);  // 2 s of 16-bit stereo
  EXPECT_TRUE(PartialFiles(dir.path()).empty());
  ASSERT_GT(positions.size(), 2u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), length);
}

TEST_F(FileConverterTest, ACompressedWaveNoDriverDecodesIsRefused) {
  // A Truespeech (0x0022) file: 32-byte blocks of 240 samples, 8000 Hz mono.
  std::string fmt(
      "\x22\x00\x01\x00\x40\x1f\x00\x00\x5c\x04\x00\x00\x20\x00\x01\x00"
      "\x00\x00",
      18);
  const std::string data(320, '\x55');
  auto word = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  WriteAll(dir / "speech.wav", "RIFF" + word(4 + 8 + 18 + 8 + 320) + "WAVEfmt " + word(18) + fmt +
                                   "data" + word(320) + data);
  ExpectFailure(dir / "speech.wav", dir / "speech.WAV",
                "cannot decode its audio format (DSP Group's Truespeech)");

  // An MS ADPCM record whose extra bytes claim no coefficients cannot be decoded either.
  if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const fs::path adpcm = dir / "adpcm.wav";
  const std::string make =
      "sox -n -r 8000 -c 1 -e ms-adpcm '" + adpcm.native() + "' synth 0.2 sine 440";
  ASSERT_EQ(std::system(make.c_str()), 0);
  std::string bytes = ReadAll(adpcm);
  ASSERT_EQ(bytes.substr(12, 4), "fmt ");
  bytes[20 + 18 + 2] = 0;  // wNumCoef, after wSamplesPerBlock
  WriteAll(adpcm, bytes);
  ExpectFailure(adpcm, dir / "adpcm.WAV", "cannot decode its audio format (Microsoft ADPCM)");
}

TEST_F(FileConverterTest, ACompressedWaveIsDecodedToPcm) {
  if (std::system("sox --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  const fs::path source = dir / "ima.wav";
  const std::string make =
      "sox -n -r 8000 -c 1 -e ima-adpcm '" + source.native() + "' synth 0.2 sine 440";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const ConversionResult r = converter.Convert(source, dir / "ima.WAV");
  ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
  EXPECT_TRUE(test::IsCompletePcmWav(dir / "ima.WAV"));
  // 1600 samples fill 4 blocks of 505: 2020 16-bit samples.
  EXPECT_EQ(test::PcmDataBytes(dir / "ima.WAV"), 2020u * 2);
}

TEST_F(FileConverterTest, NeverWritesOverItsSource) {
  const std::string original = ReadAll(Fixture("pcm.wav"));
  WriteAll(dir / "Song.WAV", original);
  fs::create_symlink(dir / "Song.WAV", dir / "link.WAV");
  for (const fs::path& destination : {dir / "Song.WAV", dir / "link.WAV", dir / "./Song.WAV"}) {
    ExpectFailure(dir / "Song.WAV", destination, "would overwrite the source");
  }
  EXPECT_EQ(ReadAll(dir / "Song.WAV"), original);
}

TEST_F(FileConverterTest, DestinationsThatCannotBeWritten) {
  const fs::path source = Fixture("cbr8_mono.mp3");
  fs::create_directories(dir / "taken.WAV/inside");
  ExpectFailure(source, dir / "taken.WAV", "Is a directory");
  WriteAll(dir / "file", "");
  ExpectFailure(source, dir / "file/sub/a.WAV", "cannot create folder");
  ExpectFailure(source, dir / (std::string(300, 'n') + ".WAV"), "File name too long");

  // A read-only folder: a read-only tmpfs as root (who may write anywhere else), else the mode.
  const fs::path locked = dir / "locked";
  std::optional<test::TmpfsMount> readOnly;
  if (::geteuid() == 0) {
    readOnly.emplace(locked, "size=64k", MS_RDONLY);
    if (!readOnly->Mounted()) GTEST_SKIP() << "cannot mount a read-only tmpfs";
  } else {
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  }
  ExpectFailure(source, locked / "a.WAV", "cannot create " + (locked / "a.WAV").native() + ": ");
}

TEST_F(FileConverterTest, FullDiskKeepsNothingAndLeavesAnOldOutputAlone) {
  WriteAll(dir / "out.WAV", "the old output");
  int blocks = 0;  // room for two blocks, then none
  converter.SetFreeSpaceQuery([&](const std::string&) -> std::optional<std::uint64_t> {
    return ++blocks <= 2 ? 1u << 30 : 0u;
  });
  ExpectFailure(
      Fixture("cbr44_joint.mp3"), dir / "out.WAV",
      std::string("cannot write ") + (dir / "out.WAV").native() + ": " + wave::kDiskFullMessage);
  EXPECT_EQ(ReadAll(dir / "out.WAV"), "the old output");

  test::TmpfsMount small(dir / "small", "size=200k");
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs";
  converter.SetFreeSpaceQuery({});  // the real query now; 350 KB of output do not fit
  ExpectFailure(Fixture("cbr44_joint.mp3"), dir / "small/a.WAV", "cannot write");
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
}

}  // namespace
}  // namespace cli
