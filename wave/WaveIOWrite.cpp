// The writing side of the wave I/O layer: creating a WAVE file (RIFF or RF64), writing its data
// in order or at given places, and completing it with its sizes and closing chunks.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/ByteOrder.h"
#include "wave/WaveIO.h"
#include "wave/WaveIOLayout.h"

namespace wave {

using namespace platform;
using namespace layout;
using stream::TWaveFormatEx;

namespace {

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

std::int64_t WaveIOReserveData(TWaveIOHandle* h, std::int64_t count) {
  const std::int64_t skipped = WaveIOSkipData(h, count);
  return skipped == count && mmioFlush(h->file, 0) == 0 ? skipped : -1;
}

namespace {

// Whether `count` bytes at byte `dataByte` of the data lie inside the data reserved.
bool InReservedData(const TWaveIOHandle* h, std::int64_t count, std::uint64_t dataByte) {
  return h != nullptr && h->file != nullptr && count > 0 && h->dataOffset != 0 &&
         dataByte <= h->dataBytes && static_cast<std::uint64_t>(count) <= h->dataBytes - dataByte;
}

}  // namespace

std::int64_t WaveIOWriteAt(TWaveIOHandle* h, const void* buffer, std::int64_t count,
                           std::uint64_t dataByte) {
  if (!InReservedData(h, count, dataByte)) return -1;
  const std::int64_t w =
      mmioWriteAt(h->file, buffer, count, static_cast<std::int64_t>(h->dataOffset + dataByte));
  return w == count ? w : -1;
}

std::int64_t WaveIOCopyAt(TWaveIOHandle* h, int sourceFd, std::int64_t sourceOffset,
                          std::int64_t count, std::uint64_t dataByte) {
  if (!InReservedData(h, count, dataByte)) return -1;
  return mmioCopyAt(h->file, sourceFd, sourceOffset, count,
                    static_cast<std::int64_t>(h->dataOffset + dataByte));
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

}  // namespace wave
