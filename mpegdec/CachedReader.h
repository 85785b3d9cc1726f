// Reads of a file through a read-ahead block: binding looks at every frame header and libmpg123
// asks for each header and frame separately, a few bytes at a time.
// Threading: used by one instance at a time, on the thread that calls the instance.
#ifndef QUELBARIN_MPEGDEC_CACHEDREADER_H
#define QUELBARIN_MPEGDEC_CACHEDREADER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mpegdec {

class CachedReader {
 public:
  static constexpr size_t kBlockSize = 64 * 1024;

  explicit CachedReader(int fd = -1) : fd_(fd) {}
  // Reads another descriptor (not owned) from now on.
  void setFd(int fd);
  // Up to `size` bytes at `offset`; fewer only at the end of the file or on an error.
  size_t read(uint64_t offset, void* buffer, size_t size);

 private:
  int fd_;  // not owned
  std::vector<char> block_;
  uint64_t blockStart_ = 0;
  size_t blockLength_ = 0;
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_CACHEDREADER_H
