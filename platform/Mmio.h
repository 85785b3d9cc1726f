// Buffered multimedia file I/O with RIFF chunk helpers: the stand-in for the platform's mmio
// services, with the same observable results on disk. A handle is either a file on disk or a
// file image in a block of memory (the "MEM " procedure) that cannot grow.
// Threading: a handle is used by one thread at a time; different handles are independent.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Open flags.
constexpr std::uint32_t MMIO_READ = 0x0000;
constexpr std::uint32_t MMIO_WRITE = 0x0001;
constexpr std::uint32_t MMIO_READWRITE = 0x0002;
constexpr std::uint32_t MMIO_PARSE = 0x0100;
constexpr std::uint32_t MMIO_DELETE = 0x0200;
constexpr std::uint32_t MMIO_CREATE = 0x1000;
constexpr std::uint32_t MMIO_EXIST = 0x4000;
constexpr std::uint32_t MMIO_ALLOCBUF = 0x10000;
// mmioCreateChunk flags.
constexpr std::uint32_t MMIO_CREATERIFF = 0x0020;
constexpr std::uint32_t MMIO_CREATELIST = 0x0040;
// Chunk descriptor flag: the size field must be checked and rewritten by mmioAscend.
constexpr std::uint32_t MMIO_DIRTY = 0x10000000;
// Seek origins.
constexpr int SEEK_FROM_START = 0;
constexpr int SEEK_FROM_CURRENT = 1;
constexpr int SEEK_FROM_END = 2;

// Buffer size that MMIO_ALLOCBUF gives before mmioSetBuffer changes it.
constexpr std::int64_t kMmioDefaultBufferSize = 8192;

constexpr std::uint32_t MakeFourCC(char c0, char c1, char c2, char c3) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(c0)) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c1)) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c2)) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c3)) << 24;
}
constexpr std::uint32_t FOURCC_MEM = MakeFourCC('M', 'E', 'M', ' ');
constexpr std::uint32_t FOURCC_RIFF = MakeFourCC('R', 'I', 'F', 'F');
constexpr std::uint32_t FOURCC_LIST = MakeFourCC('L', 'I', 'S', 'T');

// Chunk descriptor. Offsets are 64-bit inside the program; sizes are the 32-bit fields of the
// file.
struct MMCKINFO {
  std::uint32_t ckid = 0;
  std::uint32_t cksize = 0;
  std::uint32_t fccType = 0;       // form or list type of "RIFF" and "LIST" chunks
  std::uint64_t dwDataOffset = 0;  // file offset of the chunk's data (the type for RIFF/LIST)
  std::uint32_t dwFlags = 0;
};

// I/O information: the open flags, and for a memory file the procedure code ("MEM "), the
// block and its length, and the growth increment (adwInfo[0]; 0 = the block cannot grow).
struct MMIOINFO {
  std::uint32_t dwFlags = 0;
  std::uint32_t fccIOProc = 0;
  char* pchBuffer = nullptr;
  std::int64_t cchBuffer = 0;
  std::uint32_t adwInfo[3] = {0, 0, 0};
};

class MmioFile;
using HMMIO = MmioFile*;

// Opens `name` (a path) with `flags`, or, with a null name and info->fccIOProc == FOURCC_MEM, the
// memory block that `info` describes. MMIO_CREATE creates or truncates the file. Returns null on
// failure. MMIO_PARSE, MMIO_EXIST and MMIO_DELETE are the separate calls below.
HMMIO mmioOpen(const char* name, const MMIOINFO* info, std::uint32_t flags);
// Flushes buffered writes and closes; 0 on success, non-zero when the flush or close failed.
int mmioClose(HMMIO handle, std::uint32_t flags);

// Count transferred (short at the end of the file or of a memory block), or -1 on error.
std::int64_t mmioRead(HMMIO handle, void* buffer, std::int64_t count);
std::int64_t mmioWrite(HMMIO handle, const void* buffer, std::int64_t count);
// Writes `count` bytes at file offset `offset` straight to the file, leaving the position and the
// buffer alone: the count written (fewer only on an I/O error, whose errno mmioLastWriteError
// gives on the calling thread), or -1 for a memory or read-only file or a range that the buffer
// holds (flush and move away first). Several threads may write disjoint ranges at once while no
// other call runs on the handle.
std::int64_t mmioWriteAt(HMMIO handle, const void* buffer, std::int64_t count, std::int64_t offset);
// Copies `count` bytes from offset `sourceOffset` of the open file `sourceFd` to file offset
// `offset`, as mmioWriteAt places them: inside the kernel (copy_file_range) where the two file
// systems allow it, else through a buffer. The count copied: fewer when the source ends first or
// on an I/O error (mmioLastWriteError then gives its errno on the calling thread); -1 as for
// mmioWriteAt. Several threads may copy into disjoint ranges at once.
std::int64_t mmioCopyAt(HMMIO handle, int sourceFd, std::int64_t sourceOffset, std::int64_t count,
                        std::int64_t offset);
// New position, or -1 (negative result position, or an I/O error).
std::int64_t mmioSeek(HMMIO handle, std::int64_t offset, int origin);

// Reads the chunk header at the current position (no search) and leaves the position at the
// chunk's data (after the type for "RIFF" and "LIST"). Fails (non-zero) when no whole header can
// be read, or when `parent` is given and the header would not lie wholly inside it.
int mmioDescend(HMMIO handle, MMCKINFO* chunk, const MMCKINFO* parent, std::uint32_t flags);
// Moves past the end of the chunk and its pad byte. A dirty chunk gets its size field rewritten
// from the current position when it differs, and a zero pad byte when that size is odd.
int mmioAscend(HMMIO handle, MMCKINFO* chunk, std::uint32_t flags);
// Writes a chunk header (ckid and cksize; or "RIFF"/"LIST" with MMIO_CREATERIFF/MMIO_CREATELIST
// followed by fccType) at the current position, records dwDataOffset and marks it dirty.
int mmioCreateChunk(HMMIO handle, MMCKINFO* chunk, std::uint32_t flags);

// Replaces the I/O buffer by one of `size` bytes owned by the handle (buffer must be null).
// Buffered writes are flushed first. 0 on success. A memory file keeps its block.
int mmioSetBuffer(HMMIO handle, char* buffer, std::int64_t size, std::uint32_t flags);
// Fills info->dwFlags with the open flags. 0 on success.
int mmioGetInfo(HMMIO handle, MMIOINFO* info, std::uint32_t flags);
// Writes buffered data to the file. 0 on success.
int mmioFlush(HMMIO handle, std::uint32_t flags);
// Drops the buffered bytes that could not be written (after a failed flush on a full disk), so
// that the file can be completed in place with what reached it. 0 on success.
int mmioDiscardBuffer(HMMIO handle);
// The current buffer size (for tests and benchmarks).
std::int64_t mmioBufferSize(HMMIO handle);

// The errno of the latest write or close of a file that failed on the calling thread, 0 when none
// failed since the thread started or last called mmioClearWriteError. Unlike errno it survives
// the calls that follow the failure (closing, cleaning up), so a caller can still say why a file
// could not be written ("No space left on device") after the writer gave up.
int mmioLastWriteError();
void mmioClearWriteError();

// The code of the first four characters of `text`, padded with blanks.
std::uint32_t mmioStringToFOURCC(const char* text, std::uint32_t flags);

// Name checks of MMIO_PARSE, MMIO_EXIST and MMIO_DELETE.
// Whether `name` can be parsed and fully qualified (an absolute, normalised path whose folder
// exists); the qualified path goes to `qualified` when given.
bool mmioParseName(const std::string& name, std::string* qualified);
bool mmioFileExists(const std::string& name);
bool mmioDeleteFile(const std::string& name);

}  // namespace platform
