// Damaged and hostile files: each is refused with a result code or accepted with data that lie
// inside the file, and reading never crashes, hangs or runs past the data.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "WaveTestFiles.h"
#include "wave/WaveIO.h"

namespace wave {
namespace {

using namespace wavetest;

class WaveMalformedTest : public TempDirTest {};

TEST_F(WaveMalformedTest, DefectTable) {
  const Bytes fmt = PcmFmt(1, 8000, 8), data = Chunk("data", Ramp(8, 1));
  // fmt, `between`, 8 bytes of data; or a "fmt " chunk with `body`, then the data.
  const auto around = [&](const Bytes& between) { return Riff(Cat({fmt, between, data})); };
  const auto withFmt = [&](const Bytes& body) { return Riff(Cat({Chunk("fmt ", body), data})); };
  const auto after = [&](const Bytes& tail) { return Riff(Cat({fmt, data, tail})); };
  const Bytes huge = U32(0xFFFFFFFF);
  const struct {
    const char* name;
    Bytes file;
    int code;
    std::uint64_t dataBytes = 0;
  } rows[] = {
      {"empty file", {}, kWaveIOCannotOpen},
      {"RIFF only", Str("RIFF"), kWaveIOCannotOpen},
      {"RIFF header without its form", Cat({Str("RIFF"), U32(4)}), kWaveIOCannotOpen},
      {"form of another kind", RiffSized(4, fmt, "AVI "), kWaveIOCannotOpen},
      {"no chunks", Riff({}), kWaveIONoFormat},
      {"chunk header cut", Riff(Str("fmt \x10")), kWaveIONoFormat},
      {"RIFF size covering only the form", RiffSized(4, Cat({fmt, data})), kWaveIONoFormat},
      {"fmt cut by the end of the file", Riff(RawChunk("fmt ", 16, Ramp(10))), kWaveIONoFormat},
      {"fmt of 14 bytes", withFmt(Slice(FmtBody(1, 1, 8000, 8000, 1, 8), 0, 14)), kWaveIONoFormat},
      {"fmt of 2 bytes", withFmt(U16(1)), kWaveIONoFormat},
      {"PCM block size 0", withFmt(FmtBody(1, 1, 8000, 8000, 0, 8)), kWaveIOOk, 8},
      {"non-PCM block size 0", withFmt(FmtBody(6, 1, 8000, 8000, 0, 8)), kWaveIONoFormat},
      {"block size 0 and bits 0", withFmt(FmtBody(1, 1, 8000, 8000, 0, 0)), kWaveIONoFormat},
      {"PCM bits 0", withFmt(FmtBody(1, 1, 8000, 8000, 1, 0)), kWaveIONoFormat},
      // 65535 channels of 65519 bits: a sample frame far larger than the 16-bit block size.
      {"PCM frame too large", withFmt(FmtBody(1, 0xFFFF, 8000, 8000, 1, 0xFFEF)), kWaveIONoFormat},
      {"PCM frame too large, block size 0", withFmt(FmtBody(1, 0xFFFF, 8000, 8000, 0, 0xFFEF)),
       kWaveIONoFormat},
      {"cbSize lying", withFmt(Cat({FmtBody(6, 1, 8000, 8000, 1, 8), U16(999)})), kWaveIOOk, 8},
      {"fmt size 0xFFFFFFFF", Riff(Cat({Str("fmt "), huge, Slice(fmt, 8, 16), data})), kWaveIOOk},
      {"no data chunk", Riff(Cat({fmt, Chunk("fact", U32(9))})), kWaveIOOk},
      {"data before fmt", Riff(Cat({data, fmt})), kWaveIOOk, 8},
      {"data size past the end", Riff(Cat({fmt, RawChunk("data", 5000, Ramp(9))})), kWaveIOOk, 9},
      {"data size 0xFFFFFFFF", Riff(Cat({fmt, Str("data"), huge, Ramp(9)})), kWaveIOOk, 9},
      {"RIFF size 0xFFFFFFFF", RiffSized(0xFFFFFFFF, Cat({fmt, data})), kWaveIOOk, 8},
      {"RIFF size ending inside the data", RiffSized(40, Cat({fmt, data})), kWaveIOOk, 8},
      {"odd chunk with its pad byte", around(Chunk("junk", Str("abc"))), kWaveIOOk, 8},
      {"odd chunk without its pad byte", around(RawChunk("junk", 3, Str("abc"))), kWaveIOOk},
      {"empty data, then data", around(Chunk("data", {})), kWaveIOOk, 8},
      {"two data chunks", around(Chunk("data", Ramp(4))), kWaveIOOk, 4},
      {"two fmt chunks before the data", around(PcmFmt(2, 8000, 16)), kWaveIOOk},
      {"INFO header past the list", around(ListInfo(Cat({Chunk("INAM", Sz("a")), Str("ICMT")}))),
       kWaveIOOk, 8},
      {"INFO text past the list", around(ListInfo(RawChunk("INAM", 0xFFFFFFF0, Sz("a")))),
       kWaveIOOk, 8},
      {"LIST size 0", around(RawChunk("LIST", 0, {})), kWaveIOOk, 8},
      {"LIST size 2", around(RawChunk("LIST", 2, Str("IN"))), kWaveIOOk, 8},
      {"LIST size 0xFFFFFFFF before the data", around(Cat({Str("LIST"), huge, Str("INFOINAM")})),
       kWaveIOOk},
      {"LIST size 0xFFFFFFFF after the data", after(Cat({Str("LIST"), huge, Str("INFOINAM")})),
       kWaveIOOk, 8},
      {"DISP size 0", around(RawChunk("DISP", 0, {})), kWaveIOOk, 8},
      {"DISP size 4", around(RawChunk("DISP", 4, U32(1))), kWaveIOOk, 8},
      {"DISP size 0xFFFFFFFF", after(Cat({Str("DISP"), huge, U32(1)})), kWaveIOOk, 8},
      {"fact size 0", after(RawChunk("fact", 0, {})), kWaveIOOk, 8},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WaveIOHandlePtr h;
    ASSERT_EQ(ReadInfo(h, Put("m.wav", row.file)), row.code);
    EXPECT_EQ(h == nullptr, row.code != kWaveIOOk);
    if (!h) continue;
    EXPECT_EQ(h->dataBytes, row.dataBytes);
    Bytes back;
    EXPECT_EQ(ReadAll(h.get(), back, 5), kWaveIOOk);
    EXPECT_EQ(back, Slice(row.file, h->dataOffset, row.dataBytes));
  }
}

// Reads `image` from disk and from memory and whatever is accepted to its end. `dataBytes` gets
// the data bytes of the file on disk, or -1 when it was refused.
void Exercise(const std::string& path, const Bytes& image, std::int64_t& dataBytes) {
  dataBytes = -1;
  for (const bool memory : {false, true}) {
    SCOPED_TRACE(memory ? "memory" : "file");
    // An exact-size heap copy: the sanitizers catch any read past the image.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[image.size()]);
    std::copy(image.begin(), image.end(), block.get());
    WaveIOHandlePtr h;
    const int code =
        memory ? WaveIOFromMemory(h, block.get(), std::int64_t(image.size())) : ReadInfo(h, path);
    EXPECT_TRUE(code == kWaveIOOk || code == kWaveIONoFormat || code == kWaveIOCannotOpen ||
                code == kWaveIOReadFailed ||
                (code >= kRiffMissingArgument && code <= kRiffNoMemory))
        << code;
    if (code != kWaveIOOk) continue;
    if (!memory) dataBytes = std::int64_t(h->dataBytes);
    ASSERT_LE(h->dataOffset + h->dataBytes, image.size());
    Bytes back;
    EXPECT_EQ(ReadAll(h.get(), back, 7), kWaveIOOk);
    ASSERT_LE(back.size(), h->dataBytes);
    EXPECT_EQ(back, Slice(image, h->dataOffset, back.size()));
    EXPECT_EQ(WaveIOFinalize(h.get()), kWaveIOOk);
  }
}

// fmt, LIST/INFO, DISP, 40 bytes of 16-bit stereo data at offset 102, fact.
Bytes FullFile() {
  return Riff(Cat(
      {PcmFmt(2, 8000, 16), ListInfo(Cat({Chunk("INAM", Sz("name")), Chunk("ICMT", Sz("odd!"))})),
       Chunk("DISP", Cat({U32(1), Sz("text")})), Chunk("data", Ramp(40)), Chunk("fact", U32(10))}));
}

TEST_F(WaveMalformedTest, EveryTruncationIsReadSafely) {
  const Bytes full = FullFile();
  constexpr std::size_t kData = 102, kFact = kData + 40;
  ASSERT_EQ(Slice(full, kFact, 4), Str("fact"));
  for (std::size_t length = 0; length <= full.size(); ++length) {
    SCOPED_TRACE(length);
    const Bytes image = Slice(full, 0, length);
    std::int64_t dataBytes = -1;
    Exercise(Put("t.wav", image), image, dataBytes);
    // Once the data chunk's header is there, the data run to the end of the file, in whole
    // frames, until the next chunk's header is whole.
    if (length < kData) continue;
    const std::size_t end = length < kFact + 8 ? length : kFact;
    EXPECT_EQ(dataBytes, std::int64_t((end - kData) / 4 * 4));
  }
}

// Every byte set to 0x00, 0x80 and 0xFF in turn: sizes, ids and format fields all take extreme
// values.
TEST_F(WaveMalformedTest, EveryByteChangedIsReadSafely) {
  const Bytes full = FullFile();
  for (std::size_t at = 0; at < full.size(); ++at) {
    for (const std::uint8_t value : {0x00, 0x80, 0xFF}) {
      SCOPED_TRACE(std::to_string(at) + " = " + std::to_string(value));
      Bytes image = full;
      image[at] = value;
      std::int64_t dataBytes = -1;
      Exercise(Put("b.wav", image), image, dataBytes);
    }
  }
}

}  // namespace
}  // namespace wave
