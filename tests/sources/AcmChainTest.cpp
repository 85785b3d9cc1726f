// The conversion chain on its own: how its output is taken, and source bytes that one call
// leaves for the next, up to a whole block of a format with large blocks.
#include "sources/AcmChain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "tests/sources/SourcesTestFiles.h"

namespace sources::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Converts `in` in pieces of `piece` bytes, taking each conversion's output in reads of `read`
// bytes.
Bytes ConvertInPieces(AcmChain& chain, const Bytes& in, std::size_t piece, std::uint32_t read) {
  Bytes out;
  for (std::size_t at = 0; at < in.size(); at += piece) {
    const auto n = static_cast<std::uint32_t>(std::min(piece, in.size() - at));
    std::memcpy(chain.SourceBuffer(), in.data() + at, n);
    const std::int64_t produced = chain.ConvertStep(n);
    EXPECT_GE(produced, 0) << "at " << at;
    if (produced < 0) break;
    EXPECT_EQ(chain.Pending(), static_cast<std::uint32_t>(produced));
    std::uint32_t left = chain.Pending();
    while (chain.Pending() > 0) {
      const auto bytes = chain.Read(read);
      EXPECT_EQ(bytes.size(), std::min(read, left));
      left -= static_cast<std::uint32_t>(bytes.size());
      EXPECT_EQ(chain.Pending(), left);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(chain.Read(read).empty());
  }
  return out;
}

TEST(AcmChainTest, OutputIsTakenInOrderUntilNothingIsPending) {
  const stream::TWaveFormatEx from = Pcm(1, 8000, 16);
  const stream::TWaveFormatEx to = Pcm(1, 8000, 8);
  auto chain = AcmChain::Build(&from, &to, cqLow, 8192);
  ASSERT_NE(chain, nullptr);
  Bytes in;
  Bytes expected;
  for (int i = 0; i < 9000; ++i) {
    const auto sample = static_cast<std::int16_t>(i * 7 - 30000);
    in.push_back(static_cast<std::uint8_t>(sample & 0xFF));
    in.push_back(static_cast<std::uint8_t>(sample >> 8));
    expected.push_back(static_cast<std::uint8_t>(sample / 256 + 128));
  }

  struct Row {
    const char* name;
    std::size_t piece;
    std::uint32_t read;
  };
  for (const Row& row : {Row{"whole reads", 8192, 1u << 20}, Row{"small reads", 8192, 333},
                         Row{"one byte at a time", 5000, 1}, Row{"odd pieces", 999, 4096}}) {
    EXPECT_EQ(ConvertInPieces(*chain, in, row.piece, row.read), expected) << row.name;
  }

  // Unread output goes away when it is discarded or the chain is reset.
  std::memcpy(chain->SourceBuffer(), in.data(), 4000);
  ASSERT_EQ(chain->ConvertStep(4000), 2000);
  EXPECT_EQ(chain->Read(500).size(), 500u);
  chain->DiscardOutput();
  EXPECT_EQ(chain->Pending(), 0u);
  EXPECT_TRUE(chain->Read(100).empty());
  ASSERT_EQ(chain->ConvertStep(4000), 2000);
  chain->ResetChain();
  EXPECT_EQ(chain->Pending(), 0u);
}

// IMA ADPCM mono with one 8192-byte block: 4 header bytes (predictor, step index, 0), then
// 8188 bytes of two samples each, 16377 samples in all.
stream::TWaveFormatEx LargeBlockAdpcm() {
  constexpr std::uint16_t kBlock = 8192;
  return stream::TWaveFormatEx{0x0011, 1, 8000, 4000, kBlock, 4, 0};
}

Bytes AdpcmBlocks(int blocks) {
  std::mt19937 random(7);
  Bytes bytes(static_cast<std::size_t>(blocks) * LargeBlockAdpcm().nBlockAlign);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  for (std::size_t at = 0; at < bytes.size(); at += LargeBlockAdpcm().nBlockAlign) {
    bytes[at + 2] = static_cast<std::uint8_t>(bytes[at + 2] % 89);  // a valid step index
    bytes[at + 3] = 0;
  }
  return bytes;
}

TEST(AcmChainTest, KeepsEveryLeftoverOfAFormatWithLargeBlocks) {
  const stream::TWaveFormatEx adpcm = LargeBlockAdpcm();
  const stream::TWaveFormatEx pcm = Pcm(1, 8000, 16);
  constexpr int kBlocks = 5;
  constexpr std::size_t kSamplesPerBlock = 16377;
  const Bytes in = AdpcmBlocks(kBlocks);

  auto whole = AcmChain::Build(&adpcm, &pcm, cqLow, 8192);
  ASSERT_NE(whole, nullptr);
  const Bytes expected = ConvertInPieces(*whole, in, adpcm.nBlockAlign, 1u << 20);
  ASSERT_EQ(expected.size(), kBlocks * kSamplesPerBlock * 2);

  // Pieces that leave up to a whole block but one byte behind for the next call.
  for (std::size_t piece : {3000u, 5001u, 8191u}) {
    auto chain = AcmChain::Build(&adpcm, &pcm, cqLow, 8192);
    ASSERT_NE(chain, nullptr);
    const Bytes out = ConvertInPieces(*chain, in, piece, 4096);
    EXPECT_EQ(out.size(), expected.size()) << piece;
    EXPECT_TRUE(out == expected) << piece;
  }
}

}  // namespace
}  // namespace sources::test
