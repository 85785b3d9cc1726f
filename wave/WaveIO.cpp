#include "wave/WaveIO.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "stream/TimeConversions.h"
#include "wave/ByteOrder.h"

namespace wave {

using namespace platform;
using stream::TWaveFormatEx;
using stream::WAVE_FORMAT_PCM;

namespace {

constexpr std::int32_t kReadRecordBase = 109;
constexpr std::int32_t kFormatRecordBase = 127;
constexpr std::uint64_t kFactChunkSize = 12;
// A format record never needs more than its 18 bytes and 65535 extra bytes; a larger "fmt "
// chunk is read that far and the rest skipped.
constexpr std::uint32_t kMaxFormatBytes = sizeof(TWaveFormatEx) + 0xFFFF;

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

std::uint32_t LowU32(std::int64_t value) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, 0xFFFFFFFF));
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
  if (f->wFormatTag != WAVE_FORMAT_PCM && sizeof(TWaveFormatEx) + f->cbSize > storedBytes) {
    f->cbSize = static_cast<std::uint16_t>(storedBytes - sizeof(TWaveFormatEx));
  }
  if (f->nBlockAlign != 0) return f->nBlockAlign;
  if (f->wFormatTag != WAVE_FORMAT_PCM) return 0;
  return PcmFrameBytes(f);
}

bool WriteU32At(HMMIO file, std::uint64_t offset, std::uint32_t value) {
  const auto bytes = U32Bytes(value);
  return SeekTo(file, offset) && mmioWrite(file, bytes.data(), 4) == 4 && mmioFlush(file, 0) == 0;
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
  bytes = std::min<std::uint64_t>(bytes - bytes % align, kMaxRiffSize);
  const std::uint64_t riffSize = h->dataOffset - 8 + bytes;
  if (riffSize > kMaxRiffSize) return;
  if (WriteU32At(h->file, h->dataOffset - 4, static_cast<std::uint32_t>(bytes)) &&
      WriteU32At(h->file, 4, static_cast<std::uint32_t>(riffSize))) {
    h->dataBytes = bytes;
    h->samples = h->lastSample = WaveIOBytesToSamples(*h, static_cast<std::int64_t>(bytes));
    h->fileSize = static_cast<std::uint64_t>(end);
  }
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

  const std::int64_t end = mmioSeek(file, 0, SEEK_FROM_END);
  if (end < 0 || !SeekTo(file, riff.dwDataOffset + 4)) return kWaveIOCannotOpen;
  const auto fileSize = static_cast<std::uint64_t>(end);
  if (riff.dwDataOffset + riff.cksize > fileSize) {
    riff.cksize = static_cast<std::uint32_t>(fileSize - riff.dwDataOffset);
  }
  const std::uint64_t riffEnd = riff.dwDataOffset + riff.cksize;
  if (int code = InfoListCreate(h->info); code != kRiffOk) return code;
  if (int code = DispListCreate(h->disp); code != kRiffOk) return code;

  bool haveFormat = false;
  bool dataSeen = false;
  bool previousWasData = false;
  bool haveFact = false;
  std::uint32_t dataSize = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t dataEnd = fileSize;
  std::size_t storedFormatBytes = 0;
  for (;;) {
    MMCKINFO ck{};
    if (mmioDescend(file, &ck, &riff, 0) != 0) break;
    // The data end at the next chunk's header, also when that chunk lies past the RIFF chunk.
    if (previousWasData) dataEnd = ck.dwDataOffset - 8;
    previousWasData = false;
    if (ck.dwDataOffset + ck.cksize > riffEnd) {
      if (haveFormat && dataSeen) break;
      if (ck.dwDataOffset + ck.cksize > fileSize) {
        ck.cksize = static_cast<std::uint32_t>(fileSize - ck.dwDataOffset);
      }
    }
    if (ck.ckid == kFourCCList) {
      if (ck.fccType == kFourCCInfo) {
        if (int code = InfoListRead(file, ck, h->info.get()); code != kRiffOk) return code;
      }
    } else if (ck.ckid == kFourCCDisp) {
      if (int code = DispListRead(file, ck, h->disp.get()); code != kRiffOk) return code;
    } else if (ck.ckid == kFourCCFmt) {
      if (haveFormat) break;
      const std::uint32_t readBytes = std::min(ck.cksize, kMaxFormatBytes);
      storedFormatBytes = std::max<std::size_t>(readBytes, sizeof(TWaveFormatEx));
      h->recordSize = kReadRecordBase + static_cast<std::int32_t>(storedFormatBytes);
      h->format.assign(storedFormatBytes, 0);
      if (!ReadExactly(file, h->format.data(), readBytes)) return kWaveIOCannotOpen;
      haveFormat = true;
    } else if (ck.ckid == kFourCCData) {
      if (dataSeen && dataSize != 0) break;
      dataSeen = true;
      dataSize = ck.cksize;
      dataOffset = ck.dwDataOffset;
      dataEnd = fileSize;  // an empty data chunk before this one ended where this one begins
      previousWasData = true;
    } else if (ck.ckid == kFourCCFact) {
      // The sample count is taken from the data, whatever "fact" says; a second one ends the walk.
      if (haveFact) break;
      haveFact = true;
    }
    if (mmioAscend(file, &ck, 0) != 0) {
      if (dataSeen && dataSize != 0) break;
      return kWaveIOCannotOpen;
    }
  }

  if (!haveFormat) return kWaveIONoFormat;
  // The pad byte after data of odd size is not audio.
  if (dataSeen && (dataSize & 1) != 0 && dataEnd == dataOffset + dataSize + 1) --dataEnd;
  TWaveFormatEx* format = h->Format();
  const std::uint16_t blockAlign = RepairFormat(format, storedFormatBytes);
  if (blockAlign == 0) return kWaveIONoFormat;
  // A file without a "data" chunk holds no audio.
  const std::uint64_t span = dataSeen && dataEnd > dataOffset ? dataEnd - dataOffset : 0;
  h->dataBytes = span / blockAlign * blockAlign;
  h->dataOffset = dataSeen ? dataOffset : 0;
  format->nBlockAlign = blockAlign;
  if (format->wFormatTag == WAVE_FORMAT_PCM) {
    format->nBlockAlign = PcmFrameBytes(format);
    if (format->nBlockAlign == 0) return kWaveIONoFormat;
    format->nAvgBytesPerSec = format->nBlockAlign * format->nSamplesPerSec;
  }
  h->samples = WaveIOBytesToSamples(*h, static_cast<std::int64_t>(h->dataBytes));

  h->fileSize = fileSize;
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
  h->recordSize = kFormatRecordBase + static_cast<std::int32_t>(extra);
  h->format.resize(sizeof(TWaveFormatEx) + extra);
  std::memcpy(h->format.data(), format, h->format.size());
  if (extra == 0) h->Format()->cbSize = 0;
  if (int code = InfoListCreate(h->info); code != kRiffOk) return code;
  if (int code = DispListCreate(h->disp); code != kRiffOk) return code;
  h->mode = kRiffModeNew;
  out = std::move(h);
  return kWaveIOOk;
}

int WaveIOCreateFile(TWaveIOHandle* h, const std::string& path) {
  if (h == nullptr) return kWaveIONoHandle;
  HMMIO file = mmioOpen(path.c_str(), nullptr, MMIO_ALLOCBUF | MMIO_CREATE | MMIO_READWRITE);
  if (file == nullptr) return kWaveIOCannotOpen;  // nothing was made, so nothing is deleted
  MMCKINFO riff{};
  riff.fccType = kFourCCWave;
  MMCKINFO fmt{};
  fmt.ckid = kFourCCFmt;
  fmt.cksize = static_cast<std::uint32_t>(stream::WaveFormatSize(h->Format()));
  MMCKINFO data{};
  data.ckid = kFourCCData;
  const bool ok = mmioCreateChunk(file, &riff, MMIO_CREATERIFF) == 0 &&
                  mmioCreateChunk(file, &fmt, 0) == 0 &&
                  mmioWrite(file, h->format.data(), fmt.cksize) == fmt.cksize &&
                  mmioAscend(file, &fmt, 0) == 0 && mmioCreateChunk(file, &data, 0) == 0;
  if (!ok) {
    CloseRiffFile(file);
    RiffFileDelete(path);
    return kWaveIOCannotOpen;
  }
  h->file = file;
  h->riff = riff;
  h->data = data;
  h->dataOffset = data.dwDataOffset;
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
  return WaveIOSeek(h, h->position) == kWaveIOOk ? kWaveIOOk : kWaveIOCannotOpen;
}

int WaveIOSetBuffer(TWaveIOHandle* h, std::int64_t size) {
  if (h == nullptr) return kWaveIONoHandle;
  if (h->mode == kRiffModeMemory) return kWaveIOOk;
  if (h->file == nullptr || size < 0) return kWaveIONoFormat;
  return mmioSetBuffer(h->file, nullptr, size, 0);
}

int WaveIOSeek(TWaveIOHandle* h, std::int64_t sample) {
  if (h == nullptr || sample < 0) return kWaveIOCannotOpen;
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
  if (h->dataOffset < 8 || !SeekTo(h->file, h->dataOffset - 8)) return kWaveIOCannotOpen;
  const std::uint32_t dirty = h->data.dwFlags & MMIO_DIRTY;  // keep "data were written"
  if (mmioDescend(h->file, &h->data, nullptr, 0) != 0 || h->data.ckid != kFourCCData) {
    return kWaveIOCannotOpen;
  }
  h->data.dwFlags |= dirty;
  const std::int64_t align = h->Format()->nBlockAlign;
  std::int64_t bytes = std::min(WaveIOSamplesToBytes(*h, h->firstSample + sample),
                                static_cast<std::int64_t>(h->dataBytes));
  if (align > 0) bytes -= bytes % align;
  if (mmioSeek(h->file, bytes, SEEK_FROM_CURRENT) < 0) return kWaveIOCannotOpen;
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
  const std::int64_t at = mmioSeek(h->file, 0, SEEK_FROM_CURRENT);
  // Without a "data" chunk (a file read without one) there is nowhere to write.
  if (h->dataOffset == 0 || at < static_cast<std::int64_t>(h->dataOffset)) return -1;
  // Refuse a block that would take the finished file past what its 32-bit RIFF size can hold:
  // data, pad byte, "fact" chunk and the lists that are written after the data.
  const std::uint64_t dataExtent =
      std::max<std::uint64_t>(static_cast<std::uint64_t>(at + count) - h->dataOffset, h->dataBytes);
  const std::uint64_t riffSize = h->dataOffset - 8 + dataExtent + (dataExtent & 1) +
                                 kFactChunkSize + DispListWrittenSize(h->disp.get()) +
                                 InfoListWrittenSize(h->info.get());
  if (riffSize > kMaxRiffSize) return -1;
  const std::int64_t w = mmioWrite(h->file, buffer, count);
  if (w == 0) return 0;
  if (w < 0) return -1;
  h->data.dwFlags |= MMIO_DIRTY;
  const std::int64_t p = at + w - static_cast<std::int64_t>(h->dataOffset);
  h->position = WaveIOBytesToSamples(*h, p);
  if (static_cast<std::uint64_t>(p) > h->dataBytes) h->dataBytes = static_cast<std::uint64_t>(p);
  if (h->position > h->samples) h->samples = h->lastSample = h->position;
  h->bytesLeft = WaveIOSamplesToBytes(*h, h->lastSample - h->position);
  return w;
}

int WaveIOFinalize(TWaveIOHandle* h) {
  if (h == nullptr || h->file == nullptr) return kWaveIOOk;
  int result = kWaveIOOk;
  if (h->data.dwFlags & MMIO_DIRTY) {
    MMIOINFO info{};
    if (mmioGetInfo(h->file, &info, 0) != 0 || mmioFlush(h->file, 0) != 0) {
      result = kWaveIOCannotOpen;
      CompleteInPlace(h);
    } else {
      bool ok = true;
      if ((info.dwFlags & MMIO_CREATE) == 0) {
        // An existing file was modified: rewrite both sizes from the end of its data.
        h->data.dwDataOffset = h->dataOffset;
        h->data.cksize = 0;
        h->data.dwFlags |= MMIO_DIRTY;
        ok = SeekTo(h->file, h->dataOffset + h->dataBytes);
        h->riff.cksize = 0;
        h->riff.dwFlags |= MMIO_DIRTY;
      }
      MMCKINFO fact{};
      fact.ckid = kFourCCFact;
      const auto factValue = U32Bytes(LowU32(h->samples));
      ok = ok && mmioAscend(h->file, &h->data, 0) == 0 && mmioCreateChunk(h->file, &fact, 0) == 0 &&
           mmioWrite(h->file, factValue.data(), 4) == 4 && mmioAscend(h->file, &fact, 0) == 0 &&
           DispListWrite(h->file, h->disp.get()) == kRiffOk &&
           InfoListWrite(h->file, h->info.get()) == kRiffOk &&
           mmioAscend(h->file, &h->riff, 0) == 0;
      const std::int64_t end = ok ? mmioSeek(h->file, 0, SEEK_FROM_END) : -1;
      if (end < 0) {
        result = kWaveIOCannotOpen;
      } else {
        h->fileSize = static_cast<std::uint64_t>(end);
        h->lastSample = h->samples;
      }
    }
  }
  // Buffered bytes that cannot reach the disk fail the finalization too.
  if (CloseRiffFile(h->file) != kRiffOk) result = kWaveIOCannotOpen;
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
