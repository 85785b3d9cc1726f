#include "sources/AudioFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "stream/SyncDriver.h"
#include "tests/sources/SourcesTestFiles.h"
#include "wave/WaveFile.h"

namespace sources::test {
namespace {

// Pulls every block of an audio file source through a synchronous driver into a sink that keeps
// the bytes.
class CollectingSink : public stream::TMMDSPComponent {
 public:
  CollectingSink() : stream::TMMDSPComponent(nullptr) { PublishLinks(true, false); }
  void BufferReady(stream::PWaveHdr h) override {
    data.insert(data.end(), h->Data(), h->Data() + h->dwBytesRecorded);
    blocks.push_back(h->dwBytesRecorded);
  }
  std::vector<char> data;
  std::vector<std::uint32_t> blocks;
};

std::vector<char> PullBytes(TMMAudioFile& file, std::int32_t blockSize,
                            std::vector<std::uint32_t>* blocks = nullptr) {
  stream::TMMSyncDriver driver(nullptr);
  CollectingSink sink;
  driver.SetBufferSize(blockSize);
  driver.SetInput(&file);
  driver.SetOutput(&sink);
  driver.Run();
  driver.SetInput(nullptr);
  if (blocks) *blocks = sink.blocks;
  return sink.data;
}

std::vector<std::int16_t> Pull(TMMAudioFile& file, std::int32_t blockSize,
                               std::vector<std::uint32_t>* blocks = nullptr) {
  const std::vector<char> data = PullBytes(file, blockSize, blocks);
  std::vector<std::int16_t> samples(data.size() / 2);
  std::memcpy(samples.data(), data.data(), samples.size() * 2);
  return samples;
}

std::vector<std::int16_t> Constant(std::size_t count, std::int16_t value) {
  return std::vector<std::int16_t>(count, value);
}

TEST(AudioFileTest, PropertiesClampAndAMissingFileLeavesTheSourceEmpty) {
  TMMAudioFile file(nullptr);
  file.SetVolume(40000);
  EXPECT_EQ(file.Volume(), 32768);
  file.SetPanning(-40000);
  EXPECT_EQ(file.Panning(), -32768);
  file.SetVolume(-1);
  EXPECT_EQ(file.Volume(), 0);
  file.SetFileName("/no/such/file.mp3");
  EXPECT_EQ(file.FileType(), ftWave);
  EXPECT_EQ(file.FileLength(), 0);
  EXPECT_EQ(file.GetPWaveFormat(), nullptr);
}

TEST(AudioFileTest, AFileThatIsNeitherMpegNorWaveIsRefused) {
  TempDir dir;
  const std::string path = dir.File("notes.txt");
  std::ofstream(path) << "This is plain text, not audio at all; not even close to a frame.\n";
  TMMAudioFile file(nullptr);
  try {
    file.SetFileName(path);
    FAIL() << "a text file was bound";
  } catch (const EMMAudioError& e) {
    EXPECT_STREQ(e.what(), "This is not a valid Audiofile");
  }
  EXPECT_EQ(file.GetPWaveFormat(), nullptr);
}

TEST(AudioFileTest, WaveInputRampsInOverTheFirstMillisecondAndThenPassesUnchanged) {
  TempDir dir;
  const std::string path = dir.File("in.wav");
  const std::size_t frames = 44100;  // one second, 16-bit stereo
  WriteWav(path, Pcm(2, 44100, 16), Constant(frames * 2, 10000));
  TMMAudioFile file(nullptr);
  file.SetFileName(path);
  ASSERT_NE(file.GetPWaveFormat(), nullptr);
  EXPECT_EQ(file.FileType(), ftWave);
  EXPECT_EQ(file.FileLength(), 1000);
  EXPECT_EQ(file.PlayEnd(), 1000);

  const auto out = Pull(file, 32768);
  ASSERT_EQ(out.size(), frames * 2);  // the same length, no tail
  // 176 bytes (44 frames) rise from silence; the ramp never overshoots.
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  for (std::size_t i = 2; i < 88; ++i) EXPECT_LE(out[i], 10000) << i;
  EXPECT_GT(out[86], 9000);
  for (std::size_t i = 88; i < out.size() - 88; ++i) ASSERT_EQ(out[i], 10000) << i;
  // The last millisecond starts a ramp towards a point ten seconds later: less than 1/1000 off.
  for (std::size_t i = out.size() - 88; i < out.size(); ++i) EXPECT_GE(out[i], 9990) << i;
}

TEST(AudioFileTest, VolumeAndPanningScaleTheChannels) {
  TempDir dir;
  const std::string path = dir.File("in.wav");
  WriteWav(path, Pcm(2, 8000, 16), Constant(8000 * 2, 8000));
  TMMAudioFile file(nullptr);
  file.SetFileName(path);
  file.SetVolume(8192);    // half
  file.SetPanning(16384);  // right side: left at half of the volume
  const auto out = Pull(file, 4096);
  ASSERT_EQ(out.size(), 16000u);
  const std::size_t mid = 8000;
  EXPECT_EQ(out[mid], 2000);      // left: 8000 × 0.5 × 0.5
  EXPECT_EQ(out[mid + 1], 4000);  // right: 8000 × 0.5

  TMMAudioFile silenced(nullptr);
  silenced.SetFileName(path);
  silenced.SetPanning(-32768);  // left only
  const auto left = Pull(silenced, 4096);
  EXPECT_EQ(left[mid], 8000);
  EXPECT_EQ(left[mid + 1], 0);
}

TEST(AudioFileTest, ASourceEndingOnABlockBoundaryEndsWithoutAnEmptyBlock) {
  TempDir dir;
  const std::string path = dir.File("in.wav");
  WriteWav(path, Pcm(1, 8000, 16), Constant(4096, 100));  // exactly two blocks of 4096 bytes
  TMMAudioFile file(nullptr);
  file.SetFileName(path);
  std::vector<std::uint32_t> blocks;
  const auto out = Pull(file, 4096, &blocks);
  EXPECT_EQ(out.size(), 4096u);
  for (std::uint32_t b : blocks) EXPECT_GT(b, 0u);
}

TEST(AudioFileTest, BindingTheSameNameTwiceDoesNothing) {
  TempDir dir;
  const std::string path = dir.File("in.wav");
  WriteWav(path, Pcm(1, 8000, 16), Constant(800, 1));
  TMMAudioFile file(nullptr);
  int changes = 0;
  file.OnChange = [&](stream::TObject*) { ++changes; };
  file.SetFileName(path);
  const int afterFirst = changes;
  EXPECT_GT(afterFirst, 0);
  file.SetFileName(file.FileName());
  EXPECT_EQ(changes, afterFirst);
}

TEST(AudioFileTest, PositionCoversTheBlocksDeliveredSoFar) {
  TempDir dir;
  const std::string path = dir.File("in.wav");
  WriteWav(path, Pcm(2, 44100, 16), Constant(44100 * 2, 5));
  TMMAudioFile file(nullptr);
  file.SetFileName(path);
  stream::TMMSyncDriver driver(nullptr);
  CollectingSink sink;
  driver.SetBufferSize(17640);  // 100 ms
  driver.SetInput(&file);
  driver.SetOutput(&sink);
  std::vector<std::int64_t> positions;
  driver.OnBufferReady = [&](stream::TObject*, stream::PWaveHdr) {
    positions.push_back(file.Position());
  };
  driver.Run();
  driver.SetInput(nullptr);
  ASSERT_EQ(positions.size(), 10u);
  for (std::size_t k = 0; k < positions.size(); ++k) {
    EXPECT_EQ(positions[k], static_cast<std::int64_t>((k + 1) * 100)) << k;
  }
}

// A load that fails and that OnError handles goes on as a short block of silence: the bytes an
// earlier block left in the buffer never go downstream.
TEST(AudioFileTest, AHandledErrorDeliversSilenceNotTheBufferContents) {
  const struct {
    const char* name;
    std::uint16_t bits;
    std::int16_t word;  // two samples of 8-bit data, one of 16-bit data
    char silence;
  } rows[] = {
      {"8-bit", 8, static_cast<std::int16_t>(0xC8C8), static_cast<char>(128)},
      {"16-bit", 16, 10000, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const std::string path = dir.File("in.wav");
    WriteWav(path, Pcm(1, 8000, row.bits), Constant(4000, row.word));
    TMMAudioFile file(nullptr);
    file.SetFileName(path);
    file.SetApplyEnvelope(false);  // the first block carries the file's bytes unchanged
    ASSERT_NE(file.GetPWaveFormat(), nullptr);
    ASSERT_EQ(file.GetPWaveFormat()->wBitsPerSample, row.bits);
    int loads = 0;
    int errors = 0;
    file.ADPCMStage()->OnBufferLoad = [&](stream::TObject*, stream::PWaveHdr, bool&) {
      if (++loads == 2) throw std::runtime_error("the file cannot be read");
    };
    file.OnError = [&](stream::TObject*, bool& handled) {
      ++errors;
      handled = true;
    };
    std::vector<std::uint32_t> blocks;
    const std::vector<char> out = PullBytes(file, 1024, &blocks);
    EXPECT_EQ(errors, 1);
    ASSERT_EQ(blocks, (std::vector<std::uint32_t>{1024, 4}));
    EXPECT_NE(out[0], row.silence);  // the first block was real data
    EXPECT_EQ(std::vector<char>(out.end() - 4, out.end()), std::vector<char>(4, row.silence));
  }
}

// Before the chain opens it, a bound MP3 stands at its first frame, and a position set then is
// where the next play starts.
TEST(AudioFileTest, AnMpegFileHasAPositionBeforeItOpensAndStartsWhereItWasSet) {
  TMMAudioFile file(nullptr);
  file.SetFileName(std::string(QD_MP3_FIXTURES) + "/cbr44_joint.mp3");  // 1152-sample frames
  EXPECT_EQ(file.Position(), 0);
  const std::vector<std::int16_t> whole = Pull(file, 32768);
  EXPECT_EQ(file.Position(), 0);  // closing returns to the first frame

  file.SetPosition(1045);  // frame 40 (40 x 26.12 ms)
  EXPECT_EQ(file.Position(), 1045);
  const std::vector<std::int16_t> tail = Pull(file, 32768);
  const std::size_t skipped = 40 * 1152 * 2;
  ASSERT_EQ(tail.size(), whole.size() - skipped);
  const std::size_t edge = 2 * 100;  // past the fade-in over the first millisecond
  int worst = 0;
  for (std::size_t i = edge; i + edge < tail.size(); ++i) {
    worst = std::max(worst, std::abs(tail[i] - whole[skipped + i]));
  }
  EXPECT_LE(worst, 1);
}

}  // namespace
}  // namespace sources::test
