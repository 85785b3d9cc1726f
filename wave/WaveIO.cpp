// The reading side of the wave I/O layer: the chunk walk that describes a file, new handles,
// positioning and reading. The writing side is in WaveIOWrite.cpp.
#include "wave/WaveIO.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/ByteOrder.h"
#include "stream/TimeConversions.h"
#include "wave/WaveIOLayout.h"

namespace wave {

using namespace platform;
using namespace layout;
using stream::TWaveFormatEx;
using stream::WAVE_FORMAT_PCM;

namespace {

// A format record never needs more than its 18 bytes and 65535 extra bytes; a larger "fmt "
// chunk is read that far and the rest skipped.
constexpr std::uint32_t kMaxFormatBytes = kFormatRecordBytes + 0xFFFF;
// A chunk handler's answer that ends the walk without failing it.
constexpr int kEndWalk = -1;

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
  std::uint64_t maxInfoListBytes = UINT64_MAX;

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
  // Only the first INFO list counts, also when it was too large to be read.
  if (w.h.infoListLeftOut != 0 || (w.h.info && w.h.info->raw)) return kWaveIOOk;
  if (w.chunkSize > w.maxInfoListBytes) {
    w.h.infoListLeftOut = w.chunkSize;
    return kWaveIOOk;
  }
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
                   std::uint32_t form, std::uint32_t mode, std::uint64_t maxInfoListBytes) {
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
  walk.maxInfoListBytes = maxInfoListBytes;
  if (int code = BeginWalk(walk, riff); code != kWaveIOOk) return code;
  if (int code = WalkChunks(walk); code != kWaveIOOk) return code;

  // Validity is decided here, once the walk has found what there is.
  if (!walk.haveFormat) return kWaveIONoFormat;
  const std::uint16_t blockAlign = RepairFormat(h->Format(), h->format.size());
  if (blockAlign == 0) return kWaveIONoFormat;
  SettleData(walk, blockAlign);
  if (int code = SettlePcmFields(h->Format(), blockAlign); code != kWaveIOOk) return code;
  // The data, rounded by the file's block size, are also whole frames of the PCM block size
  // that bits and channels give (a file claiming 4 for 24-bit stereo would otherwise end in a
  // part of a frame).
  h->dataBytes -= h->dataBytes % h->Format()->nBlockAlign;

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

int WaveIOFree(WaveIOHandlePtr& handle) {
  if (!handle) return kWaveIONoHandle;
  handle.reset();  // closes the file without finalizing it
  return kWaveIOOk;
}

}  // namespace wave
