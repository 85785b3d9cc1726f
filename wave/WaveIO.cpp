#include "wave/WaveIO.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/ByteOrder.h"
#include "stream/TimeConversions.h"

namespace wave {

using namespace platform;
using stream::TWaveFormatEx;
using stream::WAVE_FORMAT_PCM;

namespace {

// The fixed part of a format record: 18 bytes in a "fmt " chunk and in memory alike.
constexpr std::size_t kFormatRecordBytes = sizeof(TWaveFormatEx);
// A format record never needs more than its 18 bytes and 65535 extra bytes; a larger "fmt "
// chunk is read that far and the rest skipped.
constexpr std::uint32_t kMaxFormatBytes = kFormatRecordBytes + 0xFFFF;
constexpr std::uint64_t kChunkHeaderBytes = 8;
constexpr std::uint64_t kFactChunkSize = 12;
// "RF64", 0xFFFFFFFF, "WAVE", then "ds64" with its 28 bytes: RIFF size, data size and sample
// count (64-bit each) and an empty table of further chunk sizes.
constexpr std::uint32_t kDs64Size = 28;
constexpr std::uint64_t kDs64RiffSizeAt = 0;
constexpr std::uint64_t kDs64DataSizeAt = 8;
constexpr std::uint64_t kDs64SampleCountAt = 16;
// A chunk handler's answer that ends the walk without failing it.
constexpr int kEndWalk = -1;

struct FormatName {
  std::uint16_t tag;
  const char* name;
};
constexpr std::array<FormatName, 38> kFormatNames = {{
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
}};

bool ReadExactly(HMMIO file, void* buffer, std::int64_t count) {
  return mmioRead(file, buffer, count) == count;
}

bool SeekTo(HMMIO file, std::uint64_t offset) {
  return mmioSeek(file, static_cast<std::int64_t>(offset), SEEK_FROM_START) ==
         static_cast<std::int64_t>(offset);
}

std::uint64_t ReadU64(const void* data) {
  const auto* b = static_cast<const std::uint8_t*>(data);
  return platform::ReadU32(b) | std::uint64_t{platform::ReadU32(b + 4)} << 32;
}

std::uint32_t LowU32(std::int64_t value) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, 0xFFFFFFFF));
}

// The format record in host order from the little-endian bytes of a "fmt " chunk (at least 18,
// zero-filled past what the chunk held); the extra bytes after the record are kept as they are.
std::vector<char> DecodeFormat(const std::vector<std::uint8_t>& bytes) {
  const std::uint8_t* p = bytes.data();
  const TWaveFormatEx record{platform::ReadU16(p),      platform::ReadU16(p + 2),
                             platform::ReadU32(p + 4),  platform::ReadU32(p + 8),
                             platform::ReadU16(p + 12), platform::ReadU16(p + 14),
                             platform::ReadU16(p + 16)};
  std::vector<char> format(bytes.size());
  std::memcpy(format.data(), &record, kFormatRecordBytes);
  std::copy(bytes.begin() + kFormatRecordBytes, bytes.end(), format.begin() + kFormatRecordBytes);
  return format;
}

// The first `size` bytes of a "fmt " chunk for the handle's format: the record in little-endian
// order, then its extra bytes.
std::vector<std::uint8_t> EncodeFormat(const TWaveIOHandle& h, std::size_t size) {
  const TWaveFormatEx& f = *h.Format();
  std::vector<std::uint8_t> bytes;
  bytes.reserve(size);
  const auto put16 = [&bytes](std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const auto put32 = [&bytes](std::uint32_t v) {
    for (const std::uint8_t b : platform::U32Bytes(v)) bytes.push_back(b);
  };
  put16(f.wFormatTag);
  put16(f.nChannels);
  put32(f.nSamplesPerSec);
  put32(f.nAvgBytesPerSec);
  put16(f.nBlockAlign);
  put16(f.wBitsPerSample);
  put16(f.cbSize);
  const std::size_t end = std::min(size, h.format.size());
  if (end > kFormatRecordBytes) {
    bytes.insert(bytes.end(), h.format.begin() + kFormatRecordBytes, h.format.begin() + end);
  }
  return bytes;
}

// Bytes of one PCM sample frame; 0 when the fields give none, or more than the 16-bit block size
// can hold (such a file is refused).
std::uint16_t PcmFrameBytes(const TWaveFormatEx* f) {
  const std::uint32_t bytes = (std::uint32_t{f->wBitsPerSample} * f->nChannels) >> 3;
  return bytes > 0xFFFF ? 0 : static_cast<std::uint16_t>(bytes);
}

// Makes a format read from a file usable: a non-PCM record never claims more extra bytes than
// the chunk held, and a block size of 0 is derived from bits and channels for PCM (0 when that
// gives nothing either: such a file is refused).
std::uint16_t RepairFormat(TWaveFormatEx* f, std::size_t storedBytes) {
  if (f->wFormatTag != WAVE_FORMAT_PCM && kFormatRecordBytes + f->cbSize > storedBytes) {
    f->cbSize = static_cast<std::uint16_t>(storedBytes - kFormatRecordBytes);
  }
  if (f->nBlockAlign != 0) return f->nBlockAlign;
  if (f->wFormatTag != WAVE_FORMAT_PCM) return 0;
  return PcmFrameBytes(f);
}

// ---- the chunk walk of a description ----

// What the walk over a file's chunks has found so far.
struct ChunkWalk {
  TWaveIOHandle& h;  // its file is open during the walk
  std::uint64_t fileSize = 0;
  std::uint64_t riffEnd = 0;  // the RIFF chunk's end, fitted to the file
  bool haveFormat = false;
  bool haveFact = false;
  bool dataSeen = false;
  bool previousWasData = false;  // the chunk before the current one was "data"
  bool rf64 = false;
  std::optional<std::uint64_t> ds64DataSize{};  // from a usable "ds64" chunk
  std::uint64_t chunkSize = 0;                  // 64-bit size of the chunk being handled
  std::uint64_t dataSize = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t dataEnd = 0;  // the next chunk's header after the data, else the file's end

  bool HasAudio() const { return dataSeen && dataSize != 0; }
};

// Each handler reads one kind of chunk, just descended into. kWaveIOOk goes on to the next
// chunk, kEndWalk ends the walk, anything else fails the description.
using ChunkHandler = int (*)(ChunkWalk& walk, const MMCKINFO& chunk);

// A second "fmt " ends the walk.
int OnFormatChunk(ChunkWalk& w, const MMCKINFO& ck) {
  if (w.haveFormat) return kEndWalk;
  const std::uint32_t readBytes = std::min(ck.cksize, kMaxFormatBytes);
  std::vector<std::uint8_t> bytes(std::max<std::size_t>(readBytes, kFormatRecordBytes), 0);
  if (!ReadExactly(w.h.file, bytes.data(), readBytes)) return kWaveIOReadFailed;
  w.h.format = DecodeFormat(bytes);
  w.haveFormat = true;
  return kWaveIOOk;
}

// A data chunk after one with audio ends the walk; one after an empty data chunk replaces it,
// and the empty one ended where this one begins.
int OnDataChunk(ChunkWalk& w, const MMCKINFO& ck) {
  if (w.HasAudio()) return kEndWalk;
  w.dataSeen = true;
  w.dataSize = w.chunkSize;
  w.dataOffset = ck.dwDataOffset;
  w.dataEnd = w.fileSize;
  w.previousWasData = true;
  return kWaveIOOk;
}

// The sample count is taken from the data, whatever "fact" says; a second one ends the walk.
int OnFactChunk(ChunkWalk& w, const MMCKINFO&) {
  if (w.haveFact) return kEndWalk;
  w.haveFact = true;
  return kWaveIOOk;
}

// Of the "LIST" chunks only the INFO list is kept.
int OnListChunk(ChunkWalk& w, const MMCKINFO& ck) {
  if (ck.fccType != kFourCCInfo) return kWaveIOOk;
  return InfoListRead(w.h.file, ck, w.h.info.get());
}

int OnDispChunk(ChunkWalk& w, const MMCKINFO& ck) {
  return DispListRead(w.h.file, ck, w.h.disp.get());
}

struct ChunkRule {
  std::uint32_t id;
  ChunkHandler handle;
};
constexpr std::array<ChunkRule, 5> kChunkRules = {{
    {kFourCCFmt, OnFormatChunk},
    {kFourCCData, OnDataChunk},
    {kFourCCFact, OnFactChunk},
    {kFourCCList, OnListChunk},
    {kFourCCDisp, OnDispChunk},
}};

// Chunks without a rule are skipped.
int HandleChunk(ChunkWalk& w, const MMCKINFO& ck) {
  for (const ChunkRule& rule : kChunkRules) {
    if (rule.id == ck.ckid) return rule.handle(w, ck);
  }
  return kWaveIOOk;
}

// Reads the "ds64" chunk that comes first in an RF64 file (the position is after the form
// type): its RIFF and data sizes. One that is missing or too short is ignored.
void ReadDs64(ChunkWalk& w, std::optional<std::uint64_t>& riffSize) {
  MMCKINFO ck{};
  if (mmioDescend(w.h.file, &ck, nullptr, 0) != 0 || ck.ckid != kFourCCDs64 ||
      ck.cksize < kDs64Size) {
    return;
  }
  std::uint8_t body[kDs64SampleCountAt];
  if (!ReadExactly(w.h.file, body, sizeof body)) return;
  w.h.ds64Offset = ck.dwDataOffset;
  riffSize = ReadU64(body + kDs64RiffSizeAt);
  w.ds64DataSize = ReadU64(body + kDs64DataSizeAt);
}

// Measures the file, finds the RIFF size (in "ds64" for RF64) and fits it to the file,
// positions after the form type and makes the empty lists.
int BeginWalk(ChunkWalk& w, const MMCKINFO& riff) {
  const std::int64_t end = mmioSeek(w.h.file, 0, SEEK_FROM_END);
  if (end < 0 || !SeekTo(w.h.file, riff.dwDataOffset + 4)) return kWaveIOReadFailed;
  w.fileSize = static_cast<std::uint64_t>(end);
  std::uint64_t riffSize = riff.cksize;
  w.rf64 = riff.ckid == kFourCCRf64;
  w.h.rf64 = w.rf64;
  if (w.rf64) {
    std::optional<std::uint64_t> ds64RiffSize;
    ReadDs64(w, ds64RiffSize);
    if (riff.cksize == kRf64SizeInDs64) riffSize = ds64RiffSize.value_or(w.fileSize);
    if (!SeekTo(w.h.file, riff.dwDataOffset + 4)) return kWaveIOReadFailed;
  }
  w.riffEnd = riff.dwDataOffset + std::min(riffSize, w.fileSize - riff.dwDataOffset);
  w.dataEnd = w.fileSize;
  if (int code = InfoListCreate(w.h.info); code != kRiffOk) return code;
  return DispListCreate(w.h.disp);
}

// The 64-bit size of a chunk: in an RF64 file a data size of 0xFFFFFFFF is the one in "ds64",
// or without that the rest of the file.
std::uint64_t ChunkSize(const ChunkWalk& w, const MMCKINFO& ck) {
  if (!w.rf64 || ck.ckid != kFourCCData || ck.cksize != kRf64SizeInDs64) return ck.cksize;
  return w.ds64DataSize.value_or(w.fileSize - std::min(w.fileSize, ck.dwDataOffset));
}

// A chunk that runs past the RIFF chunk ends the walk once the format and the data are known
// (false); before that it is read, up to the end of the file.
// (The walk descends only where a whole header lies inside the RIFF chunk, and the RIFF chunk
// lies inside the file, so the differences below cannot wrap.)
bool FitChunk(const ChunkWalk& w, MMCKINFO& ck, std::uint64_t& size) {
  if (size <= w.riffEnd - ck.dwDataOffset) return true;
  if (w.haveFormat && w.dataSeen) return false;
  size = std::min(size, w.fileSize - ck.dwDataOffset);
  ck.cksize = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFF));
  return true;
}

// The one chunk loop: it ends cleanly where no further chunk header is whole inside the RIFF
// chunk.
int WalkChunks(ChunkWalk& w) {
  for (;;) {
    const std::int64_t at = mmioSeek(w.h.file, 0, SEEK_FROM_CURRENT);
    if (at < 0 || static_cast<std::uint64_t>(at) + kChunkHeaderBytes > w.riffEnd) {
      return kWaveIOOk;
    }
    MMCKINFO ck{};
    if (mmioDescend(w.h.file, &ck, nullptr, 0) != 0) return kWaveIOOk;
    // The data end at the next chunk's header, also when that chunk lies past the RIFF chunk.
    if (w.previousWasData) w.dataEnd = ck.dwDataOffset - kChunkHeaderBytes;
    w.previousWasData = false;
    std::uint64_t size = ChunkSize(w, ck);
    if (!FitChunk(w, ck, size)) return kWaveIOOk;
    w.chunkSize = size;
    const int step = HandleChunk(w, ck);
    if (step == kEndWalk) return kWaveIOOk;
    if (step != kWaveIOOk) return step;
    // A chunk that cannot be left ends the walk when audio was found, and fails it otherwise.
    if (!SeekTo(w.h.file, ck.dwDataOffset + size + (size & 1))) {
      return w.HasAudio() ? kWaveIOOk : kWaveIOReadFailed;
    }
  }
}

// The usable data: from the data chunk to where the data end, less the pad byte after data of
// odd size, in whole blocks of the file's block size. A file without "data" holds no audio.
void SettleData(const ChunkWalk& w, std::uint16_t blockAlign) {
  std::uint64_t end = w.dataEnd;
  if (w.dataSeen && (w.dataSize & 1) != 0 && end == w.dataOffset + w.dataSize + 1) --end;
  const std::uint64_t span = w.dataSeen && end > w.dataOffset ? end - w.dataOffset : 0;
  w.h.dataBytes = span / blockAlign * blockAlign;
  w.h.dataOffset = w.dataSeen ? w.dataOffset : 0;
}

// The block size found goes into the record; for PCM the block size and the byte rate follow
// from bits and channels instead.
int SettlePcmFields(TWaveFormatEx* format, std::uint16_t blockAlign) {
  format->nBlockAlign = blockAlign;
  if (format->wFormatTag != WAVE_FORMAT_PCM) return kWaveIOOk;
  format->nBlockAlign = PcmFrameBytes(format);
  if (format->nBlockAlign == 0) return kWaveIONoFormat;
  format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
  return kWaveIOOk;
}

// ---- writing ----

// The file offset where a block of `count` data bytes at the current position goes, or -1 when
// it may not be written: no "data" chunk (a file read without one), a position before the data,
// an RF64 file without "ds64", or a RIFF file whose 32-bit size could not hold the finished
// file (data, pad byte, "fact" chunk, lists and trailing chunks).
std::int64_t DataWriteOffset(const TWaveIOHandle* h, std::int64_t count) {
  const std::int64_t at = mmioSeek(h->file, 0, SEEK_FROM_CURRENT);
  if (h->dataOffset == 0 || at < static_cast<std::int64_t>(h->dataOffset)) return -1;
  if (h->rf64) return h->ds64Offset != 0 ? at : -1;
  const std::uint64_t dataExtent =
      std::max<std::uint64_t>(static_cast<std::uint64_t>(at + count) - h->dataOffset, h->dataBytes);
  const std::uint64_t riffSize = h->dataOffset - kChunkHeaderBytes + dataExtent + (dataExtent & 1) +
                                 kFactChunkSize + DispListWrittenSize(h->disp.get()) +
                                 InfoListWrittenSize(h->info.get()) +
                                 RiffChunksWrittenSize(h->trailingChunks);
  return riffSize > kMaxRiffSize ? -1 : at;
}

// Counts `count` bytes at file offset `at` as written data.
void CountWritten(TWaveIOHandle* h, std::int64_t at, std::int64_t count) {
  h->data.dwFlags |= MMIO_DIRTY;
  const std::int64_t p = at + count - static_cast<std::int64_t>(h->dataOffset);
  h->position = WaveIOBytesToSamples(*h, p);
  if (static_cast<std::uint64_t>(p) > h->dataBytes) h->dataBytes = static_cast<std::uint64_t>(p);
  if (h->position > h->samples) h->samples = h->lastSample = h->position;
  h->bytesLeft = WaveIOSamplesToBytes(*h, h->lastSample - h->position);
}

// ---- finalizing ----

bool WriteU32At(HMMIO file, std::uint64_t offset, std::uint32_t value) {
  const auto bytes = platform::U32Bytes(value);
  return SeekTo(file, offset) && mmioWrite(file, bytes.data(), 4) == 4 && mmioFlush(file, 0) == 0;
}

// The true sizes of an RF64 file go into its "ds64" chunk; its 32-bit RIFF and data size fields
// say so.
bool WriteRf64Sizes(const TWaveIOHandle* h, std::uint64_t riffSize, std::uint64_t dataBytes,
                    std::int64_t samples) {
  std::array<std::uint8_t, kDs64SampleCountAt + 8> body{};
  const auto put64 = [&body](std::uint64_t at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) body[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  put64(kDs64RiffSizeAt, riffSize);
  put64(kDs64DataSizeAt, dataBytes);
  put64(kDs64SampleCountAt, static_cast<std::uint64_t>(std::max<std::int64_t>(samples, 0)));
  const auto n = static_cast<std::int64_t>(body.size());
  return h->ds64Offset != 0 && SeekTo(h->file, h->ds64Offset) &&
         mmioWrite(h->file, body.data(), n) == n && mmioFlush(h->file, 0) == 0 &&
         WriteU32At(h->file, 4, kRf64SizeInDs64) &&
         WriteU32At(h->file, h->dataOffset - 4, kRf64SizeInDs64);
}

// The disk is full: the buffered data cannot be written. The header is completed in place
// (which needs no new room) for the whole blocks that reached the disk, so the file stays a
// valid WAVE file with what was written; it has no "fact" chunk and no lists then.
void CompleteInPlace(TWaveIOHandle* h) {
  mmioDiscardBuffer(h->file);
  const std::int64_t end = mmioSeek(h->file, 0, SEEK_FROM_END);
  if (end < static_cast<std::int64_t>(h->dataOffset)) return;
  const std::uint64_t align = std::max<std::uint16_t>(h->Format()->nBlockAlign, 1);
  std::uint64_t bytes = std::min<std::uint64_t>(end - h->dataOffset, h->dataBytes);
  bytes -= bytes % align;
  if (!h->rf64) bytes = std::min<std::uint64_t>(bytes, kMaxRiffSize);
  const std::uint64_t riffSize = h->dataOffset - kChunkHeaderBytes + bytes;
  const std::int64_t samples = WaveIOBytesToSamples(*h, static_cast<std::int64_t>(bytes));
  const bool ok =
      h->rf64 ? WriteRf64Sizes(h, riffSize, bytes, samples)
              : riffSize <= kMaxRiffSize &&
                    WriteU32At(h->file, h->dataOffset - 4, static_cast<std::uint32_t>(bytes)) &&
                    WriteU32At(h->file, 4, static_cast<std::uint32_t>(riffSize));
  if (ok) {
    h->dataBytes = bytes;
    h->samples = h->lastSample = samples;
    h->fileSize = static_cast<std::uint64_t>(end);
  }
}

// An existing file was modified: both sizes are rewritten from the end of its data.
bool PrepareRewrite(TWaveIOHandle* h) {
  h->data.dwDataOffset = h->dataOffset;
  h->data.cksize = 0;
  h->data.dwFlags |= MMIO_DIRTY;
  h->riff.cksize = 0;
  h->riff.dwFlags |= MMIO_DIRTY;
  return SeekTo(h->file, h->dataOffset + h->dataBytes);
}

// What follows the data (and its pad byte): "fact", the DISP chunks, the INFO list and the
// trailing chunks.
bool WriteChunksAfterData(TWaveIOHandle* h) {
  MMCKINFO fact{};
  fact.ckid = kFourCCFact;
  const auto factValue = platform::U32Bytes(LowU32(h->samples));
  return mmioCreateChunk(h->file, &fact, 0) == 0 && mmioWrite(h->file, factValue.data(), 4) == 4 &&
         mmioAscend(h->file, &fact, 0) == 0 && DispListWrite(h->file, h->disp.get()) == kRiffOk &&
         InfoListWrite(h->file, h->info.get()) == kRiffOk &&
         RiffChunksWrite(h->file, h->trailingChunks) == kRiffOk;
}

// RIFF: the data chunk's size, the chunks after the data and the RIFF size, at the end of the
// data.
bool WriteClosingChunks(TWaveIOHandle* h) {
  return mmioAscend(h->file, &h->data, 0) == 0 && WriteChunksAfterData(h) &&
         mmioAscend(h->file, &h->riff, 0) == 0;
}

// RF64: the pad byte and the chunks after the data, then the sizes in "ds64".
bool WriteClosingChunksRf64(TWaveIOHandle* h) {
  const char pad = 0;
  if (h->ds64Offset == 0 || !SeekTo(h->file, h->dataOffset + h->dataBytes) ||
      ((h->dataBytes & 1) != 0 && mmioWrite(h->file, &pad, 1) != 1) || !WriteChunksAfterData(h)) {
    return false;
  }
  const std::int64_t end = mmioSeek(h->file, 0, SEEK_FROM_CURRENT);
  return end >= static_cast<std::int64_t>(kChunkHeaderBytes) &&
         WriteRf64Sizes(h, static_cast<std::uint64_t>(end) - kChunkHeaderBytes, h->dataBytes,
                        h->samples);
}

// Completes a file whose data were written. When the buffered data cannot reach the disk, or
// the chunks after them cannot, the file is completed in place with the data that did.
int CompleteFile(TWaveIOHandle* h) {
  MMIOINFO info{};
  if (mmioGetInfo(h->file, &info, 0) != 0 || mmioFlush(h->file, 0) != 0) {
    CompleteInPlace(h);
    return kWaveIOFlushFailed;
  }
  const bool created = (info.dwFlags & MMIO_CREATE) != 0;
  const bool closed =
      h->rf64 ? WriteClosingChunksRf64(h) : (created || PrepareRewrite(h)) && WriteClosingChunks(h);
  const bool ok = closed && mmioFlush(h->file, 0) == 0;
  const std::int64_t end = ok ? mmioSeek(h->file, 0, SEEK_FROM_END) : -1;
  if (end < 0) {
    CompleteInPlace(h);
    return kWaveIOFinalizeFailed;
  }
  h->fileSize = static_cast<std::uint64_t>(end);
  h->lastSample = h->samples;
  return kWaveIOOk;
}

}  // namespace

TWaveIOHandle::~TWaveIOHandle() {
  CloseRiffFile(file);
}

std::int64_t WaveIOBytesToSamples(const TWaveIOHandle& handle, std::int64_t bytes) {
  return stream::BytesToSamples(*handle.Format(), bytes);
}

std::int64_t WaveIOSamplesToBytes(const TWaveIOHandle& handle, std::int64_t samples) {
  return stream::SamplesToBytes(*handle.Format(), samples);
}

// ---- reading a description ----

int WaveIOReadInfo(WaveIOHandlePtr& out, const std::string& path, const MMIOINFO* memory,
                   std::uint32_t form, std::uint32_t mode) {
  out.reset();
  HMMIO file = nullptr;
  MMCKINFO riff{};
  if (OpenRiffFile(file, riff, mode, form, path, memory) != kRiffOk) return kWaveIOCannotOpen;
  auto h = std::make_unique<TWaveIOHandle>();
  h->file = file;  // closed with the work copy on every failure
  h->mode = mode;
  if (mode == kRiffModeMemory) {
    h->memory = *memory;
  } else {
    h->name = path;
  }

  ChunkWalk walk{*h};
  if (int code = BeginWalk(walk, riff); code != kWaveIOOk) return code;
  if (int code = WalkChunks(walk); code != kWaveIOOk) return code;

  // Validity is decided here, once the walk has found what there is.
  if (!walk.haveFormat) return kWaveIONoFormat;
  const std::uint16_t blockAlign = RepairFormat(h->Format(), h->format.size());
  if (blockAlign == 0) return kWaveIONoFormat;
  SettleData(walk, blockAlign);
  if (int code = SettlePcmFields(h->Format(), blockAlign); code != kWaveIOOk) return code;

  h->samples = WaveIOBytesToSamples(*h, static_cast<std::int64_t>(h->dataBytes));
  h->fileSize = walk.fileSize;
  h->firstSample = 0;
  h->lastSample = h->samples;
  h->bytesLeft = 0;
  h->position = 0;
  CloseRiffFile(h->file);
  out = std::move(h);
  return kWaveIOOk;
}

bool IsWaveFile(const std::string& path, std::uint32_t mode) {
  if (path.empty()) return false;
  WaveIOHandlePtr handle;
  return WaveIOReadInfo(handle, path, nullptr, kFourCCWave, mode) == kWaveIOOk;
}

int WaveIOFromMemory(WaveIOHandlePtr& handle, const void* address, std::int64_t length) {
  handle.reset();
  if (address == nullptr || length <= 0) return kWaveIOCannotOpen;
  MMIOINFO info{};
  info.pchBuffer = static_cast<char*>(const_cast<void*>(address));
  info.cchBuffer = length;
  return WaveIOReadInfo(handle, std::string(), &info, kFourCCWave, kRiffModeMemory);
}

// ---- new files ----

int WaveIOFromFormat(WaveIOHandlePtr& out, const TWaveFormatEx* format) {
  out.reset();
  if (format == nullptr) return kWaveIONoHandle;
  const std::size_t extra = format->wFormatTag == WAVE_FORMAT_PCM ? 0 : format->cbSize;
  auto h = std::make_unique<TWaveIOHandle>();
  h->format.resize(kFormatRecordBytes + extra);
  std::memcpy(h->format.data(), format, h->format.size());
  if (extra == 0) h->Format()->cbSize = 0;
  if (int code = InfoListCreate(h->info); code != kRiffOk) return code;
  if (int code = DispListCreate(h->disp); code != kRiffOk) return code;
  h->mode = kRiffModeNew;
  out = std::move(h);
  return kWaveIOOk;
}

int WaveIOSetInfoText(TWaveIOHandle* h, const char* id, std::string text) {
  if (h == nullptr) return kWaveIONoHandle;
  if (id == nullptr) return kWaveIONoInfoItem;
  if (!h->info) {
    if (int code = InfoListCreate(h->info); code != kRiffOk) return code;
  }
  TInfoItem* item = InfoListFind(h->info.get(), mmioStringToFOURCC(id, 0));
  if (item == nullptr) return kWaveIONoInfoItem;
  // Offset 0: the text replaces what the file had for this item, if anything.
  InfoListSetText(h->info.get(), item, kInfoStateRead, std::move(text), 0);
  return kWaveIOOk;
}

int WaveIOCreateFile(TWaveIOHandle* h, const std::string& path) {
  if (h == nullptr) return kWaveIONoHandle;
  HMMIO file = mmioOpen(path.c_str(), nullptr, MMIO_ALLOCBUF | MMIO_CREATE | MMIO_READWRITE);
  if (file == nullptr) return kWaveIOCannotOpen;  // nothing was made, so nothing is deleted
  MMCKINFO riff{};
  riff.fccType = kFourCCWave;
  MMCKINFO ds64{};
  MMCKINFO fmt{};
  fmt.ckid = kFourCCFmt;
  fmt.cksize = static_cast<std::uint32_t>(stream::WaveFormatSize(h->Format()));
  const std::vector<std::uint8_t> fmtBytes = EncodeFormat(*h, fmt.cksize);
  MMCKINFO data{};
  data.ckid = kFourCCData;
  const auto fmtSize = static_cast<std::int64_t>(fmtBytes.size());
  bool ok = false;
  if (h->rf64) {
    // The sizes stay 0 in "ds64" until the file is completed.
    riff.ckid = kFourCCRf64;
    riff.cksize = kRf64SizeInDs64;
    ds64.ckid = kFourCCDs64;
    ds64.cksize = kDs64Size;
    data.cksize = kRf64SizeInDs64;
    const auto form = platform::U32Bytes(kFourCCWave);
    const std::array<std::uint8_t, kDs64Size> zeros{};
    ok = mmioCreateChunk(file, &riff, 0) == 0 && mmioWrite(file, form.data(), 4) == 4 &&
         mmioCreateChunk(file, &ds64, 0) == 0 &&
         mmioWrite(file, zeros.data(), kDs64Size) == kDs64Size;
  } else {
    ok = mmioCreateChunk(file, &riff, MMIO_CREATERIFF) == 0;
  }
  ok = ok && mmioCreateChunk(file, &fmt, 0) == 0 &&
       mmioWrite(file, fmtBytes.data(), fmtSize) == fmtSize && mmioAscend(file, &fmt, 0) == 0 &&
       mmioCreateChunk(file, &data, 0) == 0;
  if (!ok) {
    CloseRiffFile(file);
    RiffFileDelete(path);
    return kWaveIOWriteFailed;
  }
  h->file = file;
  h->riff = riff;
  h->data = data;
  h->dataOffset = data.dwDataOffset;
  h->ds64Offset = ds64.dwDataOffset;
  h->name = path;
  h->samples = WaveIOBytesToSamples(*h, static_cast<std::int64_t>(h->dataBytes));
  h->firstSample = 0;
  h->lastSample = h->samples;
  return kWaveIOOk;
}

// ---- open files ----

int WaveIOReopen(TWaveIOHandle* h) {
  if (h == nullptr) return kWaveIONoHandle;
  if (h->file == nullptr) {
    OpenRiffFile(h->file, h->riff, h->mode, kFourCCWave, h->name,
                 h->memory ? &*h->memory : nullptr);
  }
  if (h->file == nullptr) return kWaveIOCannotOpen;
  return WaveIOSeek(h, h->position);
}

int WaveIOSetBuffer(TWaveIOHandle* h, std::int64_t size) {
  if (h == nullptr) return kWaveIONoHandle;
  if (h->mode == kRiffModeMemory) return kWaveIOOk;
  if (h->file == nullptr) return kWaveIONotOpen;
  if (size < 0) return kWaveIONoFormat;
  return mmioSetBuffer(h->file, nullptr, size, 0);
}

int WaveIOSeek(TWaveIOHandle* h, std::int64_t sample) {
  if (h == nullptr) return kWaveIONoHandle;
  if (sample < 0) return kWaveIOSeekFailed;
  // A wave without sample frames stays at 0.
  const std::int64_t span = h->lastSample - h->firstSample;
  sample = span > 0 ? std::clamp<std::int64_t>(sample, 0, span - 1) : 0;
  if (h->file == nullptr) {
    const std::int64_t bytes = WaveIOSamplesToBytes(*h, h->firstSample + sample);
    h->position = WaveIOBytesToSamples(*h, bytes) - h->firstSample;
    return kWaveIOOk;
  }
  if (h->dataOffset == 0) {
    // Read from a file without a "data" chunk: there is nothing to position in.
    h->bytesLeft = 0;
    h->position = 0;
    return kWaveIOOk;
  }
  if (h->dataOffset < kChunkHeaderBytes || !SeekTo(h->file, h->dataOffset - kChunkHeaderBytes)) {
    return kWaveIOSeekFailed;
  }
  const std::uint32_t dirty = h->data.dwFlags & MMIO_DIRTY;  // keep "data were written"
  if (mmioDescend(h->file, &h->data, nullptr, 0) != 0 || h->data.ckid != kFourCCData) {
    return kWaveIOSeekFailed;
  }
  h->data.dwFlags |= dirty;
  const std::int64_t align = h->Format()->nBlockAlign;
  std::int64_t bytes = std::min(WaveIOSamplesToBytes(*h, h->firstSample + sample),
                                static_cast<std::int64_t>(h->dataBytes));
  if (align > 0) bytes -= bytes % align;
  if (mmioSeek(h->file, bytes, SEEK_FROM_CURRENT) < 0) return kWaveIOSeekFailed;
  // Samples rounded back to bytes may come out above the data; reads stop at the data's end.
  const std::int64_t end =
      std::min(WaveIOSamplesToBytes(*h, h->lastSample), static_cast<std::int64_t>(h->dataBytes));
  h->bytesLeft = std::max<std::int64_t>(end - bytes, 0);
  h->position = WaveIOBytesToSamples(*h, bytes) - h->firstSample;
  return kWaveIOOk;
}

std::int64_t WaveIORead(TWaveIOHandle* h, void* buffer, std::int64_t count) {
  if (h == nullptr || h->file == nullptr) return -1;
  if (h->bytesLeft == 0) return -1;
  const std::int64_t r = mmioRead(h->file, buffer, std::min(count, h->bytesLeft));
  if (r < count) h->bytesLeft = 0;
  if (r > 0) {
    h->bytesLeft = std::max<std::int64_t>(h->bytesLeft - r, 0);
    h->position = (h->lastSample - h->firstSample) - WaveIOBytesToSamples(*h, h->bytesLeft);
  }
  return r;
}

std::int64_t WaveIOWrite(TWaveIOHandle* h, const void* buffer, std::int64_t count) {
  if (h == nullptr || h->file == nullptr || count <= 0) return -1;
  const std::int64_t at = DataWriteOffset(h, count);
  if (at < 0) return -1;
  const std::int64_t w = mmioWrite(h->file, buffer, count);
  if (w == 0) return 0;
  if (w < 0) return -1;
  CountWritten(h, at, w);
  return w;
}

std::int64_t WaveIOSkipData(TWaveIOHandle* h, std::int64_t count) {
  if (h == nullptr || h->file == nullptr || count <= 0) return -1;
  const std::int64_t at = DataWriteOffset(h, count);
  if (at < 0 || mmioSeek(h->file, count, SEEK_FROM_CURRENT) != at + count) return -1;
  CountWritten(h, at, count);
  return count;
}

int WaveIOFinalize(TWaveIOHandle* h) {
  if (h == nullptr || h->file == nullptr) return kWaveIOOk;
  int result = (h->data.dwFlags & MMIO_DIRTY) != 0 ? CompleteFile(h) : kWaveIOOk;
  // Buffered bytes that cannot reach the disk on closing fail the finalization too; the first
  // failure is the one reported.
  if (CloseRiffFile(h->file) != kRiffOk && result == kWaveIOOk) result = kWaveIOCloseFailed;
  h->bytesLeft = 0;
  h->position = 0;
  return result;
}

int WaveIOFree(WaveIOHandlePtr& handle) {
  if (!handle) return kWaveIONoHandle;
  handle.reset();  // closes the file without finalizing it
  return kWaveIOOk;
}

std::string WaveFormatName(const TWaveFormatEx* format) {
  if (format == nullptr) return "Unknown";
  for (const FormatName& row : kFormatNames) {
    if (row.tag == format->wFormatTag) return row.name;
  }
  return "Unknown";
}

}  // namespace wave
