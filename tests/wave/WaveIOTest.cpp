#include "wave/WaveIO.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "WaveTestFiles.h"

namespace wave {
namespace {

using namespace wavetest;
using stream::TWaveFormatEx;

class WaveIOTest : public TempDirTest {};

TEST_F(WaveIOTest, OneSecondOfCdAudioHasTheExpectedLayout) {
  const TWaveFormatEx format = PcmFormat(2, 44100, 16);
  const Bytes data = Ramp(176400);
  const std::string path = Path("cd.wav");
  WaveIOHandlePtr h;
  ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
  ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
  ASSERT_EQ(WaveIOWrite(h.get(), data.data(), 176400), 176400);
  // Until the file is finalized both sizes stay 0 on disk.
  ASSERT_EQ(platform::mmioFlush(h->file, 0), 0);
  const Bytes before = Load(path);
  EXPECT_EQ(Slice(before, 4, 4), U32(0));
  EXPECT_EQ(Slice(before, 42, 4), U32(0));

  ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);
  EXPECT_EQ(h->fileSize, 176458u);
  const Bytes disk = Load(path);
  ASSERT_EQ(disk.size(), 176458u);
  EXPECT_EQ(Slice(disk, 0, 46),
            Cat({Str("RIFF"), U32(176450), Str("WAVEfmt "), U32(18), U16(1), U16(2), U32(44100),
                 U32(176400), U16(4), U16(16), U16(0), Str("data"), U32(176400)}));
  EXPECT_TRUE(Slice(disk, 46, 176400) == data);
  EXPECT_EQ(Slice(disk, 176446, 12), Cat({Str("fact"), U32(4), U32(44100)}));

  WaveIOHandlePtr r;
  ASSERT_EQ(ReadInfo(r, path), kWaveIOOk);
  EXPECT_EQ(std::memcmp(r->Format(), &format, sizeof format), 0);
  EXPECT_EQ(r->dataOffset, 46u);
  EXPECT_EQ(r->dataBytes, 176400u);
  EXPECT_EQ(r->samples, 44100);
}

TEST_F(WaveIOTest, RiffSizeIsFiftyPlusDataPlusPad) {
  TWaveFormatEx format = PcmFormat(1, 8000, 8);
  format.cbSize = 7;  // not written for PCM
  for (const std::size_t n : {0, 1, 2, 3, 7, 8191, 8192, 8193, 20001}) {
    SCOPED_TRACE(n);
    const std::size_t pad = n & 1;
    const Bytes data = Ramp(n, 1);
    WriteWave(Path("n.wav"), &format, data, 3000);
    const Bytes disk = Load(Path("n.wav"));
    ASSERT_EQ(disk.size(), 58 + n + pad);
    EXPECT_EQ(GetU32(disk, 4), 50 + n + pad);
    EXPECT_EQ(Slice(disk, 36, 10), Cat({U16(0), Str("data"), U32(std::uint32_t(n))}));
    EXPECT_TRUE(Slice(disk, 46, n + pad) == Cat({data, Bytes(pad, 0)}));
    EXPECT_EQ(Slice(disk, 46 + n + pad, 12), Cat({Str("fact"), U32(4), U32(std::uint32_t(n))}));

    WaveIOHandlePtr r;
    ASSERT_EQ(ReadInfo(r, Path("n.wav")), kWaveIOOk);
    EXPECT_EQ(r->dataOffset, 46u);
    EXPECT_EQ(r->dataBytes, n);
    EXPECT_EQ(r->samples, std::int64_t(n));
    Bytes back;
    ASSERT_EQ(ReadAll(r.get(), back, 1000), kWaveIOOk);
    EXPECT_TRUE(back == data);
  }
}

TEST_F(WaveIOTest, NonPcmFormatKeepsItsExtraBytes) {
  // IMA ADPCM, 22050 Hz mono, 512-byte blocks of 1017 samples.
  const Bytes record = Cat({FmtBody(0x11, 1, 22050, 11100, 512, 4), U16(2), U16(1017)});
  WriteWave(Path("ima.wav"), reinterpret_cast<const TWaveFormatEx*>(record.data()), Ramp(1024));
  const Bytes disk = Load(Path("ima.wav"));
  ASSERT_EQ(disk.size(), 1084u);
  EXPECT_EQ(Slice(disk, 4, 44),
            Cat({U32(1076), Str("WAVEfmt "), U32(20), record, Str("data"), U32(1024)}));
  EXPECT_EQ(Slice(disk, 1072, 12), Cat({Str("fact"), U32(4), U32(2034)}));

  WaveIOHandlePtr r;
  ASSERT_EQ(ReadInfo(r, Path("ima.wav")), kWaveIOOk);
  EXPECT_EQ(Bytes(r->format.begin(), r->format.end()), record);
  EXPECT_EQ(r->dataOffset, 48u);
  EXPECT_EQ(r->dataBytes, 1024u);
  EXPECT_EQ(r->samples, 2034);
  EXPECT_EQ(WaveFormatName(r->Format()), "IMA ADPCM");
}

TEST_F(WaveIOTest, ReaderRepairsWhatTheRulesAllow) {
  const Bytes fmt8 = PcmFmt(1, 8000, 8);
  const auto fmt = [](const Bytes& body) { return Chunk("fmt ", body); };
  const Bytes alaw = FmtBody(6, 1, 8000, 8000, 1, 8);
  const struct {
    const char* name;
    Bytes file;
    std::uint16_t align;
    std::uint32_t avg;
    std::uint16_t cbSize;
    std::uint64_t dataOffset, dataBytes;
  } cases[] = {
      {"16-byte fmt of a non-PCM format", Riff(Cat({fmt(alaw), Chunk("data", Ramp(10))})), 1, 8000,
       0, 44, 10},
      {"cbSize cut to what the chunk holds",
       Riff(Cat({fmt(Cat({alaw, U16(9), U16(5)})), Chunk("data", Ramp(10))})), 1, 8000, 2, 48, 10},
      {"PCM block size from bits and channels, data rounded by the old one first",
       Riff(Cat({fmt(FmtBody(1, 1, 8000, 32000, 4, 8)), Chunk("data", Ramp(10))})), 1, 8000, 0, 44,
       8},
      {"PCM block size from bits and channels, data in whole frames of both",
       Riff(Cat({fmt(FmtBody(1, 3, 8000, 72000, 4, 24)), Chunk("data", Ramp(45))})), 9, 72000, 0,
       44, 36},
      {"PCM block size 0 derived",
       Riff(Cat({fmt(FmtBody(1, 2, 8000, 0, 0, 16)), Chunk("data", Ramp(10))})), 4, 32000, 0, 44,
       8},
      {"data size past the end of the file",
       Riff(Cat({PcmFmt(2, 8000, 16), RawChunk("data", 1000, Ramp(14))})), 4, 32000, 0, 44, 12},
      {"odd data, pad byte, next chunk",
       Riff(Cat({fmt8, Chunk("data", Ramp(5)), Chunk("junk", Ramp(4))})), 1, 8000, 0, 44, 5},
      {"fact disagreeing with the data",
       Riff(Cat({fmt8, Chunk("data", Ramp(100)), Chunk("fact", U32(10))})), 1, 8000, 0, 44, 100},
      {"second fmt ends the walk",
       Riff(Cat({fmt8, Chunk("data", Ramp(8)), PcmFmt(2, 44100, 16), Chunk("data", Ramp(99)),
                 ListInfo(Chunk("INAM", Sz("x")))})),
       1, 8000, 0, 44, 8},
      {"RIFF size bigger than the file", RiffSized(100000, Cat({fmt8, Chunk("data", Ramp(6))})), 1,
       8000, 0, 44, 6},
      {"data end at a chunk that runs past the RIFF size",
       RiffSized(50, Cat({fmt8, Chunk("data", Ramp(6)), RawChunk("junk", 99, {})})), 1, 8000, 0, 44,
       6},
      {"empty data chunk, then the real one",
       Riff(Cat({fmt8, Chunk("data", {}), Chunk("data", Ramp(7))})), 1, 8000, 0, 52, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WaveIOHandlePtr r;
    ASSERT_EQ(ReadInfo(r, Put("r.wav", c.file)), kWaveIOOk);
    EXPECT_EQ(r->Format()->nBlockAlign, c.align);
    EXPECT_EQ(r->Format()->nAvgBytesPerSec, c.avg);
    EXPECT_EQ(r->Format()->cbSize, c.cbSize);
    EXPECT_EQ(r->dataOffset, c.dataOffset);
    EXPECT_EQ(r->dataBytes, c.dataBytes);
    EXPECT_EQ(r->samples, std::int64_t(c.dataBytes / c.align));  // whatever "fact" says
    EXPECT_FALSE(r->info->raw);  // nothing after the second "fmt " was read
    Bytes back;
    ASSERT_EQ(ReadAll(r.get(), back, 3), kWaveIOOk);
    EXPECT_TRUE(back == Slice(c.file, c.dataOffset, c.dataBytes));
  }
}

TEST_F(WaveIOTest, SeekAndRead) {
  const TWaveFormatEx format = PcmFormat(2, 8000, 16);
  const Bytes data = Ramp(1000);
  WriteWave(Path("s.wav"), &format, data);
  const Bytes file = Load(Path("s.wav"));
  WaveIOHandlePtr r;
  ASSERT_EQ(ReadInfo(r, Path("s.wav")), kWaveIOOk);
  ASSERT_EQ(r->samples, 250);
  Bytes got(4096);
  EXPECT_EQ(WaveIORead(r.get(), got.data(), 4), -1);  // the file is closed
  // While closed a seek only moves the position; the reopen goes there.
  EXPECT_EQ(WaveIOSeek(r.get(), 10), kWaveIOOk);
  ASSERT_EQ(WaveIOReopen(r.get()), kWaveIOOk);
  EXPECT_EQ(r->bytesLeft, 960);
  ASSERT_EQ(WaveIORead(r.get(), got.data(), 4), 4);
  EXPECT_EQ(Slice(got, 0, 4), Slice(data, 40, 4));
  EXPECT_EQ(r->position, 11);

  EXPECT_EQ(WaveIOSeek(r.get(), -1), kWaveIOSeekFailed);
  EXPECT_EQ(WaveIOSeek(nullptr, 0), kWaveIONoHandle);
  EXPECT_EQ(WaveIOSeek(r.get(), 100000), kWaveIOOk);  // lands on the last sample
  EXPECT_EQ(r->position, 249);
  EXPECT_EQ(r->bytesLeft, 4);
  ASSERT_EQ(WaveIOSeek(r.get(), 0), kWaveIOOk);
  ASSERT_EQ(WaveIORead(r.get(), got.data(), 4096), 1000);
  EXPECT_EQ(Slice(got, 0, 1000), data);
  EXPECT_EQ(r->bytesLeft, 0);
  EXPECT_EQ(r->position, 250);
  EXPECT_EQ(WaveIORead(r.get(), got.data(), 4096), -1);
  EXPECT_EQ(WaveIOFinalize(r.get()), kWaveIOOk);  // nothing written: nothing changes
  EXPECT_EQ(r->file, nullptr);
  EXPECT_TRUE(Load(Path("s.wav")) == file);

  // Waves without frames stay at 0, also a file without a "data" chunk, which reads as empty.
  for (const Bytes& chunks : {Chunk("data", {}), Chunk("fact", U32(50))}) {
    ASSERT_EQ(ReadInfo(r, Put("e.wav", Riff(Cat({PcmFmt(1, 8000, 8), chunks})))), kWaveIOOk);
    EXPECT_EQ(r->dataBytes, 0u);
    EXPECT_EQ(WaveIOSeek(r.get(), 5), kWaveIOOk);
    EXPECT_EQ(r->position, 0);
    ASSERT_EQ(WaveIOReopen(r.get()), kWaveIOOk);
    EXPECT_EQ(WaveIORead(r.get(), got.data(), 10), -1);
  }
  EXPECT_EQ(WaveIOWrite(r.get(), got.data(), 10), -1);  // no data chunk to write into
}

TEST_F(WaveIOTest, RewriteKeepsInfoAndDisplayItems) {
  const Bytes bitmap = Cat({U32(40), U32(1), U32(1), U16(1), U16(8), U32(0), U32(4), U32(0), U32(0),
                            U32(0), U32(0), Ramp(4)});
  const auto disp = [](std::uint32_t type, const Bytes& data) {
    return Chunk("DISP", Cat({U32(type), data}));
  };
  const std::string path = Put(
      "l.wav", Riff(Cat({PcmFmt(1, 8000, 8), Chunk("data", Ramp(8)), Chunk("fact", U32(8)),
                         disp(1, Sz("caption")), disp(2, Str("zz")), disp(8, bitmap),
                         ListInfo(Cat({Chunk("INAM", Sz("title")), Chunk("IXYZ", Sz("?"))}))})));
  WaveIOHandlePtr h;
  ASSERT_EQ(ReadInfo(h, path), kWaveIOOk);
  ASSERT_EQ(h->disp->items.size(), 3u);
  TInfoItem* comment = InfoListFind(h->info.get(), MakeFourCC('I', 'C', 'M', 'T'));
  InfoListSetText(h->info.get(), comment, 0, "ours", 0);

  // 11 bytes replace the 8: the chunks after the data are written again after the new data.
  const Bytes data = Ramp(11, 100);
  ASSERT_EQ(WaveIOReopen(h.get()), kWaveIOOk);
  ASSERT_EQ(WaveIOWrite(h.get(), data.data(), 11), 11);
  ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);
  const Bytes tail =
      Cat({Chunk("data", data), Chunk("fact", U32(11)), disp(1, Sz("caption")), disp(8, bitmap),
           ListInfo(Cat({Chunk("ICMT", Sz("ours")), Chunk("INAM", Sz("title"))}))});
  const Bytes disk = Load(path);
  ASSERT_GE(disk.size(), 36 + tail.size());
  EXPECT_EQ(GetU32(disk, 4), 28 + tail.size());
  EXPECT_EQ(Slice(disk, 36, tail.size()), tail);

  ASSERT_EQ(ReadInfo(h, path), kWaveIOOk);
  EXPECT_EQ(h->dataBytes, 11u);
  EXPECT_EQ(h->disp->items.size(), 2u);
  const TInfoItem* name = InfoListFind(h->info.get(), MakeFourCC('I', 'N', 'A', 'M'));
  EXPECT_EQ(InfoItemText(*h->info, *name), "title");
}

TEST_F(WaveIOTest, ArgumentChecksAndNames) {
  const TWaveFormatEx format = PcmFormat(1, 8000, 8);
  WaveIOHandlePtr h;
  EXPECT_EQ(WaveIOFromFormat(h, nullptr), kWaveIONoHandle);
  ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
  EXPECT_EQ(WaveIOWrite(h.get(), "x", 1), -1);  // no file yet
  // A create that cannot open its path leaves what is there alone.
  EXPECT_EQ(WaveIOCreateFile(h.get(), dir_.string()), kWaveIOCannotOpen);
  EXPECT_TRUE(fs::is_directory(dir_));
  ASSERT_EQ(WaveIOCreateFile(h.get(), Path("a.wav")), kWaveIOOk);
  EXPECT_EQ(WaveIOSetBuffer(h.get(), 16384), kWaveIOOk);
  ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);
  EXPECT_EQ(WaveIOSetBuffer(h.get(), 16384), kWaveIONotOpen);
  EXPECT_EQ(WaveIOFree(h), kWaveIOOk);
  EXPECT_EQ(WaveIOFromMemory(h, nullptr, 100), kWaveIOCannotOpen);
  EXPECT_EQ(WaveIOFromMemory(h, &format, 0), kWaveIOCannotOpen);
  EXPECT_FALSE(IsWaveFile("", kRiffModePath));
  EXPECT_FALSE(IsWaveFile(Put("n.wav", Riff({})), kRiffModePath));

  const std::pair<std::uint16_t, const char*> names[] = {
      {0x0001, "PCM"}, {0x0011, "IMA ADPCM"}, {0x0099, "Unknown"}, {0x0209, "Dolby AC2"}};
  for (const auto& [tag, name] : names) {
    const TWaveFormatEx f{tag, 1, 8000, 8000, 1, 8, 0};
    EXPECT_EQ(WaveFormatName(&f), name);
  }
  EXPECT_EQ(WaveFormatName(nullptr), "Unknown");
}

// The RIFF size field holds at most 0xFFFFFFFF. Moving the write position just below the limit
// makes a sparse file, so nothing near 4 GiB is written.
TEST_F(WaveIOTest, WriteRefusesBlocksPastTheRiffSizeLimit) {
  const TWaveFormatEx format = PcmFormat(1, 8000, 8);
  const std::string path = Path("big.wav");
  WaveIOHandlePtr h;
  ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
  ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
  // RIFF size = 38 bytes before the data + data + pad byte + 12 bytes of "fact".
  const std::uint64_t maxData = kMaxRiffSize - 51;  // the largest even size that fits
  const Bytes block = Ramp(16);
  ASSERT_EQ(WaveIOWrite(h.get(), block.data(), 16), 16);
  const auto at = std::int64_t(46 + maxData - 16);
  ASSERT_EQ(platform::mmioSeek(h->file, at, platform::SEEK_FROM_START), at);
  EXPECT_EQ(WaveIOWrite(h.get(), block.data(), 17), -1);
  EXPECT_EQ(WaveIOWrite(h.get(), block.data(), 16), 16);
  EXPECT_EQ(WaveIOWrite(h.get(), block.data(), 1), -1);  // its pad byte would not fit
  EXPECT_EQ(h->dataBytes, maxData);
  ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);
  EXPECT_EQ(h->fileSize, maxData + 58);

  std::ifstream in(path, std::ios::binary);
  const auto read = [&](std::uint64_t offset, std::size_t count) {
    Bytes out(count);
    in.seekg(std::streamoff(offset))
        .read(reinterpret_cast<char*>(out.data()), std::streamsize(count));
    return out;
  };
  EXPECT_EQ(read(4, 4), U32(std::uint32_t(maxData + 50)));
  EXPECT_EQ(read(38, 8), Cat({Str("data"), U32(std::uint32_t(maxData))}));
  EXPECT_EQ(read(46 + maxData - 16, 28),
            Cat({block, Str("fact"), U32(4), U32(std::uint32_t(maxData))}));
  in.close();
  ASSERT_EQ(ReadInfo(h, path), kWaveIOOk);
  EXPECT_EQ(h->dataBytes, maxData);
  EXPECT_TRUE(fs::remove(path));
}

// A disk that really fills up while a file is written: the finalization reports where it
// failed, and the file is still a valid WAVE file holding the whole blocks that were written.
// The small disk holds 128 KiB.
class FullDiskTest : public TempDirTest {};

// The small disk, unmounted whatever the test's outcome.
struct SmallDisk {
  explicit SmallDisk(const fs::path& at) : path(at) {
    fs::create_directories(at);
    mounted = ::geteuid() == 0 && ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=128k") == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount2(path.c_str(), MNT_DETACH);
  }
  fs::path path;
  bool mounted = false;
};

TEST_F(FullDiskTest, AFileCutShortByAFullDiskStaysValid) {
  const SmallDisk disk(dir_ / "small");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const struct {
    const char* name;
    std::size_t dataBytes;  // written in blocks of 3000 bytes, smaller than the buffer
    int code;
  } rows[] = {
      {"the data do not fit", 200 * 3000, kWaveIOFlushFailed},
      {"the data fill the disk to its last byte", 128 * 1024 - 46, kWaveIOFinalizeFailed},
  };
  const TWaveFormatEx format{stream::WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = (disk.path / "full.wav").string();
    {
      WaveIOHandlePtr h;
      ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
      ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
      const std::vector<char> block(3000, 0x11);
      for (std::size_t at = 0; at < row.dataBytes; at += block.size()) {
        const auto n = static_cast<std::int64_t>(std::min(block.size(), row.dataBytes - at));
        if (WaveIOWrite(h.get(), block.data(), n) != n) break;
      }
      EXPECT_EQ(WaveIOFinalize(h.get()), row.code);
    }
    WaveIOHandlePtr back;
    ASSERT_EQ(WaveIOReadInfo(back, path, nullptr, kFourCCWave, kRiffModePath), kWaveIOOk);
    EXPECT_GT(back->dataBytes, 0u);
    EXPECT_EQ(back->dataBytes % 2, 0u);
    const Bytes file = Load(path);
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(GetU32(file, 42), back->dataBytes);
    EXPECT_EQ(GetU32(file, 4), 38u + back->dataBytes);
    EXPECT_LE(46u + back->dataBytes, file.size());
    fs::remove(path);
  }
}

}  // namespace
}  // namespace wave
