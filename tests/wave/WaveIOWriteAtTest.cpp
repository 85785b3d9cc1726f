// Data written or copied at their places through the handle's own file (WaveIOReserveData,
// WaveIOWriteAt, WaveIOCopyAt), and single chunks read back from a described file
// (WaveIOReadChunk).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <thread>

#include "platform/FileDescriptor.h"

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

TEST_F(WaveIOWriteAtTest, ReservedDataCopiedFromAnotherFileInsideTheKernelOrThroughABuffer) {
  const stream::TWaveFormatEx format = PcmFormat(2, 44100, 16);
  const Bytes data = Ramp(4 * 300001);
  struct Row {
    const char* name;
    std::size_t shift;  // of the source's data against the output's, in their pages
    bool memory;        // the source in memory, on a file system of its own
  };
  const Row rows[] = {
      // copy_file_range copies it.
      {"same file system, in step", 0, false},
      // The kernel would shift every byte: a buffer does.
      {"same file system, out of step", 100, false},
      // The kernel will not copy across file systems: a buffer does.
      {"another file system", 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = Path("copy.wav");
    WaveIOHandlePtr h;
    ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
    ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
    const auto size = std::int64_t(data.size());
    ASSERT_EQ(WaveIOReserveData(h.get(), size + 8), size + 8);
    // The source holds something else before the data.
    const auto at = std::int64_t(h->dataOffset + row.shift);
    const Bytes stored = Cat({Bytes(at, 0xEE), data});
    platform::FileDescriptor source(row.memory
                                        ? ::memfd_create("source", 0)
                                        : ::open(Put("source.bin", stored).c_str(), O_RDONLY));
    ASSERT_GE(source.Get(), 0);
    if (row.memory) {
      ASSERT_EQ(::write(source.Get(), stored.data(), stored.size()), ssize_t(stored.size()));
    }
    EXPECT_EQ(WaveIOCopyAt(h.get(), source.Get(), at, 8, data.size() + 4), -1);
    // The second part first; the last copy asks for more than the source has.
    const std::int64_t half = size / 2;
    EXPECT_EQ(WaveIOCopyAt(h.get(), source.Get(), at + half, size - half, half), size - half);
    EXPECT_EQ(WaveIOCopyAt(h.get(), source.Get(), at, half, 0), half);
    EXPECT_EQ(WaveIOCopyAt(h.get(), source.Get(), at + size - 4, 12, size - 4), 4);
    ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);

    WaveIOHandlePtr back;
    ASSERT_EQ(ReadInfo(back, path), kWaveIOOk);
    Bytes read;
    ASSERT_EQ(ReadAll(back.get(), read, 65536), kWaveIOOk);
    ASSERT_EQ(read.size(), data.size() + 8);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), read.begin()));
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
