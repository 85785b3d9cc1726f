#include "cli/PartialFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace cli {
namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> gSerial{0};

std::size_t AbsoluteLength(const fs::path& path) {
  std::error_code ec;
  const fs::path full = fs::absolute(path, ec);
  return (ec ? path : full).lexically_normal().native().size();
}

}  // namespace

PartialFile::PartialFile(const fs::path& destination, std::size_t maxPathLength)
    : destination_(destination) {
  const std::string suffix =
      ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(gSerial++);
  path_ = destination;
  path_.replace_filename("." + destination.filename().native() + suffix);
  if (AbsoluteLength(path_) > maxPathLength) {
    path_.replace_filename(suffix);
    fits_ = AbsoluteLength(path_) <= maxPathLength;
  }
}

PartialFile::~PartialFile() {
  if (!committed_) Remove();
}

std::string PartialFile::ProbeCreate() const {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  Remove();
  return {};
}

std::string PartialFile::Commit() {
  // The rename is atomic: the destination is either absent (or the old file) or the complete
  // new one. The data are not forced to the disk first; that would double the time of a
  // conversion for a guarantee that only matters when the whole system crashes.
  if (::rename(path_.c_str(), destination_.c_str()) != 0) return std::strerror(errno);
  committed_ = true;
  return {};
}

void PartialFile::Remove() const {
  ::unlink(path_.c_str());
}

}  // namespace cli
