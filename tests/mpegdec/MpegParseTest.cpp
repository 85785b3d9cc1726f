// Frame headers and the rules for the first frames, on built bytes; the tag and RIFF parsers on
// random bytes (the fixtures cover them in real files).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "mpegdec/MpegParse.h"

namespace mpegdec {
namespace {

using Bytes = std::vector<uint8_t>;

// `count` frames with the header 0xFF h1 h2 h3 and zero bodies, `length` bytes each.
void appendFrames(Bytes& bytes, int count, uint8_t h1, uint8_t h2, uint8_t h3, size_t length) {
  for (int i = 0; i < count; ++i) {
    const size_t start = bytes.size();
    bytes.insert(bytes.end(), {0xFF, h1, h2, h3});
    bytes.resize(start + length);
  }
}

ByteReader readerOf(const Bytes& b) {
  return [&b](uint64_t offset, void* buffer, size_t size) -> size_t {
    if (offset >= b.size()) return 0;
    const size_t n = std::min<size_t>(size, b.size() - size_t(offset));
    std::memcpy(buffer, b.data() + offset, n);
    return n;
  };
}

TEST(MpegParse, HeadersOfEveryVersionAndLayer) {
  struct Case {
    uint8_t b[4];
    int version, layer, rate, bitrate, length, samples;
  };
  const Case cases[] = {
      {{0xFF, 0xFB, 0x90, 0x64}, 0, 3, 44100, 128, 417, 1152},
      {{0xFF, 0xFB, 0x92, 0x64}, 0, 3, 44100, 128, 418, 1152},  // padded
      {{0xFF, 0xF3, 0x80, 0xC4}, 1, 3, 22050, 64, 208, 576},
      {{0xFF, 0xE3, 0x18, 0xC4}, 2, 3, 8000, 8, 72, 576},
      {{0xFF, 0xFD, 0x94, 0x00}, 0, 2, 48000, 160, 480, 1152},
      {{0xFF, 0xFF, 0x66, 0x00}, 0, 1, 48000, 192, 196, 384},  // layer I pads 4 bytes
      {{0xFF, 0xFB, 0x00, 0x00}, 0, 3, 44100, 0, 0, 1152},     // free format
  };
  for (const Case& c : cases) {
    const auto h = parseFrameHeader(c.b);
    ASSERT_TRUE(h) << int(c.b[1]) << " " << int(c.b[2]);
    EXPECT_EQ(h->version, c.version);
    EXPECT_EQ(h->layer, c.layer);
    EXPECT_EQ(h->sampleRate, c.rate);
    EXPECT_EQ(h->bitrate, c.bitrate);
    EXPECT_EQ(h->length, c.length);
    EXPECT_EQ(h->samplesPerFrame, c.samples);
  }
  // Reserved version, reserved layer, bit rate index 15, reserved rate, reserved emphasis.
  const uint8_t invalid[][4] = {{0xFF, 0xEB, 0x90, 0x64},
                                {0xFF, 0xF9, 0x90, 0x64},
                                {0xFF, 0xFB, 0xF0, 0x64},
                                {0xFF, 0xFB, 0x9C, 0x64},
                                {0xFF, 0xFB, 0x90, 0x66}};
  for (const auto& bytes : invalid) EXPECT_FALSE(parseFrameHeader(bytes));
}

TEST(MpegParse, ARunNeedsConsecutiveHeadersOfOneStream) {
  Bytes junk(1000, 0x20);
  junk[10] = 0xFF;  // a false frame header in the junk
  junk[11] = 0xFB;
  junk[12] = 0x90;
  Bytes four = junk;
  appendFrames(four, 4, 0xFB, 0x90, 0x64, 417);
  four.resize(four.size() + 300, 0x55);
  const auto run = findFrameRun(four, 1 << 20, 4, false);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->offset, 1000u);
  EXPECT_FALSE(findFrameRun(four, 999, 4, false)) << "the search stops at its limit";

  Bytes three = junk;
  appendFrames(three, 3, 0xFB, 0x90, 0x64, 417);
  three.resize(three.size() + 3000, 0x55);
  EXPECT_FALSE(findFrameRun(three, 1 << 20, 4, true));

  // A short stream counts when it ends exactly where its last frame does.
  Bytes shortStream = junk;
  appendFrames(shortStream, 2, 0xF3, 0x80, 0xC4, 208);
  EXPECT_TRUE(findFrameRun(shortStream, 1 << 20, 4, true));
  EXPECT_FALSE(findFrameRun(shortStream, 1 << 20, 4, false));

  // The rate changes after the first frame: the run starts at the second.
  Bytes mixed;
  appendFrames(mixed, 1, 0xFB, 0x90, 0x64, 417);
  appendFrames(mixed, 4, 0xFB, 0x94, 0x64, 384);
  EXPECT_EQ(findFrameRun(mixed, 1 << 20, 4, false)->offset, 417u);

  // Free format: the frame size is the distance to the next header.
  Bytes free(7, 0);
  appendFrames(free, 5, 0xFB, 0x00, 0x64, 653);
  ASSERT_TRUE(findFrameRun(free, 1 << 20, 4, false));
  EXPECT_EQ(findFrameRun(free, 1 << 20, 4, false)->offset, 7u);
}

TEST(MpegParse, FrameMapSkipsJunkAndCutFramesButKeepsStreamChanges) {
  Bytes b;
  appendFrames(b, 5, 0xFB, 0x90, 0x64, 417);
  const size_t junk = b.size();
  b.resize(junk + 700, 0x33);
  std::memcpy(&b[junk + 100], "\xFF\xFB\x90\x64", 4);  // a false header
  const size_t second = b.size();
  appendFrames(b, 4, 0xFB, 0x90, 0x64, 417);
  appendFrames(b, 4, 0xFB, 0x94, 0x64, 384);  // 48 kHz from here
  const size_t end = b.size();
  appendFrames(b, 1, 0xFB, 0x90, 0x64, 417);
  b.resize(end + 200);  // the last frame is cut short
  const auto spans = mapFrames(readerOf(b), ByteRange{0, b.size()}, 4, 1 << 20);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].begin, 0u);
  EXPECT_EQ(spans[0].end, junk);
  EXPECT_EQ(spans[1].begin, second);
  EXPECT_EQ(spans[1].end, end);
}

TEST(MpegParse, TheLargestFrameCountThatAnInfoHeaderClaims) {
  // A header: tag, flags, and with flag 1 a big-endian frame count.
  const auto header = [](const char* tag, uint8_t flags, uint32_t frames) {
    Bytes h(tag, tag + 4);
    h.insert(h.end(), {0, 0, 0, flags, uint8_t(frames >> 24), uint8_t(frames >> 16),
                       uint8_t(frames >> 8), uint8_t(frames)});
    return h;
  };
  const auto at = [](size_t offset, const Bytes& h) {
    Bytes b(offset + 64, 0x55);
    std::copy(h.begin(), h.end(), b.begin() + long(offset));
    return b;
  };
  const struct {
    const char* name;
    Bytes bytes;
    uint64_t claimed;
  } rows[] = {
      {"Info with a count", at(36, header("Info", 0x0F, 1234)), 1234},
      {"Xing with a count", at(21, header("Xing", 0x01, 0xFFFFFF03)), 0xFFFFFF03},
      {"Xing without one", at(21, header("Xing", 0x0E, 0xFFFFFF03)), 0},
      {"past the search", at(300, header("Info", 0x0F, 99)), 0},
      {"none", Bytes(400, 0x55), 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(claimedInfoFrames(readerOf(row.bytes), ByteRange{0, row.bytes.size()}, 256),
              row.claimed)
        << row.name;
  }
  Bytes two = at(36, header("Info", 0x0F, 7));
  const Bytes second = header("Xing", 0x01, 70000);
  two.insert(two.end(), second.begin(), second.end());
  EXPECT_EQ(claimedInfoFrames(readerOf(two), ByteRange{0, two.size()}, 1 << 20), 70000u);
}

TEST(MpegParse, RandomBytesAreHandledWithinBounds) {
  std::mt19937 random(7);
  for (int round = 0; round < 400; ++round) {
    Bytes b(random() % 6000 + 200);
    for (auto& byte : b) byte = random() % 4 == 0 ? 0xFF : uint8_t(random());
    const auto put = [&b](size_t at, const char* text, size_t size) {
      std::memcpy(&b[at], text, size);
    };
    if (round % 4 == 0) put(0, "RIFF\0\0\0\0WAVEfmt \x12\0\0\0", 20);
    if (round % 4 == 1) put(0, "ID3\3\0\0\0\0\x10\0", 10);
    if (round % 4 == 2) put(b.size() - 160, "APETAGEX\xd0\x07", 10);
    if (round % 4 == 3) put(b.size() - 128, "TAG", 3);
    const ByteReader read = readerOf(b);
    ByteRange range{0, b.size()};
    locateRiffData(read, b.size(), range);
    EXPECT_LE(range.end, b.size());
    range = ByteRange{0, b.size()};
    skipLeadingTags(read, range);
    trimTrailingTags(read, range);
    EXPECT_LE(range.end, b.size());
    if (const auto run = findFrameRun(b, b.size(), 4, round % 2 == 0)) {
      EXPECT_LT(run->offset, b.size());
    }
    for (const FrameSpan& span : mapFrames(read, ByteRange{0, b.size()}, 2, 1000)) {
      EXPECT_LT(span.begin, span.end);
      EXPECT_LE(span.end, b.size());
    }
  }
}

}  // namespace
}  // namespace mpegdec
