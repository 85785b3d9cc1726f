// A segment is decoded apart only to be joined to the others, so any shortfall is an error that
// the caller must hear of (it then decodes the file in one piece): unlike a whole-file decode,
// a segment never makes up missing samples with silence.
#include "mpegdec/SegmentPlayback.h"

#include <algorithm>
#include <cstring>

namespace mpegdec {

SegmentPlayback::SegmentPlayback(const BoundFile& file, const SegmentSource& source,
                                 int64_t firstSample)
    : decoder_(file.fd(), {source.bytes}),
      file_(file),
      source_(source),
      firstSample_(firstSample),
      skip_(source.skipSamples) {}

int32_t SegmentPlayback::start(int channelMode, int sampleFormat) {
  if (!decoder_.create(false, file_.infoFrame())) return MPEG_ERR_NO_MEMORY;
  if (!file_.configure(decoder_, channelMode, sampleFormat) || !decoder_.open()) {
    return MPEG_ERR_DECODE_FAILED;
  }
  done_ = source_.samples <= 0;
  return MPEG_OK;
}

int32_t SegmentPlayback::read(void* buffer, int32_t count) {
  if (failed_) return -MPEG_ERR_DECODE_FAILED;
  const int64_t sampleBytes = decoder_.frameBytes();
  const int64_t remaining = source_.samples - delivered_;
  if (remaining <= 0) {
    done_ = true;
    return 0;
  }
  const int64_t want = std::min<int64_t>(count / sampleBytes, remaining) * sampleBytes;
  if (want == 0) return count == 0 ? 0 : -MPEG_ERR_BAD_ARGUMENT;
  fill(size_t(want));
  if (int64_t(pcm_.size()) < want) {
    failed_ = true;
    return -MPEG_ERR_DECODE_FAILED;
  }
  std::memcpy(buffer, pcm_.data(), size_t(want));
  pcm_.dropFront(size_t(want));
  delivered_ += want / sampleBytes;
  deliveredBytes_ += want;
  done_ = delivered_ >= source_.samples;
  return int32_t(want);
}

// Decodes until `bytes` are kept or the decoder has ended; a failing decoder ends it.
void SegmentPlayback::fill(size_t bytes) {
  const size_t sampleBytes = size_t(decoder_.frameBytes());
  int idle = 0;
  while (pcm_.size() < bytes && !decoderEnded_) {
    const size_t before = pcm_.size();
    const auto status = decoder_.decode(pcm_);
    clipped_ += decoder_.takeClipped();
    const size_t got = pcm_.size() - before;
    if (skip_ > 0 && got > 0) {
      const size_t drop = size_t(std::min<int64_t>(skip_, int64_t(got / sampleBytes)));
      pcm_.erase(before, drop * sampleBytes);
      skip_ -= int64_t(drop);
    }
    idle = got == 0 ? idle + 1 : 0;
    if (status != Decoder::Status::Ok || idle > Decoder::kMaxIdleReads) decoderEnded_ = true;
    if (status == Decoder::Status::Failed) pcm_.clear();
  }
}

}  // namespace mpegdec
