// Reading one chunk of a described WAVE file that the description itself does not keep.
#include "wave/WaveIO.h"
#include "wave/WaveIOLayout.h"

namespace wave {

using namespace layout;

int WaveIOReadChunk(const TWaveIOHandle& h, std::uint32_t id, std::uint64_t maxBytes,
                    std::vector<char>& body) {
  body.clear();
  if (h.mode != kRiffModePath || h.name.empty()) return kWaveIOCannotOpen;
  HMMIO file = nullptr;
  MMCKINFO riff{};
  if (OpenRiffFile(file, riff, kRiffModePath, kFourCCWave, h.name, nullptr) != kRiffOk) {
    return kWaveIOCannotOpen;
  }
  int result = kWaveIONoChunk;
  const std::uint64_t end = h.fileSize;
  for (;;) {
    const std::int64_t at = platform::mmioSeek(file, 0, platform::SEEK_FROM_CURRENT);
    if (at < 0 || static_cast<std::uint64_t>(at) + kChunkHeaderBytes > end) break;
    MMCKINFO ck{};
    if (platform::mmioDescend(file, &ck, nullptr, 0) != 0) break;
    // An RF64 data chunk's size is in "ds64": the description found how far its data reach.
    std::uint64_t size = ck.cksize;
    if (h.rf64 && ck.ckid == kFourCCData && ck.cksize == kRf64SizeInDs64) size = h.dataBytes;
    if (ck.ckid == id) {
      if (size > maxBytes || size > end - ck.dwDataOffset) {
        result = size > maxBytes ? kWaveIOChunkTooLarge : kWaveIOReadFailed;
        break;
      }
      body.resize(size);
      const auto count = static_cast<std::int64_t>(size);
      result = count == 0 || ReadExactly(file, body.data(), count) ? kWaveIOOk : kWaveIOReadFailed;
      if (result != kWaveIOOk) body.clear();
      break;
    }
    if (!SeekTo(file, ck.dwDataOffset + size + (size & 1))) break;
  }
  CloseRiffFile(file);
  return result;
}

}  // namespace wave
