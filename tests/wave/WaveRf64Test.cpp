// RF64 files (64-bit sizes in "ds64") and the chunks written after the INFO list: the layout on
// disk, our reader on what we write and on damaged files, and other programs on what we write.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "WaveTestFiles.h"
#include "wave/Wave.h"
#include "wave/WaveIO.h"

namespace wave {
namespace {

using namespace wavetest;
using stream::TWaveFormatEx;

constexpr std::uint64_t k4GiB = 0x100000000ull;
// "RF64" header 12, "ds64" 8 + 28, "fmt " 8 + 18, "data" header 8.
constexpr std::uint64_t kRf64DataOffset = 82;

Bytes U64(std::uint64_t v) {
  return Cat({U32(std::uint32_t(v)), U32(std::uint32_t(v >> 32))});
}

Bytes Rf64Header(std::uint64_t riffSize, std::uint64_t dataSize, std::uint64_t samples,
                 const TWaveFormatEx& f) {
  return Cat({Str("RF64"), U32(0xFFFFFFFF), Str("WAVEds64"), U32(28), U64(riffSize), U64(dataSize),
              U64(samples), U32(0), Str("fmt "), U32(18), U16(f.wFormatTag), U16(f.nChannels),
              U32(f.nSamplesPerSec), U32(f.nAvgBytesPerSec), U16(f.nBlockAlign),
              U16(f.wBitsPerSample), U16(0), Str("data"), U32(0xFFFFFFFF)});
}

// `n` bytes at `offset` of a file too large to load whole.
Bytes ReadAt(const std::string& path, std::uint64_t offset, std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(std::streamoff(offset));
  Bytes out(n);
  in.read(reinterpret_cast<char*>(out.data()), std::streamsize(n));
  out.resize(std::size_t(in.gcount()));
  return out;
}

std::uint64_t FileSize(const std::string& path) {
  return fs::file_size(path);
}

// The standard output of `command`, or nullopt when `tool` is not installed.
std::optional<std::string> RunTool(const std::string& tool, const std::string& command) {
  if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) return std::nullopt;
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
  }
  return out;
}

// A minimal ID3v2.4 tag of 11 bytes: the header and one byte of padding.
Bytes Id3Tag() {
  return Cat({Str("ID3"), Bytes{4, 0, 0, 0, 0, 0, 1}, Bytes{0}});
}

std::vector<char> AsChars(const Bytes& b) {
  return std::vector<char>(b.begin(), b.end());
}

class WaveRf64Test : public TempDirTest {};

// Data of 4 GiB + 2001 bytes (8-bit mono: as many samples), mostly a hole in a sparse file, with
// a marker before and after the 4 GiB mark, an INFO list and an odd trailing chunk.
TEST_F(WaveRf64Test, DataPastFourGiBGetTheirSizesInDs64AndReadBack) {
  const TWaveFormatEx format = PcmFormat(1, 8000, 8);
  const Bytes head = Ramp(1000, 3), tail = Ramp(1001, 7);
  const std::uint64_t dataBytes = head.size() + k4GiB + tail.size();
  const std::string path = Path("big.wav");

  WaveIOHandlePtr riff;
  ASSERT_EQ(WaveIOFromFormat(riff, &format), kWaveIOOk);
  ASSERT_EQ(WaveIOCreateFile(riff.get(), Path("riff.wav")), kWaveIOOk);
  EXPECT_EQ(WaveIOSkipData(riff.get(), std::int64_t(k4GiB)), -1) << "a RIFF file stops at 4 GiB";

  WaveIOHandlePtr h;
  ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
  h->rf64 = true;
  ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
  ASSERT_EQ(WaveIOSetInfoText(h.get(), "INAM", "big"), kWaveIOOk);
  h->trailingChunks.push_back({kFourCCId3, AsChars(Id3Tag())});
  ASSERT_EQ(WaveIOWrite(h.get(), head.data(), std::int64_t(head.size())), 1000);
  ASSERT_EQ(WaveIOSkipData(h.get(), std::int64_t(k4GiB)), std::int64_t(k4GiB));
  ASSERT_EQ(WaveIOWrite(h.get(), tail.data(), std::int64_t(tail.size())), 1001);
  ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);

  const std::uint64_t size = FileSize(path);
  const Bytes after = Cat({Bytes{0}, Chunk("fact", U32(0xFFFFFFFF)),
                           ListInfo(Chunk("INAM", Sz("big"))), Chunk("id3 ", Id3Tag())});
  EXPECT_EQ(size, kRf64DataOffset + dataBytes + after.size());
  EXPECT_EQ(h->fileSize, size);
  EXPECT_EQ(ReadAt(path, 0, kRf64DataOffset), Rf64Header(size - 8, dataBytes, dataBytes, format));
  EXPECT_EQ(ReadAt(path, kRf64DataOffset + dataBytes - 1001, 1001 + after.size()),
            Cat({tail, after}));

  WaveIOHandlePtr r;
  ASSERT_EQ(ReadInfo(r, path), kWaveIOOk);
  EXPECT_TRUE(r->rf64);
  EXPECT_EQ(r->dataOffset, kRf64DataOffset);
  EXPECT_EQ(r->dataBytes, dataBytes);
  EXPECT_EQ(r->samples, std::int64_t(dataBytes));
  EXPECT_EQ(InfoItemText(*r->info, *InfoListFind(r->info.get(), MakeFourCC('I', 'N', 'A', 'M'))),
            "big");
  ASSERT_EQ(WaveIOReopen(r.get()), kWaveIOOk);
  const struct {
    std::int64_t sample;
    Bytes expected;
  } reads[] = {{500, Cat({Slice(head, 500, 500), Bytes(1500, 0)})},
               {std::int64_t(1000 + k4GiB - 2), Cat({Bytes{0, 0}, tail})},
               {std::int64_t(dataBytes - 1), Slice(tail, 1000, 1)}};
  for (const auto& read : reads) {
    SCOPED_TRACE(read.sample);
    ASSERT_EQ(WaveIOSeek(r.get(), read.sample), kWaveIOOk);
    Bytes back(2000);
    const std::int64_t n = WaveIORead(r.get(), back.data(), 2000);
    back.resize(std::size_t(std::max<std::int64_t>(n, 0)));
    EXPECT_EQ(back, read.expected);
  }
  WaveIOFinalize(r.get());

  // The wave object positions past 4 GiB too.
  TMMWave wave;
  wave.SetFileName(path);
  EXPECT_EQ(wave.DataSize(), std::int64_t(dataBytes));
  wave.OpenFile();
  wave.SetPosition(std::int64_t(1000 + k4GiB));
  Bytes back(1001);
  EXPECT_EQ(wave.ReadBytes(back.data(), 1001), 1001);
  EXPECT_EQ(back, tail);
  wave.CloseFile();
}

TEST_F(WaveRf64Test, SmallForcedRf64FileRoundTripsAndOtherToolsCountItsSamples) {
  const TWaveFormatEx format = PcmFormat(2, 44100, 16);
  const Bytes data = Ramp(4000);  // 1000 frames
  const std::string path = Path("small.wav");
  TMMWave wave;
  wave.SetRf64(true);
  TMMWave copy;
  copy.Assign(&wave);
  EXPECT_TRUE(copy.Rf64());
  copy.CreateWaveFile(path, &format);
  ASSERT_EQ(copy.WriteBytes(data.data(), 4000), 4000);
  copy.CloseFile();
  ASSERT_FALSE(copy.CloseFailed());

  const Bytes disk = Load(path);
  ASSERT_EQ(disk.size(), kRf64DataOffset + 4000 + 12);
  EXPECT_EQ(Slice(disk, 0, kRf64DataOffset), Rf64Header(disk.size() - 8, 4000, 1000, format));
  EXPECT_EQ(Slice(disk, kRf64DataOffset + 4000, 12), Chunk("fact", U32(1000)));
  EXPECT_TRUE(IsWaveFile(path, kRiffModePath));
  WaveIOHandlePtr r;
  ASSERT_EQ(ReadInfo(r, path), kWaveIOOk);
  Bytes back;
  ASSERT_EQ(ReadAll(r.get(), back, 999), kWaveIOOk);
  EXPECT_EQ(back, data);

  const auto ffprobe = RunTool("ffprobe",
                               "ffprobe -v error -show_entries stream=duration_ts "
                               "-of default=nw=1:nk=1 '" +
                                   path + "'");
  const auto soxi = RunTool("soxi", "soxi -s '" + path + "' 2>&1");
  if (!ffprobe && !soxi) GTEST_SKIP() << "neither ffprobe nor soxi is installed";
  if (ffprobe) {
    EXPECT_EQ(*ffprobe, "1000\n");
  }
  if (soxi) {
    EXPECT_EQ(*soxi, "1000\n");
  }
}

TEST_F(WaveRf64Test, InfoTextsAndTrailingChunksFollowTheFactChunk) {
  const TWaveFormatEx format = PcmFormat(1, 8000, 8);
  const std::string title = "Caf\xC3\xA9 \xE2\x98\x95";  // "Café ☕" in UTF-8
  const Bytes data = Ramp(7);
  const Bytes other = Str("abcd");
  for (const bool rf64 : {false, true}) {
    SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
    const std::string path = Path(rf64 ? "rf64.wav" : "riff.wav");
    WaveIOHandlePtr h;
    ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
    h->rf64 = rf64;
    EXPECT_EQ(WaveIOSetInfoText(h.get(), "XXXX", "x"), kWaveIONoInfoItem);
    EXPECT_EQ(WaveIOSetInfoText(nullptr, "INAM", "x"), kWaveIONoHandle);
    ASSERT_EQ(WaveIOSetInfoText(h.get(), "INAM", title), kWaveIOOk);
    ASSERT_EQ(WaveIOSetInfoText(h.get(), "IART", "Artist"), kWaveIOOk);
    ASSERT_EQ(WaveIOSetInfoText(h.get(), "ITRK", "7"), kWaveIOOk);
    ASSERT_EQ(WaveIOSetInfoText(h.get(), "ICMT", "dropped"), kWaveIOOk);
    ASSERT_EQ(WaveIOSetInfoText(h.get(), "ICMT", ""), kWaveIOOk);
    h->trailingChunks = {{kFourCCId3, AsChars(Id3Tag())},
                         {MakeFourCC('x', 't', 'r', 'a'), AsChars(other)}};
    ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
    ASSERT_EQ(WaveIOWrite(h.get(), data.data(), 7), 7);
    ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);

    const std::size_t dataOffset = rf64 ? kRf64DataOffset : 46;
    const Bytes disk = Load(path);
    const Bytes after = Cat({Chunk("data", data), Chunk("fact", U32(7)),
                             ListInfo(Cat({Chunk("IART", Sz("Artist")), Chunk("INAM", Sz(title)),
                                           Chunk("ITRK", Sz("7"))})),
                             Chunk("id3 ", Id3Tag()), Chunk("xtra", other)});
    ASSERT_EQ(disk.size(), dataOffset - 8 + after.size());
    EXPECT_EQ(Slice(disk, dataOffset, after.size() - 8), Slice(after, 8, after.size() - 8));
    EXPECT_EQ(GetU32(disk, rf64 ? 20 : 4), disk.size() - 8);

    WaveIOHandlePtr r;
    ASSERT_EQ(ReadInfo(r, path), kWaveIOOk);
    EXPECT_EQ(r->dataBytes, 7u);
    const auto tags = RunTool("ffprobe",
                              "ffprobe -v error -show_entries format_tags=title,artist,track "
                              "-of default=nw=1 '" +
                                  path + "'");
    if (!tags) continue;
    EXPECT_NE(tags->find("TAG:title=" + title + "\n"), std::string::npos) << *tags;
    EXPECT_NE(tags->find("TAG:artist=Artist\n"), std::string::npos) << *tags;
    EXPECT_NE(tags->find("TAG:track=7\n"), std::string::npos) << *tags;
  }
}

TEST_F(WaveRf64Test, RewrittenRf64FileKeepsItsSizesInDs64) {
  const TWaveFormatEx format = PcmFormat(1, 8000, 8);
  const std::string path = Path("re.wav");
  WaveIOHandlePtr h;
  ASSERT_EQ(WaveIOFromFormat(h, &format), kWaveIOOk);
  h->rf64 = true;
  ASSERT_EQ(WaveIOCreateFile(h.get(), path), kWaveIOOk);
  const Bytes first = Ramp(100);
  ASSERT_EQ(WaveIOWrite(h.get(), first.data(), 100), 100);
  ASSERT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);

  WaveIOHandlePtr r;
  ASSERT_EQ(ReadInfo(r, path), kWaveIOOk);
  ASSERT_EQ(WaveIOReopen(r.get()), kWaveIOOk);
  ASSERT_EQ(WaveIOSeek(r.get(), 90), kWaveIOOk);
  const Bytes more = Ramp(21, 50);
  ASSERT_EQ(WaveIOWrite(r.get(), more.data(), 21), 21);
  ASSERT_EQ(WaveIOFinalize(r.get()), kWaveIOOk);

  const Bytes disk = Load(path);
  ASSERT_EQ(disk.size(), kRf64DataOffset + 111 + 1 + 12);
  EXPECT_EQ(Slice(disk, 0, kRf64DataOffset), Rf64Header(disk.size() - 8, 111, 111, format));
  EXPECT_EQ(Slice(disk, kRf64DataOffset, 112), Cat({Slice(first, 0, 90), more, Bytes{0}}));
}

TEST_F(WaveRf64Test, DamagedRf64FilesAreClampedToTheFile) {
  const TWaveFormatEx f = PcmFormat(1, 8000, 8);
  const Bytes fmt = PcmFmt(1, 8000, 8), huge = U32(0xFFFFFFFF);
  const auto ds64 = [](std::uint64_t riff, std::uint64_t data) {
    return Chunk("ds64", Cat({U64(riff), U64(data), U64(data), U32(0)}));
  };
  const auto rf64 = [&](const Bytes& chunks, const std::string& form = "WAVE") {
    return Cat({Str("RF64"), huge, Str(form), chunks});
  };
  const Bytes samples = Ramp(10);
  const Bytes dataAll = Cat({Str("data"), huge, samples});
  const struct {
    const char* name;
    Bytes file;
    int code;
    std::uint64_t dataBytes = 0;
  } rows[] = {
      {"well formed, with a chunk after the data",
       rf64(Cat({ds64(96, 10), fmt, dataAll, Chunk("junk", Ramp(6))})), kWaveIOOk, 10},
      {"RF64 of another form", rf64(Cat({ds64(48, 10), fmt, dataAll}), "AVI "), kWaveIOCannotOpen},
      {"no ds64", rf64(Cat({fmt, dataAll})), kWaveIOOk, 10},
      {"ds64 too short", rf64(Cat({Chunk("ds64", U64(90)), fmt, dataAll})), kWaveIOOk, 10},
      {"ds64 not first", rf64(Cat({fmt, ds64(48, 4), dataAll})), kWaveIOOk, 10},
      {"ds64 sizes past the end", rf64(Cat({ds64(5000, 4000), fmt, dataAll})), kWaveIOOk, 10},
      {"ds64 sizes of 2^64 - 1", rf64(Cat({ds64(~0ull, ~0ull), fmt, dataAll})), kWaveIOOk, 10},
      {"ds64 data size ending at a chunk inside the 32-bit data",
       rf64(Cat({ds64(100, 4), fmt, Str("data"), huge, Ramp(4), Chunk("junk", Ramp(6))})),
       kWaveIOOk, 4},
      {"ds64 RIFF size ending before fmt", rf64(Cat({ds64(8, 10), fmt, dataAll})), kWaveIONoFormat},
      {"32-bit data size kept", rf64(Cat({ds64(100, 99), fmt, Chunk("data", Ramp(6))})), kWaveIOOk,
       6},
      {"ds64 header cut", rf64(Str("ds64")), kWaveIONoFormat},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const bool memory : {false, true}) {
      SCOPED_TRACE(memory ? "memory" : "file");
      WaveIOHandlePtr h;
      const int code = memory ? WaveIOFromMemory(h, row.file.data(), std::int64_t(row.file.size()))
                              : ReadInfo(h, Put("d.wav", row.file));
      ASSERT_EQ(code, row.code);
      if (!h) continue;
      EXPECT_TRUE(h->rf64);
      EXPECT_EQ(h->dataBytes, row.dataBytes);
      Bytes back;
      EXPECT_EQ(ReadAll(h.get(), back, 3), kWaveIOOk);
      EXPECT_EQ(back, Slice(row.file, h->dataOffset, row.dataBytes));
    }
  }

  // Every truncation of a complete file is read, with the data it still holds: from the data
  // header to the end of the file until the header of "fact" is whole. The format is usable
  // once its bits per sample are there.
  constexpr std::size_t kFmtEnd = 71, kFact = kRf64DataOffset + 10;
  const Bytes whole = Cat({Rf64Header(kFact + 12 - 8, 10, 10, f), samples, Chunk("fact", U32(10))});
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes image = Slice(whole, 0, length);
    WaveIOHandlePtr h;
    const int code = WaveIOFromMemory(h, image.data(), std::int64_t(image.size()));
    if (length < kFmtEnd) {
      EXPECT_NE(code, kWaveIOOk);
      continue;
    }
    ASSERT_EQ(code, kWaveIOOk);
    const std::size_t end = length < kFact + 8 ? length : kFact;
    EXPECT_EQ(h->dataBytes, end < kRf64DataOffset ? 0 : end - kRf64DataOffset);
  }
}

}  // namespace
}  // namespace wave
