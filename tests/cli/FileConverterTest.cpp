#include "cli/FileConverter.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <iterator>

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

TEST_F(FileConverterTest, AnExistingDestinationIsReplacedOnlyWhenAsked) {
  const fs::path source = Fixture("cbr8_mono.mp3");
  const fs::path out = dir / "Track01.WAV";
  struct Row {
    ExistingFiles policy;
    ConversionResult::Status status;
    std::string reason;
    bool replaced;
  };
  const Row rows[] = {
      {ExistingFiles::kRefuse, ConversionResult::kFailed,
       out.native() + " exists (use --force to replace it)", false},
      {ExistingFiles::kSkip, ConversionResult::kSkipped, out.native() + " exists", false},
      {ExistingFiles::kReplace, ConversionResult::kConverted, "", true},
  };
  for (const Row& row : rows) {
    WriteAll(out, "a lossless original");
    converter.SetExistingFiles(row.policy);
    const ConversionResult r = converter.Convert(source, out);
    EXPECT_EQ(r.status, row.status) << r.reason;
    EXPECT_EQ(r.reason, row.reason);
    EXPECT_EQ(test::IsCompletePcmWav(out), row.replaced);
    if (!row.replaced) {
      EXPECT_EQ(ReadAll(out), "a lossless original");
    }
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
  }
}

// On a case-insensitive file system "song.WAV" of another source is the same name as our
// "Song.WAV"; here it appears while the conversion runs, which the final rename must respect.
TEST_F(FileConverterTest, ANameTakenDuringTheConversionIsNotOverwritten) {
  const fs::path out = dir / "Song.WAV";
  bool taken = false;
  const ConversionResult r =
      converter.Convert(Fixture("cbr44_joint.mp3"), out, [&](std::int64_t, std::int64_t) {
        if (!taken) WriteAll(out, "the other source's output");
        taken = true;
      });
  EXPECT_EQ(r.status, ConversionResult::kFailed);
  EXPECT_EQ(r.reason, out.native() + " exists (use --force to replace it)");
  EXPECT_EQ(ReadAll(out), "the other source's output");
  EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

TEST_F(FileConverterTest, LeftoversOfDeadRunsGoLongNamesFit) {
  // A child that is gone gives a process id that no longer exists.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string name = std::string(246, 'n') + ".WAV";  // 250 bytes
  const fs::path out = dir / name;
  // Partial files of the same destination: one of a dead run, one of a live process (init).
  const std::string dead = test::PartialNameOf(out, child);
  const std::string live = test::PartialNameOf(out, 1);
  WriteAll(dir / dead, "left by a run that was killed");
  WriteAll(dir / live, "being written by another run");

  const ConversionResult r = converter.Convert(Fixture("cbr8_mono.mp3"), out);
  ASSERT_EQ(r.status, ConversionResult::kConverted) << r.reason;
  EXPECT_TRUE(test::IsCompletePcmWav(out));
  EXPECT_FALSE(fs::exists(dir / dead));
  EXPECT_TRUE(fs::exists(dir / live));
}

TEST_F(FileConverterTest, AWaveOverTheRiffLimitIsWrittenAsRf64) {
  // IMA ADPCM decodes four bits to sixteen: 1.12 GB of (sparse) data would be 4.4 GB of PCM.
  const std::uint32_t dataBytes = 1120000000u / 256 * 256;
  auto word = [](std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  const std::string fmt = word(0x11, 2) + word(1, 2) + word(8000, 4) + word(4055, 4) +
                          word(256, 2) + word(4, 2) + word(2, 2) + word(505, 2);
  const std::string header = "RIFF" + word(4 + 8 + 20 + 8 + dataBytes, 4) + "WAVEfmt " +
                             word(20, 4) + fmt + "data" + word(dataBytes, 4);
  const fs::path source = dir / "long.wav";
  WriteAll(source, header);
  fs::resize_file(source, header.size() + dataBytes);  // a hole: no disk is used

  // The header is on disk once the first block is written; the rest is not waited for.
  std::atomic<bool> cancel{false};
  converter.SetCancelFlag(&cancel);
  std::string written;
  const ConversionResult r =
      converter.Convert(source, dir / "long.WAV", [&](std::int64_t, std::int64_t) {
        for (const fs::path& p : PartialFiles(dir.path())) written = ReadAll(p).substr(0, 16);
        cancel = true;
      });
  EXPECT_EQ(r.status, ConversionResult::kCancelled);
  EXPECT_EQ(written.substr(0, 4), "RF64");
  EXPECT_EQ(written.substr(12, 4), "ds64");
  EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

TEST_F(FileConverterTest, AFullDiskSaysSoAndLeavesAnOldOutputAlone) {
  test::TmpfsMount small(dir / "small", "size=200k");
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs";
  WriteAll(dir / "small/out.WAV", "the old output");
  converter.SetExistingFiles(ExistingFiles::kReplace);
  // A PCM WAV's data are copied file to file into room reserved first, which takes no space.
  WriteAll(dir / "pcm16.wav", test::WaveFile(1, 2, 44100, 16, 4, std::string(400000, '\x11')));
  // 350 and 400 KB of output do not fit; only the write itself finds out.
  for (const fs::path& source : {Fixture("cbr44_joint.mp3"), dir / "pcm16.wav"}) {
    SCOPED_TRACE(source.filename());
    ExpectFailure(source, dir / "small/out.WAV",
                  "cannot write " + (dir / "small/out.WAV").native() + ": no space left on device");
    EXPECT_EQ(ReadAll(dir / "small/out.WAV"), "the old output");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "small"), fs::directory_iterator()), 1);
  }
}

// The command-line output is the decoder's own: equal to mpg123's, sample for sample, on every
// file where both decode the same frames.
TEST_F(FileConverterTest, OutputEqualsMpg123SampleForSample) {
  if (std::system("mpg123 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no mpg123";
  for (const char* name :
       {"cbr44_joint.mp3", "cbr48_mono.mp3", "cbr22_joint.mp3",   "cbr11_stereo.mp3",
        "cbr8_mono.mp3",   "vbr16_mono.mp3", "vbr32_stereo.mp3",  "vbr44_joint.mp3",
        "notag_vbr22.mp3", "id3v2_big.mp3",  "layer1_48.mp1",     "layer2_48.mp2",
        "free44.mp3",      "junk_start.mp3", "crc44.mp3",         "dual48.mp3",
        "ape_id3v1.mp3",   "truncated.mp3",  "layer2_24mono.mp2", "mp3_in_wav.wav"}) {
    const fs::path ours = dir / (std::string(name) + ".WAV");
    const fs::path theirs = dir / (std::string(name) + ".mpg123.wav");
    ASSERT_EQ(converter.Convert(Fixture(name), ours).status, ConversionResult::kConverted) << name;
    const std::string command =
        "mpg123 -q -w '" + theirs.native() + "' '" + Fixture(name).native() + "' 2> /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << name;
    const std::string data = test::PcmData(ours);
    ASSERT_FALSE(data.empty()) << name;
    EXPECT_TRUE(data == test::PcmData(theirs)) << name;
  }
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
