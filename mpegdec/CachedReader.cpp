#include "mpegdec/CachedReader.h"

#include <algorithm>
#include <cstring>

#include "mpegdec/FileDescriptor.h"

namespace mpegdec {

void CachedReader::setFd(int fd) {
  fd_ = fd;
  blockLength_ = 0;
}

size_t CachedReader::read(uint64_t offset, void* buffer, size_t size) {
  if (size >= kBlockSize) return readFully(fd_, offset, buffer, size);
  if (offset < blockStart_ || offset + size > blockStart_ + blockLength_) {
    block_.resize(kBlockSize);
    blockStart_ = offset;
    blockLength_ = readFully(fd_, offset, block_.data(), kBlockSize);
  }
  const size_t available =
      offset >= blockStart_ + blockLength_ ? 0 : size_t(blockStart_ + blockLength_ - offset);
  const size_t n = std::min(size, available);
  std::memcpy(buffer, block_.data() + (offset - blockStart_), n);
  return n;
}

}  // namespace mpegdec
