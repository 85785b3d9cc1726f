// A gain envelope: points giving a left and a right gain at a byte position of a stream,
// kept sorted by position, plus the state of its application to consecutive blocks
// (see GainEnvelope.h). Gains are in units of 1/16384: 16384 is unity, 0 silences.
// Threading: the owner's; the owner holds its own lock while it rebuilds or applies the list.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/MMObject.h"

namespace wave {

constexpr std::int32_t kUnityGain = 16384;

struct TMMFadePoint {
  std::int64_t Position;  // stream byte position (64-bit: streams may exceed 2 GiB)
  std::int32_t LeftGain;
  std::int32_t RightGain;
};

class TMMFadeList : public stream::TMMObject {
 public:
  // Inserts the point after any points at the same position and returns its index.
  std::int32_t Add(const TMMFadePoint& point);
  std::int32_t Add(std::int64_t position, std::int32_t left, std::int32_t right) {
    return Add(TMMFadePoint{position, left, right});
  }
  // Removes all points; the application state is left as it is.
  void Clear();

  std::int32_t Count() const { return static_cast<std::int32_t>(points_.size()); }
  const TMMFadePoint& operator[](std::int32_t index) const {
    return points_[static_cast<std::size_t>(index)];
  }
  const std::vector<TMMFadePoint>& Points() const { return points_; }

  // Starts a new application at `position` with the given gains reached there.
  void Reset(std::int64_t position, std::int32_t left, std::int32_t right);

  // Application state, advanced by ApplyGainEnvelope and kept between blocks. For mono data
  // only CurrentLeft is maintained. The owner sets these with Reset before the first block.
  std::int32_t CurrentIndex = 0;
  std::int64_t CurrentPosition = 0;  // stream byte position of the next byte to process
  std::int32_t CurrentLeft = 0;      // gains reached at CurrentPosition
  std::int32_t CurrentRight = 0;

 private:
  std::vector<TMMFadePoint> points_;
};

// The index at which a point at `position` would be inserted: -1 for an empty list, Count()
// when position is not below the last point's position, otherwise the first index whose
// position is greater than `position` (binary search).
std::int32_t FindPointIndex(const TMMFadeList& list, std::int64_t position);

}  // namespace wave
