// Sample-rate conversion of interleaved 16-bit frames through libsoxr.
#ifndef QUELBARIN_ACM_RESAMPLER_H
#define QUELBARIN_ACM_RESAMPLER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "acm/Driver.h"

struct soxr;

namespace acm {

// Recipes: Quality::kBest uses SOXR_HQ (20-bit precision, linear phase, the same filter family
// as sox's default `rate`); Quality::kRealtime uses SOXR_LQ (16-bit precision, wider rolloff,
// several times cheaper). Output is rounded to 16 bits without dither, so a signal converted in
// pieces gives the same samples as one converted at once.
class Resampler {
 public:
  // Null when soxr refuses the set-up.
  static std::unique_ptr<Resampler> create(std::uint32_t inputRate, std::uint32_t outputRate,
                                           unsigned channels, Quality quality);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Output frames for `inputFrames` frames of a steady signal, rounded up.
  std::uint64_t outputFramesFor(std::uint64_t inputFrames) const;
  // The most input frames whose outputFramesFor() does not exceed `outputFrames`.
  std::uint64_t inputFramesWithin(std::uint64_t outputFrames) const;
  // A bound on the frames soxr holds back (filter history and block buffering): one process()
  // gives at most outputFramesFor(input) + maxHeldFrames(), and so does a drain().
  std::uint64_t maxHeldFrames() const;

  // Resamples `frames` frames, appending the output that is ready to `out`. After a drain the
  // first call starts a fresh signal.
  bool process(const std::int16_t* input, std::size_t frames, std::vector<std::int16_t>& out);
  // Ends the signal: appends everything still held back.
  bool drain(std::vector<std::int16_t>& out);
  // Forgets the signal so far.
  bool clear();

 private:
  Resampler(soxr* handle, std::uint32_t inputRate, std::uint32_t outputRate, unsigned channels);

  // Room for the frames soxr may give now: `inputFrames` more plus what it holds.
  std::size_t roomFor(std::size_t inputFrames) const;

  soxr* handle_;
  std::uint32_t inputRate_;
  std::uint32_t outputRate_;
  unsigned channels_;
  bool ended_ = false;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_RESAMPLER_H
