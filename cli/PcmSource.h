// What the output stage reads a source through: its shape, the segments it may be cut into, and
// decoding passes that hand PCM blocks to the stage, in the output's own integer form or in float.
// Threading: one object per conversion, called on one thread; a pass's block callback runs on the
// threads that decode the segments, and all of them have ended before Decode returns.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/HelperPool.h"
#include "cli/OutputDepth.h"
#include "cli/SourceTags.h"

namespace cli {

// A run of sample frames that decodes apart exactly as in one run; `id` is the source's own
// reference to it.
struct SourceSegment {
  std::int64_t firstFrame = 0;
  std::int64_t frames = 0;
  std::size_t id = 0;
};

// How a source's samples reach the stage.
enum class SampleForm {
  kOutput,  // little-endian integers of the output's depth, exactly as the source gives them
  kFloat,   // 32-bit float, full scale +-1.0
};

// How a decoding pass ended.
enum class DecodeStatus {
  kComplete,
  kStopped,  // cancelled, or the block callback said stop
  kRedecode  // a segment did not decode as planned: decode the file again in one run
};

// One decoding pass over a source.
struct DecodePass {
  SampleForm form = SampleForm::kOutput;
  OutputDepth depth = OutputDepth::k16;  // of kOutput samples
  std::vector<SourceSegment> segments;   // empty: the whole source in one run from the start
  unsigned threads = 1;                  // at most this many decode at once
  HelperPool* pool = nullptr;            // runs the other threads' parts (null: in turn); not owned
  // Called for each block on the thread of its segment: the segment's index (0 without
  // segments), the bytes, and the index in the file (all channels counted) of the block's first
  // sample. False stops the pass.
  std::function<bool(std::size_t, const unsigned char*, std::size_t, std::int64_t)> block;
  // Set only for a source that CopiesStored the pass's depth: called instead of `block` with
  // samples stored exactly as the output's, as a range of an open file: the segment's index, the
  // descriptor, the range's offset and length in bytes, and the index in the file of its first
  // sample. Returns the bytes copied, fewer when the file ended early; -1 when the output failed.
  std::function<std::int64_t(std::size_t, int, std::int64_t, std::int64_t, std::int64_t)> copy;
  // Frames decoded so far, all segments, and samples the decoder itself had to clip.
  std::atomic<std::int64_t> frames{0};
  std::atomic<std::int64_t> clipped{0};
  // What the audio library said on the decoding threads, for the user; filled when the pass ends.
  std::vector<std::string> messages;
};

class PcmSource {
 public:
  virtual ~PcmSource() = default;

  virtual int Channels() const = 0;
  virtual int Rate() const = 0;
  virtual std::int64_t LengthMs() const = 0;
  // Sample frames that a pass in one run delivers at most (exact when the source knows).
  virtual std::uint64_t MaxFrames() const = 0;
  // Whether kOutput samples of `depth` can be had (otherwise the stage asks for float).
  virtual bool Delivers(OutputDepth depth) const = 0;
  // Whether kOutput samples of `depth` are bytes the source stores as they are, to be copied
  // through DecodePass::copy; MaxFrames is then exact.
  virtual bool CopiesStored(OutputDepth) const { return false; }
  // At most `max` segments of at least `minFrames` for a pass in `form` (at `depth`); empty when
  // the source is decoded in one run.
  virtual std::vector<SourceSegment> Plan(unsigned max, std::int64_t minFrames, SampleForm form,
                                          OutputDepth depth) = 0;
  // Runs `pass`; throws std::exception when the source cannot be decoded. `cancel` (may be null)
  // stops it at the next block.
  virtual DecodeStatus Decode(DecodePass& pass, const std::atomic<bool>* cancel) = 0;
  // Notices about the source for the user (a tag left out, say), gathered so far.
  virtual std::vector<std::string> Notices() const { return {}; }
  // The tags to carry into the output (read on demand: a run with --no-tags never reads them).
  virtual SourceTags Tags() const = 0;
};

}  // namespace cli
