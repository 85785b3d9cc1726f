// The WAVE file layer: reads a file's description with one chunk walk that repairs what the
// format's rules allow, and creates, positions, reads, writes and finalizes WAVE files through a
// wave I/O handle.
// Threading: a handle belongs to one owner, which serialises every call on it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stream/WaveFormat.h"
#include "wave/RiffIO.h"

namespace wave {

// Result codes.
constexpr int kWaveIOOk = 0;
constexpr int kWaveIONoFormat = 101;
constexpr int kWaveIONoHandle = 104;
constexpr int kWaveIOCannotOpen = 106;

// The largest RIFF size field: a file may hold 4 GiB - 1 bytes after its first 8.
constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFull;

// Counts and positions are 64-bit inside, so data between 2 GiB and 4 GiB are handled; the file
// layout keeps its 32-bit fields.
struct TWaveIOHandle {
  std::int32_t recordSize = 0;
  std::uint32_t mode = kRiffModeNew;
  HMMIO file = nullptr;  // null whenever the file is closed
  MMCKINFO riff{};
  MMCKINFO data{};
  std::uint64_t fileSize = 0;
  std::uint64_t dataBytes = 0;   // usable length of the audio data
  std::uint64_t dataOffset = 0;  // file offset of the first data byte
  std::int64_t samples = 0;      // sample frames in the data
  std::int64_t firstSample = 0;
  std::int64_t lastSample = 0;
  std::int64_t bytesLeft = 0;  // from the read position to the last sample
  std::int64_t position = 0;   // current sample frame
  std::string name;            // the path (modes 0 and 1)
  std::optional<MMIOINFO> memory;  // the memory description (mode 4)
  std::unique_ptr<TDispList> disp;
  std::unique_ptr<TInfoList> info;
  std::vector<char> format;  // at least 18 bytes: the format record and its extra bytes

  ~TWaveIOHandle();
  const stream::TWaveFormatEx* Format() const {
    return reinterpret_cast<const stream::TWaveFormatEx*>(format.data());
  }
  stream::TWaveFormatEx* Format() { return reinterpret_cast<stream::TWaveFormatEx*>(format.data()); }
};

using WaveIOHandlePtr = std::unique_ptr<TWaveIOHandle>;

std::int64_t WaveIOBytesToSamples(const TWaveIOHandle& handle, std::int64_t bytes);
std::int64_t WaveIOSamplesToBytes(const TWaveIOHandle& handle, std::int64_t samples);

// Reads the description of the RIFF `form` file at `path` (modes 0 and 1) or of the memory
// image that `memory` describes (mode 4), and leaves the file closed.
int WaveIOReadInfo(WaveIOHandlePtr& handle, const std::string& path, const MMIOINFO* memory,
                   std::uint32_t form, std::uint32_t mode);
bool IsWaveFile(const std::string& path, std::uint32_t mode);
int WaveIOFromMemory(WaveIOHandlePtr& handle, const void* address, std::int64_t length);
int WaveIOFromFormat(WaveIOHandlePtr& handle, const stream::TWaveFormatEx* format);
int WaveIOCreateFile(TWaveIOHandle* handle, const std::string& path);
int WaveIOReopen(TWaveIOHandle* handle);
int WaveIOSetBuffer(TWaveIOHandle* handle, std::int64_t size);
int WaveIOSeek(TWaveIOHandle* handle, std::int64_t sample);
// Bytes read, or -1 (no handle, file closed, nothing left, I/O error).
std::int64_t WaveIORead(TWaveIOHandle* handle, void* buffer, std::int64_t count);
// Bytes written; 0 when nothing could be written; -1 without an open file, for count 0, on an
// I/O error, or when the data would make the RIFF size exceed kMaxRiffSize (nothing of such a
// block is written, so the file stays valid).
std::int64_t WaveIOWrite(TWaveIOHandle* handle, const void* buffer, std::int64_t count);
int WaveIOFinalize(TWaveIOHandle* handle);
int WaveIOFree(WaveIOHandlePtr& handle);

// "PCM", "IMA ADPCM", ...; "Unknown" for tags not in the table or no format.
std::string WaveFormatName(const stream::TWaveFormatEx* format);

}  // namespace wave
