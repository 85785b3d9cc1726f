#include "cli/OutputDepth.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "acm/ExtensibleFormat.h"
#include "stream/WaveFormat.h"

namespace cli {
namespace {

TEST(OutputDepthTest, ParsesTheFourDepths) {
  EXPECT_EQ(ParseOutputDepth("16"), OutputDepth::k16);
  EXPECT_EQ(ParseOutputDepth("24"), OutputDepth::k24);
  EXPECT_EQ(ParseOutputDepth("32"), OutputDepth::k32);
  EXPECT_EQ(ParseOutputDepth("32f"), OutputDepth::k32Float);
  for (const char* junk : {"", "8", "32F", "24f", " 16", "16 ", "016", "float"})
    EXPECT_FALSE(ParseOutputDepth(junk).has_value()) << '"' << junk << '"';
}

TEST(OutputDepthTest, FormatRecords) {
  struct Case {
    OutputDepth depth;
    int channels;
    int rate;
    std::uint16_t tag;
    std::uint16_t blockAlign;
    std::uint16_t bits;
    std::uint16_t extraBytes;
    std::uint32_t speakers;  // extensible records only
  };
  const Case kCases[] = {
      {OutputDepth::k16, 2, 44100, 1, 4, 16, 0, 0},
      {OutputDepth::k16, 1, 8000, 1, 2, 16, 0, 0},
      {OutputDepth::k24, 2, 48000, 0xFFFE, 6, 24, 22, 0x3},
      {OutputDepth::k24, 1, 22050, 0xFFFE, 3, 24, 22, 0x4},
      {OutputDepth::k32, 2, 44100, 0xFFFE, 8, 32, 22, 0x3},
      {OutputDepth::k32, 1, 32000, 0xFFFE, 4, 32, 22, 0x4},
      {OutputDepth::k32Float, 2, 44100, 3, 8, 32, 0, 0},
      {OutputDepth::k32Float, 1, 48000, 3, 4, 32, 0, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << BitsPerSample(c.depth) << " bits, " << c.channels << " channels");
    const std::vector<char> bytes = MakeOutputFormat(c.depth, c.channels, c.rate);
    ASSERT_EQ(bytes.size(), 18u + c.extraBytes);
    stream::TWaveFormatEx format;
    std::memcpy(&format, bytes.data(), sizeof(format));
    EXPECT_EQ(format.wFormatTag, c.tag);
    EXPECT_EQ(format.nChannels, c.channels);
    EXPECT_EQ(format.nSamplesPerSec, static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(format.nBlockAlign, c.blockAlign);
    EXPECT_EQ(format.nAvgBytesPerSec, static_cast<std::uint32_t>(c.rate) * c.blockAlign);
    EXPECT_EQ(format.wBitsPerSample, c.bits);
    EXPECT_EQ(format.cbSize, c.extraBytes);
    EXPECT_EQ(stream::WaveFormatSize(&format), bytes.size());
    if (c.extraBytes == 0) continue;
    std::uint16_t validBits = 0;
    std::uint32_t speakers = 0;
    acm::Guid subFormat{};
    std::memcpy(&validBits, bytes.data() + 18, 2);
    std::memcpy(&speakers, bytes.data() + 20, 4);
    std::memcpy(subFormat.data(), bytes.data() + 24, 16);
    EXPECT_EQ(validBits, c.bits);
    EXPECT_EQ(speakers, c.speakers);
    EXPECT_EQ(subFormat, acm::kSubFormatPcm);
  }
}

TEST(OutputDepthTest, RefusesImpossibleLayouts) {
  EXPECT_THROW(MakeOutputFormat(OutputDepth::k16, 0, 44100), std::invalid_argument);
  EXPECT_THROW(MakeOutputFormat(OutputDepth::k24, 9, 44100), std::invalid_argument);
  EXPECT_THROW(MakeOutputFormat(OutputDepth::k32Float, 2, 0), std::invalid_argument);
}

}  // namespace
}  // namespace cli
