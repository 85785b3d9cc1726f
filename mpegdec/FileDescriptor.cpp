#include "mpegdec/FileDescriptor.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mpegdec {

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) close(fd_);
}

void FileDescriptor::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

bool isUnsupportedName(const char* name) {
  return strncasecmp(name, "RESOURCE://", 11) == 0 || strncasecmp(name, "POINTER://", 10) == 0;
}

void openRegularFile(const char* name, FileDescriptor& file, uint64_t& size) {
  // Non-blocking, so that a FIFO or device name cannot stall the open; reads from regular files
  // do not care.
  file.reset(::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (file.get() < 0 || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    file.reset(-1);
    size = 0;
    return;
  }
  size = uint64_t(status.st_size);
}

size_t readFully(int fd, uint64_t offset, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got =
        pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += size_t(got);
  }
  return done;
}

}  // namespace mpegdec
