// Files by name: the names the library refuses, opening a regular file without blocking, owning
// its descriptor, and positioned reads that finish what they start.
// Threading: none of its own; a descriptor belongs to the instance that opened it.
#ifndef QUELBARIN_MPEGDEC_FILEDESCRIPTOR_H
#define QUELBARIN_MPEGDEC_FILEDESCRIPTOR_H

#include <cstddef>
#include <cstdint>

namespace mpegdec {

// An open file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const { return fd_; }
  void reset(int fd);

 private:
  int fd_ = -1;
};

// "RESOURCE://" and "POINTER://" names (any letter case), which the library does not serve.
bool isUnsupportedName(const char* name);

// Opens `name` for reading when it is a regular file, and tells its size; a FIFO or device name
// is refused without waiting on it. The descriptor is -1 on failure.
void openRegularFile(const char* name, FileDescriptor& file, uint64_t& size);

// Reads `size` bytes at `offset`, retrying short reads; returns the bytes read (fewer only at
// the end of the file or on an error).
size_t readFully(int fd, uint64_t offset, void* buffer, size_t size);

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_FILEDESCRIPTOR_H
