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

// Result codes: one per kind of failure. Reading a description may also return the RIFF layer's
// codes 2..4 (a list that could not be read).
constexpr int kWaveIOOk = 0;
constexpr int kWaveIONoFormat = 101;        // no "fmt " chunk, or one that gives no block size
constexpr int kWaveIONoHandle = 104;        // no handle, or no format to make one from
constexpr int kWaveIOCannotOpen = 106;      // the file, memory image or new file cannot be opened
constexpr int kWaveIOReadFailed = 107;      // the file opened, but its chunks cannot be read
constexpr int kWaveIOSeekFailed = 108;      // a negative sample, or the data cannot be reached
constexpr int kWaveIOWriteFailed = 109;     // the header of a new file cannot be written
constexpr int kWaveIOFlushFailed = 110;     // written data cannot reach the disk
constexpr int kWaveIOFinalizeFailed = 111;  // the sizes, "fact" or lists cannot be written
constexpr int kWaveIOCloseFailed = 112;     // the last buffered bytes are lost on closing
constexpr int kWaveIONotOpen = 113;         // the call needs an open file
constexpr int kWaveIONoInfoItem = 114;      // an id that the INFO list has no item for
constexpr int kWaveIONoChunk = 115;         // the file has no chunk of that id
constexpr int kWaveIOChunkTooLarge = 116;   // the chunk holds more than the caller takes

// The largest RIFF size field: a file may hold 4 GiB - 1 bytes after its first 8.
constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFull;

// The 32-bit size field of an RF64 file that says "the size is in ds64".
constexpr std::uint32_t kRf64SizeInDs64 = 0xFFFFFFFF;

// Counts and positions are 64-bit inside. A "RIFF" file keeps its 32-bit fields, so it holds up
// to 4 GiB; an "RF64" file keeps its 64-bit sizes in a "ds64" chunk and has no such limit.
struct TWaveIOHandle {
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
  std::int64_t bytesLeft = 0;      // from the read position to the last sample
  std::int64_t position = 0;       // current sample frame
  std::string name;                // the path (modes 0 and 1)
  std::optional<MMIOINFO> memory;  // the memory description (mode 4)
  std::unique_ptr<TDispList> disp;
  std::unique_ptr<TInfoList> info;
  std::uint64_t infoListLeftOut = 0;  // bytes of an INFO list over the reader's cap, not read
  // "RF64" instead of "RIFF": set by the caller before WaveIOCreateFile, and by the reader for an
  // RF64 file.
  bool rf64 = false;
  std::uint64_t ds64Offset = 0;  // file offset of the "ds64" chunk's body; 0 = none
  // Chunks written after the INFO list when a file is completed, in this order (the reader
  // leaves it empty).
  std::vector<RiffChunk> trailingChunks;
  // At least 18 bytes: the format record in host order (read from the file's little-endian
  // fields) and its extra bytes as stored.
  std::vector<char> format;

  ~TWaveIOHandle();
  const stream::TWaveFormatEx* Format() const {
    return reinterpret_cast<const stream::TWaveFormatEx*>(format.data());
  }
  stream::TWaveFormatEx* Format() {
    return reinterpret_cast<stream::TWaveFormatEx*>(format.data());
  }
};

using WaveIOHandlePtr = std::unique_ptr<TWaveIOHandle>;

std::int64_t WaveIOBytesToSamples(const TWaveIOHandle& handle, std::int64_t bytes);
std::int64_t WaveIOSamplesToBytes(const TWaveIOHandle& handle, std::int64_t samples);

// Reads the description of the RIFF (or RF64) `form` file at `path` (modes 0 and 1) or of the
// memory image that `memory` describes (mode 4), and leaves the file closed. In an RF64 file the
// sizes given as 0xFFFFFFFF are taken from its "ds64" chunk; without a usable one they reach to
// the end of the file. An INFO list of more than `maxInfoListBytes` is not read (its size is
// kept in infoListLeftOut), so that a hostile list cannot take the memory. kWaveIOCannotOpen when
// it is no RIFF file of that form, kWaveIOReadFailed when its chunks cannot be read,
// kWaveIONoFormat without a usable format.
int WaveIOReadInfo(WaveIOHandlePtr& handle, const std::string& path, const MMIOINFO* memory,
                   std::uint32_t form, std::uint32_t mode,
                   std::uint64_t maxInfoListBytes = UINT64_MAX);
bool IsWaveFile(const std::string& path, std::uint32_t mode);
int WaveIOFromMemory(WaveIOHandlePtr& handle, const void* address, std::int64_t length);
int WaveIOFromFormat(WaveIOHandlePtr& handle, const stream::TWaveFormatEx* format);
// Sets the text of the INFO item `id` (four characters, e.g. "INAM"; UTF-8 text) that the file
// gets when it is completed; an empty text removes the item. kWaveIONoHandle without a handle,
// kWaveIONoInfoItem for an id that the INFO table does not have.
int WaveIOSetInfoText(TWaveIOHandle* handle, const char* id, std::string text);
// Creates the file and writes its header: "RIFF", or with handle->rf64 "RF64" and a "ds64"
// chunk, then "fmt " and the "data" header. kWaveIOCannotOpen when the path cannot be created;
// kWaveIOWriteFailed when the header cannot be written (the half-made file is removed).
int WaveIOCreateFile(TWaveIOHandle* handle, const std::string& path);
// Opens a closed handle's file again and goes to its position: kWaveIOCannotOpen or the seek's
// result.
int WaveIOReopen(TWaveIOHandle* handle);
// kWaveIONotOpen for a closed file; otherwise the file layer's result (0 on success).
int WaveIOSetBuffer(TWaveIOHandle* handle, std::int64_t size);
// Goes to sample frame `sample` of the data (kept inside them); on a closed handle only the
// position moves. kWaveIOSeekFailed for a negative sample or data that cannot be reached.
int WaveIOSeek(TWaveIOHandle* handle, std::int64_t sample);
// Bytes read, or -1 (no handle, file closed, nothing left, I/O error).
std::int64_t WaveIORead(TWaveIOHandle* handle, void* buffer, std::int64_t count);
// Bytes written; 0 when nothing could be written; -1 without an open file, for count 0, on an
// I/O error, or when the data would make the RIFF size of a "RIFF" file exceed kMaxRiffSize, or
// for an RF64 file without "ds64" (nothing of such a block is written, so the file stays valid).
std::int64_t WaveIOWrite(TWaveIOHandle* handle, const void* buffer, std::int64_t count);
// Advances the write position by `count` bytes of data without writing them, as WaveIOWrite
// would after writing them (same results and limits). Skipped bytes past the end of the file
// become a hole that reads as zeros and takes no room where the file system keeps sparse files;
// this lets the layout of files with more than 4 GiB of data be checked without writing them.
std::int64_t WaveIOSkipData(TWaveIOHandle* handle, std::int64_t count);
// Reserves `count` bytes of data as WaveIOSkipData does and writes the buffered header out, so
// that the reserved data may then be filled with WaveIOWriteAt in any order. Same results as
// WaveIOSkipData; -1 also when the header cannot be written.
std::int64_t WaveIOReserveData(TWaveIOHandle* handle, std::int64_t count);
// Writes `count` bytes at byte `dataByte` of data reserved before (WaveIOReserveData), through the
// handle's own file, without moving its position: `count`, or -1 without an open file, outside
// the reserved data, or on an I/O error (mmioLastWriteError on the calling thread says which).
// Several threads may write disjoint ranges at once; no other call may run on the handle then.
std::int64_t WaveIOWriteAt(TWaveIOHandle* handle, const void* buffer, std::int64_t count,
                           std::uint64_t dataByte);
// As WaveIOWriteAt, with the bytes copied from offset `sourceOffset` of the open file
// `sourceFd` (inside the kernel where it can): the count copied, fewer when the source ends first
// or on an I/O error; -1 as for WaveIOWriteAt.
std::int64_t WaveIOCopyAt(TWaveIOHandle* handle, int sourceFd, std::int64_t sourceOffset,
                          std::int64_t count, std::uint64_t dataByte);
// Completes a written file (data size, "fact", lists, trailing chunks, RIFF size; in an RF64 file
// the sizes and sample count in "ds64", the "fact" count clamped to 32 bits) and closes it; a
// file only read is just closed. kWaveIOFlushFailed when written data cannot reach the disk (the
// file is then completed in place with what did), kWaveIOFinalizeFailed when the closing chunks
// cannot be written, kWaveIOCloseFailed when closing loses the last buffered bytes.
int WaveIOFinalize(TWaveIOHandle* handle);
int WaveIOFree(WaveIOHandlePtr& handle);

// Reads into `body` the first chunk `id` at the top level of the file that `handle` describes
// (read from a path by WaveIOReadInfo), stepping over its audio data by the sizes found then (so
// RF64 files too), when the chunk holds at most `maxBytes`. kWaveIOCannotOpen or
// kWaveIOReadFailed when the file cannot be read, kWaveIONoChunk, kWaveIOChunkTooLarge.
int WaveIOReadChunk(const TWaveIOHandle& handle, std::uint32_t id, std::uint64_t maxBytes,
                    std::vector<char>& body);

// "PCM", "IMA ADPCM", ...; "Unknown" for tags not in the table or no format.
std::string WaveFormatName(const stream::TWaveFormatEx* format);

}  // namespace wave
