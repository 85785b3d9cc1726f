// Data written at their places through the handle's own file (WaveIOReserveData, WaveIOWriteAt),
// and single chunks read back from a described file (WaveIOReadChunk).
#include <gtest/gtest.h>

#include <thread>

#include "WaveTestFiles.h"
#include "wave/WaveIO.h"

namespace wave {
namespace {

using namespace wavetest;

class WaveIOWriteAtTest : public TempDirTest {};

TEST_F(WaveIOWriteAtTest, ReservedDataFilledFromSeveralThreadsInAnyOrder) {
  const stream::TWaveFormatEx format = PcmFormat(2, 44100, 16);
  const Bytes data = Ramp(4 * 100000);  // 100000 frames
  for (const bool rf64 : {false, true}) {
    SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
    const std::string path = Path(rf64 ? "rf64.wav" : "riff.wav");
    WaveIOHandlePtr h;
    ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
    ASSERT_EQ(WaveIOSetInfoText(h.get(), "INAM", "Title"), kWaveIOOk);
    h->rf64 = rf64;
    ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
    const auto size = std::int64_t(data.size());
    ASSERT_EQ(WaveIOReserveData(h.get(), size), size);
    // Outside the reserved data nothing is written.
    EXPECT_EQ(WaveIOWriteAt(h.get(), data.data(), 8, data.size() - 4), -1);
    EXPECT_EQ(WaveIOWriteAt(h.get(), data.data(), 0, 0), -1);
    // Four parts, the later ones first, two threads at a time.
    const std::size_t part = data.size() / 4;
    const auto write = [&](std::size_t i) {
      EXPECT_EQ(WaveIOWriteAt(h.get(), data.data() + i * part, std::int64_t(part), i * part),
                std::int64_t(part));
    };
    for (std::size_t i : {3u, 1u}) {
      std::thread other(write, i - 1);
      write(i);
      other.join();
    }
    ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);

    WaveIOHandlePtr back;
    ASSERT_EQ(ReadInfo(back, path), kWaveIOOk);
    EXPECT_EQ(back->rf64, rf64);
    EXPECT_EQ(back->samples, 100000);
    Bytes read;
    ASSERT_EQ(ReadAll(back.get(), read, 65536), kWaveIOOk);
    EXPECT_TRUE(read == data);
    const TInfoItem* title = InfoListFind(back->info.get(), MakeFourCC('I', 'N', 'A', 'M'));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(InfoItemText(*back->info, *title), "Title");
  }
}

TEST_F(WaveIOWriteAtTest, ReadsOneChunkOfADescribedFile) {
  const Bytes fmt = PcmFmt(1, 8000, 16);
  const Bytes id3 = Str("ID3 tag body");
  struct Row {
    const char* name;
    Bytes file;
    std::uint64_t max;
    int result;
  };
  const Row rows[] = {
      {"after the data", Riff(Cat({fmt, Chunk("data", Ramp(7)), Chunk("id3 ", id3)})), 1024,
       kWaveIOOk},
      {"before the data", Riff(Cat({fmt, Chunk("id3 ", id3), Chunk("data", Ramp(8))})), 1024,
       kWaveIOOk},
      {"larger than taken", Riff(Cat({fmt, Chunk("data", Ramp(8)), Chunk("id3 ", id3)})), 4,
       kWaveIOChunkTooLarge},
      {"none", Riff(Cat({fmt, Chunk("data", Ramp(8))})), 1024, kWaveIONoChunk},
      {"cut short",
       Cat({Riff(Cat({fmt, Chunk("data", Ramp(8))})), RawChunk("id3 ", 100, Str("ID3"))}), 1024,
       kWaveIOReadFailed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = Put("chunk.wav", row.file);
    WaveIOHandlePtr h;
    ASSERT_EQ(ReadInfo(h, path), kWaveIOOk);
    std::vector<char> body;
    EXPECT_EQ(WaveIOReadChunk(*h, kFourCCId3, row.max, body), row.result);
    if (row.result == kWaveIOOk) {
      EXPECT_EQ(std::string(body.begin(), body.end()), "ID3 tag body");
    } else {
      EXPECT_TRUE(body.empty());
    }
  }
}

}  // namespace
}  // namespace wave
