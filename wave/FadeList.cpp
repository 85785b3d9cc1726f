#include "wave/FadeList.h"

namespace wave {

std::int32_t TMMFadeList::Add(const TMMFadePoint& point) {
  std::int32_t index = FindPointIndex(*this, point.Position);
  if (index < 0) index = 0;
  points_.insert(points_.begin() + index, point);
  DoChange();
  return index;
}

void TMMFadeList::Clear() {
  points_.clear();
  DoChange();
}

void TMMFadeList::Reset(std::int64_t position, std::int32_t left, std::int32_t right) {
  CurrentIndex = 0;
  CurrentPosition = position;
  CurrentLeft = left;
  CurrentRight = right;
}

std::int32_t FindPointIndex(const TMMFadeList& list, std::int64_t position) {
  const std::int32_t count = list.Count();
  if (count == 0) return -1;
  if (position >= list[count - 1].Position) return count;
  // The last point lies above `position`, so the answer is within 0..count-1.
  std::int32_t low = 0;
  std::int32_t high = count - 1;
  while (low < high) {
    const std::int32_t probe = (low + high) / 2;
    if (position >= list[probe].Position) {
      low = probe + 1;
    } else {
      high = probe;
    }
  }
  return low;
}

}  // namespace wave
