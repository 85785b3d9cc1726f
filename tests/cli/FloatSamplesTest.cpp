#include "cli/FloatSamples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cli/OutputDepth.h"

namespace cli {
namespace {

stream::TWaveFormatEx Plain(std::uint16_t tag, std::uint16_t bits) {
  return {tag, 2, 44100, 0, 0, bits, 0};
}

TEST(FloatSamplesTest, LayoutsOfStoredFormats) {
  EXPECT_EQ(RawSamplesOf(nullptr), std::nullopt);
  struct Row {
    const char* name;
    stream::TWaveFormatEx format;
    std::optional<RawSamples> layout;
  };
  const Row rows[] = {
      {"PCM 8", Plain(1, 8), RawSamples::kUnsigned8},
      {"PCM 16", Plain(1, 16), RawSamples::kSigned16},
      {"PCM 24", Plain(1, 24), RawSamples::kSigned24},
      {"PCM 32", Plain(1, 32), RawSamples::kSigned32},
      {"PCM 12", Plain(1, 12), std::nullopt},
      {"float 32", Plain(3, 32), RawSamples::kFloat32},
      {"float 64", Plain(3, 64), RawSamples::kFloat64},
      {"float 16", Plain(3, 16), std::nullopt},
      {"IMA ADPCM", Plain(0x11, 4), std::nullopt},
      {"extensible without its extra bytes", Plain(0xFFFE, 24), std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(RawSamplesOf(&row.format), row.layout) << row.name;

  // The extensible records the converter writes are read back as what they hold.
  const auto layoutOf = [](const std::vector<char>& record) {
    return RawSamplesOf(reinterpret_cast<const stream::TWaveFormatEx*>(record.data()));
  };
  EXPECT_EQ(layoutOf(MakeOutputFormat(OutputDepth::k24, 2, 44100)), RawSamples::kSigned24);
  EXPECT_EQ(layoutOf(MakeOutputFormat(OutputDepth::k32, 6, 48000)), RawSamples::kSigned32);
  // Fewer valid bits than stored ones: not taken as plain samples.
  std::vector<char> padded = MakeOutputFormat(OutputDepth::k24, 2, 44100);
  const std::uint16_t twenty = 20;
  std::memcpy(padded.data() + sizeof(stream::TWaveFormatEx), &twenty, 2);
  EXPECT_EQ(layoutOf(padded), std::nullopt);
}

TEST(FloatSamplesTest, ExtremesAndSignsOfEveryLayout) {
  const float f32[] = {-1.0f, 0.25f};
  double f64[] = {0.5, -0.125};
  std::vector<unsigned char> floats(sizeof f32), doubles(sizeof f64);
  std::memcpy(floats.data(), f32, sizeof f32);
  std::memcpy(doubles.data(), f64, sizeof f64);
  struct Row {
    RawSamples layout;
    std::vector<unsigned char> bytes;
    std::vector<float> expected;
  };
  const Row rows[] = {
      {RawSamples::kUnsigned8, {0x00, 0x80, 0xFF}, {-1.0f, 0.0f, 127 / 128.0f}},
      {RawSamples::kSigned16,
       {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF},
       {-1.0f, 32767 / 32768.0f, -1 / 32768.0f}},
      {RawSamples::kSigned24,
       {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x40},
       {-1.0f, 8388607 / 8388608.0f, -1 / 8388608.0f, 0.5f}},
      {RawSamples::kSigned32, {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xC0}, {-1.0f, -0.5f}},
      {RawSamples::kFloat32, floats, {-1.0f, 0.25f}},
      {RawSamples::kFloat64, doubles, {0.5f, -0.125f}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.layout));
    ASSERT_EQ(row.bytes.size(), row.expected.size() * RawSampleBytes(row.layout));
    std::vector<float> out(row.expected.size());
    ToFloat(row.layout, row.bytes.data(), out.size(), out.data());
    EXPECT_EQ(out, row.expected);
  }
  const unsigned char eight[] = {0x00, 0x80, 0xFF};
  unsigned char sixteen[6];
  Widen8To16(eight, 3, sixteen);
  EXPECT_EQ(std::vector<unsigned char>(sixteen, sixteen + 6),
            (std::vector<unsigned char>{0x00, 0x80, 0x00, 0x00, 0x00, 0x7F}));
}

}  // namespace
}  // namespace cli
