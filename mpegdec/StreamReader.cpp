#include "mpegdec/StreamReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace mpegdec {

StreamReader::StreamReader(int fd, std::vector<FrameSpan> spans)
    : cache_(fd), spans_(std::move(spans)) {
  for (const auto& span : spans_) {
    starts_.push_back(size_);
    size_ += int64_t(span.end - span.begin);
  }
}

ssize_t StreamReader::read(void* handle, void* buffer, size_t size) {
  auto* reader = static_cast<StreamReader*>(handle);
  if (reader->position_ >= reader->size_ || size == 0) return 0;
  // The span holding the position; reads stop at its end (libmpg123 reads again).
  const auto next =
      std::upper_bound(reader->starts_.begin(), reader->starts_.end(), reader->position_);
  const size_t index = size_t(next - reader->starts_.begin()) - 1;
  const int64_t offset = reader->position_ - reader->starts_[index];
  const FrameSpan& span = reader->spans_[index];
  const int64_t left = int64_t(span.end - span.begin) - offset;
  size = size_t(std::min<int64_t>(int64_t(size), left));
  const size_t got = reader->cache_.read(uint64_t(int64_t(span.begin) + offset), buffer, size);
  reader->position_ += int64_t(got);
  return ssize_t(got);
}

off_t StreamReader::seek(void* handle, off_t offset, int whence) {
  auto* reader = static_cast<StreamReader*>(handle);
  int64_t base;
  switch (whence) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = reader->position_;
      break;
    case SEEK_END:
      base = reader->size_;
      break;
    default:
      errno = EINVAL;
      return -1;
  }
  const int64_t target = base + int64_t(offset);
  if (target < 0) {
    errno = EINVAL;
    return -1;
  }
  reader->position_ = target;
  return off_t(target);
}

}  // namespace mpegdec
