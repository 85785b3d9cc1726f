// Positions. The decoded PCM is gapless: the encoder delay and padding that a LAME/Xing header
// announces are not part of it. A frame index counts frames on that decoded timeline: frame k
// starts at PCM sample k * (samples per frame), which is exactly k * FrameTime milliseconds into
// the PCM that the caller receives. Frame 0 is the first sample delivered, however much of the
// first MPEG frames the encoder delay takes away, so frame positions and Time share one time
// base. Positions past the last sample put the stream at its end. Opening, resetting and
// positioning at frame 0 restart the decoder from scratch and repeat the first decode sample for
// sample; other positions use libmpg123's indexed seek, which lands on the exact sample but may
// round a few samples one step differently from a decode that ran through (seen with some MPEG 2
// and mono layer III streams). Streams that change format part-way are positioned by decoding
// from the start, because libmpg123 cannot map their sample positions.
//
// The end. Decoded PCM goes through a small look-ahead, so that the read that delivers the last
// bytes already reports the end. Reading delivers exactly the measured length: should damage end
// the decoding early, the rest is silence.
#include "mpegdec/Playback.h"

#include <algorithm>
#include <cstring>

namespace mpegdec {

int32_t Playback::start() {
  if (!file_.decoder().open()) return MPEG_ERR_DECODE_FAILED;
  restart(0);
  return MPEG_OK;
}

int32_t Playback::seek(int32_t frame) {
  const int64_t target = int64_t(frame) * file_.samplesPerFrame();
  if (target >= file_.totalSamples()) {
    endHere(file_.totalSamples());
    return MPEG_OK;
  }
  if (target > 0 && !file_.seekByDecoding() && file_.decoder().seek(target)) {
    restart(target);
    return MPEG_OK;
  }
  // From the start: frame 0, streams whose sample positions libmpg123 cannot map, and the
  // fallback when a seek misses its target.
  if (!file_.decoder().open()) {
    endHere(0);
    return MPEG_ERR_SEEK_FAILED;
  }
  restart(target);
  discard_ = target;
  return MPEG_OK;
}

int32_t Playback::read(void* buffer, int32_t count) {
  const int64_t sampleBytes = file_.decoder().frameBytes();
  const int64_t remaining = file_.totalSamples() - position_;
  if (remaining <= 0) {
    done_ = true;
    return 0;
  }
  const int64_t want = std::min<int64_t>(count / sampleBytes, remaining) * sampleBytes;
  if (want == 0) return count == 0 ? 0 : -MPEG_ERR_BAD_ARGUMENT;
  // One sample more than asked for tells whether these are the last bytes.
  fill(size_t(want + sampleBytes));
  const int64_t bytes = std::min<int64_t>(want, int64_t(pcm_.size()));
  if (bytes > 0) std::memcpy(buffer, pcm_.data(), size_t(bytes));
  pcm_.dropFront(size_t(bytes));
  position_ += bytes / sampleBytes;
  deliveredBytes_ += bytes;
  done_ = position_ >= file_.totalSamples() || (decoderEnded_ && pcm_.empty());
  return int32_t(bytes);
}

void Playback::restart(int64_t at) {
  // What libmpg123 clipped before this point belongs to the decoding that is given up.
  file_.decoder().takeClipped();
  clipped_ = 0;
  pcm_.clear();
  position_ = at;
  discard_ = 0;
  decoderEnded_ = false;
  decoderFailed_ = false;
  done_ = false;
}

// Nothing is left to read from `at` on.
void Playback::endHere(int64_t at) {
  restart(at);
  decoderEnded_ = true;
  done_ = true;
}

// Decodes until `bytes` are buffered or the decoder has ended.
void Playback::fill(size_t bytes) {
  Decoder& decoder = file_.decoder();
  int idle = 0;
  while (pcm_.size() < bytes && !decoderEnded_) {
    const size_t before = pcm_.size();
    const auto status = decoder.decode(pcm_);
    clipped_ += decoder.takeClipped();
    const size_t got = pcm_.size() - before;
    if (discard_ > 0 && got > 0) dropDiscarded(before);
    idle = got == 0 ? idle + 1 : 0;
    if (status != Decoder::Status::Ok || idle > Decoder::kMaxIdleReads) decoderEnded_ = true;
    if (status == Decoder::Status::Failed) decoderFailed_ = true;
  }
  if (decoderEnded_ && !decoderFailed_) concealShortfall(bytes);
}

// Drops the samples still to discard from those decoded at `from` and after.
void Playback::dropDiscarded(size_t from) {
  const size_t sampleBytes = size_t(file_.decoder().frameBytes());
  const size_t got = pcm_.size() - from;
  const size_t drop = size_t(std::min<int64_t>(discard_, int64_t(got / sampleBytes)));
  pcm_.erase(from, drop * sampleBytes);
  discard_ -= int64_t(drop);
}

// Damage that only shows while decoding (a false header taken for a frame of another rate) can
// end the stream a little before the measured length. The missing samples are concealed with
// silence, so the length announced at binding holds. A decoding error ends it instead.
void Playback::concealShortfall(size_t bytes) {
  const size_t sampleBytes = size_t(file_.decoder().frameBytes());
  const int64_t missing = file_.totalSamples() - position_ - int64_t(pcm_.size() / sampleBytes);
  const size_t shortfall = bytes - std::min(bytes, pcm_.size());
  const int64_t wanted = int64_t((shortfall + sampleBytes - 1) / sampleBytes);
  if (missing > 0) pcm_.appendZeros(size_t(std::min(missing, wanted)) * sampleBytes);
}

}  // namespace mpegdec
