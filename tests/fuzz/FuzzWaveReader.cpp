// The WAVE reader on arbitrary bytes: the description is read from the input as a memory image
// (the same chunk walk as for a file on disk), then the data are read to the end, positioned
// in the middle and read again. Whatever is accepted must lie inside the image, and every byte
// read must be the image's own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "wave/WaveIO.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_wave_reader: %s\n", what);
  std::abort();
}

// Reads from the current position to the end in blocks of `block` bytes and checks each byte
// against the image. Returns the bytes read.
std::uint64_t ReadToEnd(wave::TWaveIOHandle* h, const std::uint8_t* image, std::int64_t block) {
  const std::int64_t start = platform::mmioSeek(h->file, 0, platform::SEEK_FROM_CURRENT);
  if (h->bytesLeft > 0 &&
      (start < 0 || static_cast<std::uint64_t>(start) < h->dataOffset ||
       start + h->bytesLeft > static_cast<std::int64_t>(h->dataOffset + h->dataBytes))) {
    Fail("positioned outside the data");
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(block));
  std::uint64_t total = 0;
  // Every call but the last returns at least one byte.
  for (std::uint64_t calls = h->dataBytes + 2; calls > 0; --calls) {
    const std::int64_t n = wave::WaveIORead(h, buffer.data(), block);
    if (n <= 0) return total;
    if (n > block) Fail("read returned more than asked for");
    const std::uint64_t at = static_cast<std::uint64_t>(start) + total;
    if (at + n > h->dataOffset + h->dataBytes) Fail("read past the data");
    if (std::memcmp(buffer.data(), image + at, static_cast<std::size_t>(n)) != 0) {
      Fail("bytes read differ from the file's");
    }
    total += static_cast<std::uint64_t>(n);
  }
  Fail("reading never ended");
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wave::WaveIOHandlePtr h;
  if (wave::WaveIOFromMemory(h, data, static_cast<std::int64_t>(size)) != wave::kWaveIOOk) {
    return 0;
  }
  if (h->file != nullptr) Fail("the description left the file open");
  if (h->format.size() < sizeof(stream::TWaveFormatEx)) Fail("format record too short");
  if (h->Format()->nBlockAlign == 0) Fail("accepted a block size of 0");
  if (h->dataOffset + h->dataBytes > size) Fail("data run past the end of the image");
  // PCM data are rounded by the file's own block size before that is derived from bits and
  // channels, so only other formats keep to whole blocks.
  if (h->Format()->wFormatTag != stream::WAVE_FORMAT_PCM &&
      h->dataBytes % h->Format()->nBlockAlign != 0) {
    Fail("data not in whole blocks");
  }
  (void)wave::WaveFormatName(h->Format());

  // The block size of the reads varies with the input, so short and long reads both occur.
  static constexpr std::int64_t kBlocks[] = {1, 7, 512, 65536};
  const std::int64_t block = kBlocks[size % 4];
  if (wave::WaveIOReopen(h.get()) != wave::kWaveIOOk) return 0;
  const std::uint64_t total = ReadToEnd(h.get(), data, block);
  // A PCM wave whose byte rate fits its field is read to the end of its last whole frame (or of
  // the data, when they end in a part of the frame that the sample count rounds up to).
  const stream::TWaveFormatEx* f = h->Format();
  if (f->wFormatTag == stream::WAVE_FORMAT_PCM && f->nSamplesPerSec > 0 &&
      std::uint64_t{f->nBlockAlign} * f->nSamplesPerSec <= UINT32_MAX &&
      total != std::min<std::uint64_t>(h->samples * f->nBlockAlign, h->dataBytes)) {
    Fail("a PCM wave was not read to the end of its data");
  }
  if (h->samples > 1 && wave::WaveIOSeek(h.get(), h->samples / 2) == wave::kWaveIOOk) {
    ReadToEnd(h.get(), data, block);
  }
  if (wave::WaveIOFinalize(h.get()) != wave::kWaveIOOk) Fail("finalizing a read-only wave failed");
  return 0;
}
