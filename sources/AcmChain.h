// Multi-step conversion through the audio compression manager: finding a path of formats from a
// source to a destination, and a chain of open streams along it that converts in fixed chunks.
// Threading: a chain is used by one thread at a time (built on the main thread, converted on the
// driving worker).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sources/AcmBinding.h"
#include "stream/WaveFormat.h"
#include "stream/WaveHdr.h"

namespace sources {

enum TMMConvertQuality { cqHigh, cqLow };

// At most this many hops are searched; a path needs two at most with the usual drivers.
constexpr int kMaxChainSteps = 4;

struct AcmStep {
  HACMSTREAM stream = nullptr;
  std::uint8_t* source = nullptr;  // the first step's own buffer, else the previous destination
  std::uint32_t sourceSize = 0;
  std::uint8_t* destination = nullptr;
  std::uint32_t destinationSize = 0;
  std::uint32_t leftover = 0;       // source bytes the last call did not use
  std::uint32_t leftoverRoom = 0;   // the most it may be: room behind the source buffer
  std::vector<std::uint8_t> saved;  // where they wait for the next call
  ACMSTREAMHEADER header{};
  bool prepared = false;
};

class AcmChain {
 public:
  ~AcmChain();
  AcmChain(const AcmChain&) = delete;
  AcmChain& operator=(const AcmChain&) = delete;

  // Opens a stream for every hop from `source` to `destination`; null when there is no path or
  // a step cannot be set up.
  static std::unique_ptr<AcmChain> Build(const stream::TWaveFormatEx* source,
                                         const stream::TWaveFormatEx* destination,
                                         TMMConvertQuality quality, std::uint32_t chunkSize);

  // Converts the first n bytes of SourceBuffer() (at most ChunkSize) through every step; returns
  // the bytes produced into OutputBuffer(), or -1 when a conversion failed.
  std::int64_t ConvertStep(std::uint32_t n);
  // The same with the end flag: also drains what the steps hold back.
  std::int64_t FlushChain(std::uint32_t n);
  // Drops unread output and restarts every step's codec state.
  void ResetChain();

  // The output of the last conversion that nobody has taken yet.
  std::uint32_t Pending() const { return outputBytes_ - outputRead_; }
  // Takes up to `most` bytes of that output: the bytes, in place in OutputBuffer(), valid until
  // the next conversion.
  std::span<const std::uint8_t> Read(std::uint32_t most);
  // Drops the output nobody has taken.
  void DiscardOutput() { outputRead_ = outputBytes_; }
  // The last conversion left source bytes in a step for the next one.
  bool MorePending() const { return morePending_; }
  // The last conversion consumed input in a step that produced nothing from it.
  bool Absorbed() const { return absorbed_; }

  std::uint8_t* SourceBuffer() const { return steps_.front().source; }
  const std::uint8_t* OutputBuffer() const { return steps_.back().destination; }
  // A wave buffer header in the same block as the chain's buffers, for talking to neighbours.
  stream::PWaveHdr WorkHeader() { return reinterpret_cast<stream::PWaveHdr>(arena_.data()); }
  std::uint32_t ChunkSize() const { return chunkSize_; }
  std::size_t Steps() const { return steps_.size(); }

 private:
  AcmChain() = default;
  std::int64_t Run(std::uint32_t n, std::uint32_t flags);

  std::vector<std::uint8_t> arena_;  // work header, then every buffer of the chain
  std::uint32_t chunkSize_ = 0;
  std::vector<AcmStep> steps_;
  std::uint32_t outputBytes_ = 0;  // produced by the last conversion
  std::uint32_t outputRead_ = 0;   // of those, taken by Read
  bool morePending_ = false;
  bool absorbed_ = false;
};

// A PCM record for F: F itself when it is PCM, else what the manager suggests and can open;
// a record with format tag 0 when there is none.
stream::TWaveFormatEx SuggestPCM(const stream::TWaveFormatEx* format);
// Tag, bits, channels or rate differ (false when either is null).
bool FormatsDiffer(const stream::TWaveFormatEx* a, const stream::TWaveFormatEx* b);
bool CanConvertChain(const stream::TWaveFormatEx* source, const stream::TWaveFormatEx* destination,
                     TMMConvertQuality quality);

}  // namespace sources
