#include "acm/Resampler.h"

#include <soxr.h>

#include <algorithm>

namespace acm {

namespace {

// soxr holds back at most about 1400 frames at the input rate when upsampling and about 1400
// frames at the output rate when downsampling (measured for SOXR_HQ over the whole 4000..100000
// range, with chunk sizes from 1 frame up; SOXR_LQ holds less). The bound keeps a wide margin.
constexpr std::uint64_t kHeldFrames = 4096;
constexpr std::size_t kRoomSlack = 64;

}  // namespace

std::unique_ptr<Resampler> Resampler::create(std::uint32_t inputRate, std::uint32_t outputRate,
                                             unsigned channels, Quality quality) {
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags = SOXR_NO_DITHER;
  const soxr_quality_spec_t recipe =
      soxr_quality_spec(quality == Quality::kBest ? SOXR_HQ : SOXR_LQ, 0);
  // One thread: the stream's caller owns the thread the conversion runs on.
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  soxr_t handle = soxr_create(inputRate, outputRate, channels, &error, &io, &recipe, &runtime);
  if (handle == nullptr) return nullptr;
  if (error != nullptr) {
    soxr_delete(handle);
    return nullptr;
  }
  return std::unique_ptr<Resampler>(new Resampler(handle, inputRate, outputRate, channels));
}

Resampler::Resampler(soxr* handle, std::uint32_t inputRate, std::uint32_t outputRate,
                     unsigned channels)
    : handle_(handle), inputRate_(inputRate), outputRate_(outputRate), channels_(channels) {}

Resampler::~Resampler() {
  soxr_delete(handle_);
}

std::uint64_t Resampler::outputFramesFor(std::uint64_t inputFrames) const {
  return (inputFrames * outputRate_ + inputRate_ - 1) / inputRate_;
}

std::uint64_t Resampler::inputFramesWithin(std::uint64_t outputFrames) const {
  // k × out / in ≤ n ⟺ k ≤ n × in / out, and the right side rounds down to an integer.
  return outputFrames * inputRate_ / outputRate_;
}

std::uint64_t Resampler::maxHeldFrames() const {
  return std::max(kHeldFrames, outputFramesFor(kHeldFrames));
}

std::size_t Resampler::roomFor(std::size_t inputFrames) const {
  const double held = std::max(0.0, soxr_delay(handle_));
  return static_cast<std::size_t>(outputFramesFor(inputFrames)) + static_cast<std::size_t>(held) +
         kRoomSlack;
}

bool Resampler::process(const std::int16_t* input, std::size_t frames,
                        std::vector<std::int16_t>& out) {
  if (ended_ && !clear()) return false;
  // A null input would tell soxr the signal ended; with nothing to add there is nothing to do.
  if (frames == 0) return true;
  std::size_t used = 0;
  for (;;) {
    const std::size_t room = roomFor(frames - used);
    const std::size_t base = out.size();
    out.resize(base + room * channels_);
    std::size_t taken = 0;
    std::size_t given = 0;
    const soxr_error_t error = soxr_process(handle_, input + used * channels_, frames - used,
                                            &taken, out.data() + base, room, &given);
    out.resize(base + given * channels_);
    if (error != nullptr) return false;
    used += taken;
    // Done when all input went in and soxr had less to give than there was room for.
    if (used == frames && given < room) return true;
    if (taken == 0 && given == 0) return false;
  }
}

bool Resampler::drain(std::vector<std::int16_t>& out) {
  for (;;) {
    const std::size_t room = roomFor(0);
    const std::size_t base = out.size();
    out.resize(base + room * channels_);
    std::size_t given = 0;
    const soxr_error_t error =
        soxr_process(handle_, nullptr, 0, nullptr, out.data() + base, room, &given);
    out.resize(base + given * channels_);
    if (error != nullptr) return false;
    if (given < room) break;
  }
  ended_ = true;
  return true;
}

bool Resampler::clear() {
  ended_ = false;
  return soxr_clear(handle_) == nullptr;
}

}  // namespace acm
