// The decoder object without a file: its name, unbinding, and taking over another decoder's
// file and position; the sample formats and the PCM format they make.
#include "sources/Mpeg.h"

#include <gtest/gtest.h>

#include <string>

namespace sources::test {
namespace {

const std::string kLayer1 = std::string(QD_MP3_FIXTURES) + "/layer1_48.mp1";  // 100 frames
const std::string kStereo = std::string(QD_MP3_FIXTURES) + "/cbr44_joint.mp3";

// A decoder that counts the changes it reports.
struct Counted {
  Counted() {
    mpeg.OnChange = [this](stream::TObject*) { ++changes; };
  }
  TMMMpeg mpeg;
  int changes = 0;
};

TEST(MpegDecoderTest, UnbindingReportsOneChangeAndOnlyWhenAFileWasBound) {
  struct Row {
    const char* name;
    bool bound;
    bool open;
    int changes;
  };
  for (const Row& row : {Row{"nothing bound", false, false, 0}, Row{"bound", true, false, 1},
                         Row{"open", true, true, 1}}) {
    Counted c;
    EXPECT_EQ(c.mpeg.FileName(), "") << row.name;
    if (row.bound) c.mpeg.SetFileName(kStereo);
    if (row.open) c.mpeg.OpenFile();
    c.changes = 0;
    c.mpeg.SetFileName("");
    EXPECT_EQ(c.changes, row.changes) << row.name;
    EXPECT_TRUE(c.mpeg.IsEmpty()) << row.name;
    EXPECT_FALSE(c.mpeg.FileOpened()) << row.name;
    EXPECT_EQ(c.mpeg.PCMFormat(), nullptr) << row.name;
    EXPECT_EQ(c.mpeg.FileName(), "") << row.name;
  }
}

TEST(MpegDecoderTest, AssignTakesOverFileSettingsAndPosition) {
  struct Row {
    const char* name;
    bool sourceBound;
    int sourceFrame;  // -1: the source's file is not open
    bool targetBound;
    std::string file;
    int frame;
  };
  for (const Row& row : {Row{"empty to empty", false, -1, false, "", -1},
                         Row{"empty over a file", false, -1, true, "", -1},
                         Row{"closed file", true, -1, false, kLayer1, 0},
                         Row{"open file at frame 37", true, 37, true, kLayer1, 37}}) {
    TMMMpeg source;
    source.SetTrailingHeader(128);
    source.SetChannelMode(cmRight);
    source.SetSampleFormat(MPEG_SAMPLES_FLOAT32);
    if (row.sourceBound) source.SetFileName(kLayer1);
    if (row.sourceFrame >= 0) {
      source.OpenFile();
      source.SetPosition(row.sourceFrame);
    }
    Counted target;
    if (row.targetBound) target.mpeg.SetFileName(kStereo);
    try {
      target.mpeg.Assign(&source);
    } catch (const EMMMpegError& e) {
      ADD_FAILURE() << row.name << ": " << e.what();
      continue;
    }
    EXPECT_EQ(target.mpeg.FileName(), row.file) << row.name;
    EXPECT_EQ(target.mpeg.TrailingHeader(), 128) << row.name;
    EXPECT_EQ(target.mpeg.ChannelMode(), cmRight) << row.name;
    EXPECT_EQ(target.mpeg.SampleFormat(), MPEG_SAMPLES_FLOAT32) << row.name;
    EXPECT_EQ(target.mpeg.Position(), row.frame) << row.name;
    if (!row.sourceBound) continue;
    // The position is where decoding starts.
    target.mpeg.OpenFile();
    EXPECT_EQ(target.mpeg.Position(), row.frame) << row.name;
  }
}

TEST(MpegDecoderTest, AssigningNothingClearsAndReportsOneChange) {
  for (bool bound : {false, true}) {
    Counted c;
    if (bound) c.mpeg.SetFileName(kStereo);
    c.changes = 0;
    c.mpeg.Assign(nullptr);
    EXPECT_EQ(c.changes, 1) << bound;
    EXPECT_TRUE(c.mpeg.IsEmpty()) << bound;
  }
}

TEST(MpegDecoderTest, SampleFormatDecidesThePcmFormat) {
  ASSERT_TRUE(LoadDecoder());
  EXPECT_NE(Mpeg().GetClipCount, nullptr);  // the module is recent enough to count
  struct Row {
    std::int32_t format;
    std::uint16_t tag;
    std::uint16_t bits;
  };
  const Row rows[] = {{MPEG_SAMPLES_S16, 1, 16},
                      {MPEG_SAMPLES_S24, 1, 24},
                      {MPEG_SAMPLES_S32, 1, 32},
                      {MPEG_SAMPLES_FLOAT32, kWaveFormatIeeeFloat, 32}};
  TMMMpeg mpeg;
  EXPECT_EQ(mpeg.SampleFormat(), MPEG_SAMPLES_S16);
  struct File {
    std::string path;
    std::uint16_t channels;
    std::uint32_t rate;
  };
  for (const File& file : {File{kStereo, 2, 44100},
                           File{std::string(QD_MP3_FIXTURES) + "/layer2_24mono.mp2", 1, 24000}}) {
    mpeg.SetFileName(file.path);
    for (const Row& row : rows) {
      mpeg.SetSampleFormat(row.format);
      EXPECT_EQ(mpeg.SampleFormat(), row.format);
      const stream::TWaveFormatEx* pcm = mpeg.PCMFormat();
      ASSERT_NE(pcm, nullptr);
      const std::uint16_t align = file.channels * row.bits / 8;
      EXPECT_EQ(pcm->wFormatTag, row.tag) << file.path << " " << row.format;
      EXPECT_EQ(pcm->wBitsPerSample, row.bits) << file.path << " " << row.format;
      EXPECT_EQ(pcm->nChannels, file.channels) << file.path << " " << row.format;
      EXPECT_EQ(pcm->nBlockAlign, align) << file.path << " " << row.format;
      EXPECT_EQ(pcm->nAvgBytesPerSec, file.rate * align) << file.path << " " << row.format;
      // Positioning decodes one frame at a time into the scratch buffer.
      EXPECT_EQ(mpeg.BytesPerFrame(), 1152 * align) << file.path;
      EXPECT_LE(mpeg.BytesPerFrame(), kScratchBytes) << file.path;
    }
  }

  // Fixed while open, like the other properties; a bad value is the library's to refuse.
  mpeg.OpenFile();
  EXPECT_THROW(mpeg.SetSampleFormat(MPEG_SAMPLES_S24), EMMMpegError);
  EXPECT_EQ(mpeg.SampleFormat(), MPEG_SAMPLES_FLOAT32);
  mpeg.CloseFile();
  EXPECT_THROW(mpeg.SetSampleFormat(7), EMMMpegError);
  EXPECT_EQ(mpeg.ClippedSamples(), 0);  // the fixtures stay below full scale
}

}  // namespace
}  // namespace sources::test
