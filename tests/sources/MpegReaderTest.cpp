// The MPEG reader: the file test, the decoder object's formats and positioning, and the blocks
// the reader component delivers (end of stream, silence, looping, errors).
#include "sources/MpegFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stream/SyncDriver.h"
#include "tests/sources/SourcesTestFiles.h"

namespace sources::test {
namespace {

const std::string kFixtures = QD_MP3_FIXTURES;
std::string Fixture(const char* name) {
  return kFixtures + "/" + name;
}

// A wave buffer header with its data right behind it.
struct Block {
  explicit Block(std::uint32_t size) : bytes(stream::kWaveHdrSize + size, '\x55') {
    std::memset(hdr(), 0, stream::kWaveHdrSize);
    hdr()->SetData(bytes.data() + stream::kWaveHdrSize);
    hdr()->dwBufferLength = size;
  }
  stream::PWaveHdr hdr() { return reinterpret_cast<stream::PWaveHdr>(bytes.data()); }
  std::vector<char> bytes;
};

// A copy of a fixture with the format tag of its "fmt " chunk replaced.
std::string WithFormatTag(const TempDir& dir, const char* fixture, std::uint16_t tag) {
  std::ifstream in(Fixture(fixture), std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t fmt = text.find("fmt ");
  EXPECT_NE(fmt, std::string::npos);
  std::memcpy(bytes.data() + fmt + 8, &tag, 2);
  const std::string path = dir.File(std::string("tag-") + fixture);
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

int Sample(const std::vector<char>& bytes, std::size_t index) {
  std::int16_t s;
  std::memcpy(&s, &bytes[2 * index], 2);
  return s;
}

// Everything the decoder delivers from its current position.
std::vector<char> ReadAll(TMMMpeg& mpeg) {
  std::vector<char> all;
  std::vector<char> block(10000);
  for (std::int32_t n; (n = mpeg.ReadData(block.data(), 10000)) > 0;) {
    all.insert(all.end(), block.begin(), block.begin() + n);
  }
  return all;
}

TEST(IsMpegFileTest, TellsMpegFromOtherFiles) {
  EXPECT_FALSE(IsMpegFile(""));
  EXPECT_FALSE(IsMpegFile("/no/such/file.mp3"));
  EXPECT_TRUE(IsResourceOrPointerName("resource://song"));
  EXPECT_TRUE(IsResourceOrPointerName("x:Pointer://1234"));
  EXPECT_FALSE(IsResourceOrPointerName("RESOURCE:/song"));
  EXPECT_FALSE(IsMpegFile("Resource://song"));  // goes on to the decoder, which refuses it

  for (const char* name :
       {"cbr44_joint.mp3", "layer1_48.mp1", "mp3_in_wav.wav", "mp2_in_wav.wav"}) {
    EXPECT_TRUE(IsMpegFile(Fixture(name))) << name;
  }
  for (const char* name : {"pcm.wav", "random.mp3", "text.mp3", "empty.mp3"}) {
    EXPECT_FALSE(IsMpegFile(Fixture(name))) << name;
  }
  // A WAVE file is judged by its tag alone, whatever its data holds.
  TempDir dir;
  EXPECT_TRUE(IsMpegFile(WithFormatTag(dir, "pcm.wav", 0x55)));
  EXPECT_FALSE(IsMpegFile(WithFormatTag(dir, "mp3_in_wav.wav", 1)));
}

TEST(MpegDecoderTest, ChannelModeDecidesThePcmChannels) {
  TMMMpeg mpeg;
  EXPECT_EQ(mpeg.PCMFormat(), nullptr);
  EXPECT_EQ(mpeg.BytesPerFrame(), 0);
  mpeg.SetFileName(Fixture("dual48.mp3"));
  ASSERT_NE(mpeg.PCMFormat(), nullptr);
  EXPECT_EQ(+mpeg.PCMFormat()->nChannels, 2);
  EXPECT_EQ(+mpeg.PCMFormat()->nAvgBytesPerSec, 192000u);
  mpeg.OpenFile();
  const std::vector<char> both = ReadAll(mpeg);
  try {
    mpeg.SetChannelMode(cmLeft);
    FAIL() << "changed while open";
  } catch (const EMMMpegError& e) {
    EXPECT_STREQ(e.what(), kChangeWhileOpen);
  }
  mpeg.CloseFile();

  // Left and right are the two halves of every stereo frame; a down-mix is mono too.
  for (TChannelMode mode : {cmLeft, cmRight, cmDownMix}) {
    mpeg.SetChannelMode(mode);
    EXPECT_EQ(mpeg.ChannelMode(), mode);
    ASSERT_NE(mpeg.PCMFormat(), nullptr);
    EXPECT_EQ(+mpeg.PCMFormat()->nChannels, 1);
    EXPECT_EQ(+mpeg.PCMFormat()->nBlockAlign, 2);
    EXPECT_EQ(mpeg.BytesPerFrame(), 2304);
    if (mode == cmDownMix) continue;
    mpeg.OpenFile();
    const std::vector<char> one = ReadAll(mpeg);
    mpeg.CloseFile();
    ASSERT_EQ(one.size() * 2, both.size());
    // The mono synthesis may round a sample differently; the other channel is far away.
    int same = 0;
    int other = 0;
    for (std::size_t i = 0; i < one.size() / 2; ++i) {
      const int side = mode == cmLeft ? 0 : 1;
      same = std::max(same, std::abs(Sample(one, i) - Sample(both, 2 * i + side)));
      other = std::max(other, std::abs(Sample(one, i) - Sample(both, 2 * i + 1 - side)));
    }
    EXPECT_LE(same, 1) << mode;
    EXPECT_GT(other, 1000) << mode;
  }
  mpeg.SetChannelMode(cmBoth);
  EXPECT_EQ(+mpeg.PCMFormat()->nChannels, 2);
  EXPECT_EQ(mpeg.BytesPerFrame(), 4608);

  mpeg.SetFileName(Fixture("cbr48_mono.mp3"));
  EXPECT_EQ(mpeg.Mode(), smSingleChannel);
  EXPECT_EQ(+mpeg.PCMFormat()->nChannels, 1);

  // Positioning decodes whole frames into a scratch buffer of kScratchBytes.
  for (const char* name :
       {"cbr8_mono.mp3", "layer1_48.mp1", "layer2_24mono.mp2", "cbr11_stereo.mp3"}) {
    mpeg.SetFileName(Fixture(name));
    EXPECT_GT(mpeg.BytesPerFrame(), 0) << name;
    EXPECT_EQ(mpeg.BytesPerFrame() % 4, 0) << name;
    EXPECT_LE(mpeg.BytesPerFrame(), kScratchBytes) << name;
  }
}

TEST(MpegDecoderTest, PositionLandsOnTheWantedFrame) {
  TMMMpeg mpeg;
  mpeg.SetFileName(Fixture("layer1_48.mp1"));  // 100 frames of 384 stereo samples
  mpeg.OpenFile();
  const std::vector<char> all = ReadAll(mpeg);
  ASSERT_EQ(all.size(), 100u * 1536);

  mpeg.SetPosition(0);
  EXPECT_EQ(mpeg.Position(), 0);
  EXPECT_EQ(ReadAll(mpeg), all);

  mpeg.SetPosition(37);  // restarts at 35 and decodes two frames
  EXPECT_EQ(mpeg.Position(), 37);
  EXPECT_EQ(ReadAll(mpeg), std::vector<char>(all.begin() + 37 * 1536, all.end()));

  mpeg.SetPosition(100);  // the end: frames 98 and 99 are read, nothing is left
  EXPECT_TRUE(mpeg.IsDone());
  EXPECT_TRUE(ReadAll(mpeg).empty());
}

TEST(MpegReaderTest, ForwardsTheDecodersProperties) {
  TMMMPEGFile reader(nullptr);
  const TMMMpeg& mpeg = *reader.Mpeg();
  // Reads: the reader answers what its decoder answers, empty or bound.
  for (const char* name : {"", "layer1_48.mp1", "layer2_24mono.mp2", "vbr44_joint.mp3"}) {
    if (*name != 0) reader.SetFileName(Fixture(name));
    EXPECT_EQ(reader.FileName(), *name != 0 ? Fixture(name) : "") << name;
    EXPECT_EQ(reader.Version(), mpeg.Version()) << name;
    EXPECT_EQ(reader.Layer(), mpeg.Layer()) << name;
    EXPECT_EQ(reader.Mode(), mpeg.Mode()) << name;
    EXPECT_EQ(reader.BitRate(), mpeg.BitRate()) << name;
    EXPECT_EQ(reader.SampleRate(), mpeg.SampleRate()) << name;
    EXPECT_EQ(reader.PlayBackRate(), mpeg.PlayBackRate()) << name;
    EXPECT_EQ(reader.Frames(), mpeg.Frames()) << name;
    EXPECT_EQ(reader.Time(), mpeg.Time()) << name;
  }
  EXPECT_EQ(reader.Layer(), 3);
  EXPECT_GT(reader.Frames(), 0);

  // Writes reach the decoder.
  reader.SetTrailingHeader(64);
  EXPECT_EQ(mpeg.TrailingHeader(), 64);
  EXPECT_EQ(reader.TrailingHeader(), 64);
  reader.SetExactposition(true);
  EXPECT_TRUE(mpeg.Exactposition());
  EXPECT_TRUE(reader.Exactposition());

  // A channel mode changes the format the reader passes on.
  reader.SetFileName(Fixture("dual48.mp3"));
  int changes = 0;
  reader.OnChange = [&](stream::TObject*) { ++changes; };
  struct Row {
    TChannelMode mode;
    int channels;
  };
  for (const Row& row : {Row{cmLeft, 1}, Row{cmBoth, 2}, Row{cmDownMix, 1}, Row{cmRight, 1}}) {
    reader.SetChannelMode(row.mode);
    EXPECT_EQ(reader.ChannelMode(), row.mode);
    EXPECT_EQ(mpeg.ChannelMode(), row.mode);
    ASSERT_NE(reader.GetPWaveFormat(), nullptr);
    EXPECT_EQ(+reader.GetPWaveFormat()->nChannels, row.channels) << row.mode;
  }
  EXPECT_EQ(changes, 4);
  reader.Open();
  EXPECT_THROW(reader.SetChannelMode(cmBoth), EMMMpegError);
  EXPECT_EQ(reader.ChannelMode(), cmRight);
  reader.Close();
}

// Runs a reader through the synchronous driver; returns the block sizes.
std::vector<std::uint32_t> PullBlocks(TMMMPEGFile& reader, std::int32_t blockSize,
                                      std::vector<char>* data = nullptr) {
  class Sink : public stream::TMMDSPComponent {
   public:
    Sink() : stream::TMMDSPComponent(nullptr) { PublishLinks(true, false); }
    void BufferReady(stream::PWaveHdr h) override {
      sizes.push_back(h->dwBytesRecorded);
      bytes.insert(bytes.end(), h->Data(), h->Data() + h->dwBytesRecorded);
    }
    std::vector<std::uint32_t> sizes;
    std::vector<char> bytes;
  } sink;
  stream::TMMSyncDriver driver(nullptr);
  driver.SetBufferSize(blockSize);
  driver.SetInput(&reader);
  driver.SetOutput(&sink);
  driver.Run();
  driver.SetInput(nullptr);
  if (data) *data = sink.bytes;
  return sink.sizes;
}

TEST(MpegReaderTest, AStreamEndingOnABlockBoundaryEndsWithItsLastBlock) {
  TMMMPEGFile reader(nullptr);
  reader.SetFileName(Fixture("cbr44_joint.mp3"));
  std::vector<char> whole;
  PullBlocks(reader, 1 << 20, &whole);
  ASSERT_EQ(whole.size(), 352800u);
  std::vector<char> pieces;
  const auto sizes = PullBlocks(reader, 352800 / 10, &pieces);  // a driver fails on empty blocks
  EXPECT_EQ(sizes, std::vector<std::uint32_t>(10, 35280));
  EXPECT_EQ(pieces, whole);
}

TEST(MpegReaderTest, DisabledOrUnstartedReadersDeliverEndlessSilence) {
  TMMMPEGFile reader(nullptr);
  Block block(4000);
  bool more = false;
  reader.BufferLoad(block.hdr(), more);  // no file
  EXPECT_EQ(block.hdr()->dwBytesRecorded, 0u);
  EXPECT_FALSE(more);

  reader.SetFileName(Fixture("cbr8_mono.mp3"));  // 34560 bytes of PCM
  reader.Open();
  reader.BufferLoad(block.hdr(), more);  // opened, not started
  EXPECT_EQ(block.hdr()->dwBytesRecorded, 4000u);
  reader.Start();
  reader.SetEnabled(false);
  for (int i = 0; i < 20; ++i) {
    std::memset(block.hdr()->Data(), 0x55, 4000);
    more = false;
    reader.BufferLoad(block.hdr(), more);
    ASSERT_TRUE(more);
    ASSERT_EQ(block.hdr()->dwBytesRecorded, 4000u);
    ASSERT_EQ(std::vector<char>(block.bytes.begin() + stream::kWaveHdrSize, block.bytes.end()),
              std::vector<char>(4000, 0));
  }
  reader.Close();
}

TEST(MpegReaderTest, LoopingOncePlaysTheFileTwice) {
  TMMMPEGFile reader(nullptr);
  reader.SetFileName(Fixture("cbr8_mono.mp3"));
  reader.Open();
  reader.Start();
  Block block(5000);
  block.hdr()->Looping = -1;
  block.hdr()->LoopCount = 1;
  block.hdr()->LoopsLeft = 1;
  std::vector<char> out;
  std::vector<std::size_t> marks;
  for (bool more = true; more;) {
    more = false;
    block.hdr()->LoopMark = 0;
    reader.BufferLoad(block.hdr(), more);
    ASSERT_LT(out.size(), 200000u) << "does not end";
    if (block.hdr()->LoopMark == -1) marks.push_back(out.size());
    out.insert(out.end(), block.hdr()->Data(), block.hdr()->Data() + block.hdr()->dwBytesRecorded);
  }
  ASSERT_EQ(out.size(), 2u * 34560);
  EXPECT_EQ(marks, std::vector<std::size_t>{30000});  // the block that held the last bytes
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 34560, out.begin() + 34560));
  EXPECT_EQ(block.hdr()->LoopsLeft, -1);
  reader.Close();
}

TEST(MpegReaderTest, ErrorsWhileLoadingGoToOnError) {
  TMMMPEGFile reader(nullptr);
  reader.SetFileName(Fixture("cbr44_joint.mp3"));
  reader.Open();
  reader.Start();
  Block block(2);  // less than one stereo sample frame: the decoder refuses the read
  bool more = true;
  EXPECT_THROW(reader.BufferLoad(block.hdr(), more), EMMMpegError);
  int calls = 0;
  reader.OnError = [&](stream::TObject* sender, bool& handled) {
    EXPECT_EQ(sender, &reader);
    EXPECT_FALSE(handled);
    handled = ++calls > 1;
  };
  EXPECT_THROW(reader.BufferLoad(block.hdr(), more), EMMMpegError);
  reader.BufferLoad(block.hdr(), more);
  EXPECT_EQ(calls, 2);
  // Silence, as much as the block holds (at most 4 bytes), instead of what the failed read left.
  ASSERT_EQ(block.hdr()->dwBytesRecorded, 2u);
  EXPECT_EQ(block.hdr()->Data()[0], 0);
  EXPECT_EQ(block.hdr()->Data()[1], 0);
  EXPECT_TRUE(more);  // left as it was
  reader.Close();
}

}  // namespace
}  // namespace sources::test
