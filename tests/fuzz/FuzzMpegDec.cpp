// The MPEG decoder library on arbitrary bytes: the input is put in an in-memory file of this
// process (memfd_create) and bound by its /proc/self/fd name with mpeg_SetFileName; when
// accepted it is decoded to the end the way the MPEG reader does, then positioned in the middle
// and read a little. The channel mode varies with the input's size. The one file is rewritten
// for each input, so no file is created or removed per run and nothing is left behind.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mpegdec/mpegdec.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_mpegdec: %s\n", what);
  std::abort();
}

// The in-memory input file, made at the first run and kept for the process's life.
int InputFd() {
  static const int fd = [] {
    const int made = ::memfd_create("qd-fuzz-mpegdec", MFD_CLOEXEC);
    if (made < 0) Fail("cannot create the in-memory input file");
    return made;
  }();
  return fd;
}

const std::string& InputPath() {
  static const std::string path = "/proc/self/fd/" + std::to_string(InputFd());
  return path;
}

// Makes the input file hold exactly `data`.
void WriteInput(const std::uint8_t* data, std::size_t size) {
  const int fd = InputFd();
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) Fail("cannot size the input file");
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) Fail("cannot write the input file");
    done += static_cast<std::size_t>(n);
  }
}

constexpr std::int32_t kBlock = 32768;

// Reads until the end; returns the PCM bytes delivered.
std::int64_t ReadToEnd(MPEG_HANDLE h, std::int32_t sampleBytes, std::int64_t limit) {
  std::vector<char> buffer(kBlock);
  std::int64_t total = 0;
  // Reads deliver whole blocks until the last: more reads than the length needs is an overrun.
  for (std::int64_t reads = limit / kBlock + 4; !mpeg_GetDone(h); --reads) {
    if (reads == 0) Fail("decoding ran past the announced length");
    const std::int32_t got = mpeg_ReadDataBytes(h, buffer.data(), kBlock);
    if (got < 0) return total;  // a decoding error ends the stream
    if (got > kBlock) Fail("read returned more than asked for");
    if (got % sampleBytes != 0) Fail("read returned part of a sample frame");
    if (got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteInput(data, size);
  std::int32_t code = -1;
  MPEG_HANDLE h = mpeg_Init(&code, nullptr, nullptr);
  if (h == nullptr || code != MPEG_OK) Fail("mpeg_Init failed");
  const std::int32_t channelMode = static_cast<std::int32_t>(size % 4);
  if (mpeg_SetChannelMode(h, channelMode) != MPEG_OK) Fail("channel mode refused");
  const std::int32_t bound = mpeg_SetFileName(h, InputPath().c_str());
  if (bound == MPEG_OK) {
    TMpegFileInfo info{};
    if (mpeg_GetFileInfo(h, &info) != MPEG_OK) Fail("no file info for a bound file");
    if (info.PlayBackRate <= 0 || info.Frames <= 0 || info.Time <= 0) Fail("implausible file info");
    const int channels =
        info.Mode == MPEG_MODE_SINGLE_CHANNEL || channelMode != MPEG_CHANNEL_BOTH ? 1 : 2;
    const std::int32_t sampleBytes = 2 * channels;
    // Time is the decoded length rounded to milliseconds: reading delivers no more than that.
    const std::int64_t limit =
        (std::int64_t{info.Time} + 1) * info.PlayBackRate / 1000 * sampleBytes + sampleBytes;
    if (mpeg_OpenFile(h) == MPEG_OK) {
      if (ReadToEnd(h, sampleBytes, limit) > limit) Fail("decoded more than the announced length");
      if (mpeg_SetPosition(h, info.Frames / 2) == MPEG_OK) {
        std::vector<char> buffer(kBlock);
        const std::int32_t got = mpeg_ReadDataBytes(h, buffer.data(), kBlock);
        if (got > kBlock || (got > 0 && got % sampleBytes != 0)) Fail("bad read after a seek");
      }
      mpeg_CloseFile(h);
    }
  }
  if (mpeg_Done(&h) != MPEG_OK || h != nullptr) Fail("mpeg_Done failed");
  return 0;
}
