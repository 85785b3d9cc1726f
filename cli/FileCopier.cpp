#include "cli/FileCopier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/PartialFile.h"
#include "cli/ResultTexts.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now; the errno of a failed close, else 0.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Writes all of `bytes`; the errno of a failed write, else 0.
int WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

ConversionResult FileCopier::Copy(const fs::path& source, const fs::path& destination,
                                  const FileConverter::Progress& progress) const {
  if (Cancelled()) return CancelledResult();
  Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (in.Get() < 0 || ::fstat(in.Get(), &st) != 0) return Failed(ErrnoText(errno));
  if (!S_ISREG(st.st_mode)) return Failed("not a regular file");
  std::error_code ec;
  fs::create_directories(destination.parent_path(), ec);
  if (ec) {
    return Failed("cannot create folder " + destination.parent_path().native() + ": " +
                  ec.message());
  }
  struct stat existing {};
  if (existing_ != ExistingFiles::kReplace && ::lstat(destination.c_str(), &existing) == 0) {
    return ExistingOutputResult(destination, existing_);
  }

  PartialFile partial(destination);
  partial.RemoveLeftovers();
  if (std::string error = partial.ProbeCreate(); !error.empty()) {
    return Failed("cannot create " + destination.native() + ": " + error);
  }
  Descriptor out(
      ::open(partial.Path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777));
  if (out.Get() < 0)
    return Failed("cannot create " + destination.native() + ": " + ErrnoText(errno));
  const auto block = std::make_unique<char[]>(kBlockBytes);
  std::int64_t copied = 0;
  for (;;) {
    if (Cancelled()) return CancelledResult();
    const ssize_t n = ::read(in.Get(), block.get(), kBlockBytes);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed("cannot read: " + ErrnoText(errno));
    if (n == 0) break;
    if (const int error = WriteAll(out.Get(), block.get(), static_cast<std::size_t>(n))) {
      return WriteFailed(destination, error, {});
    }
    copied += n;
    if (progress) progress(copied, st.st_size);
  }
  if (const int error = out.Close()) return WriteFailed(destination, error, {});

  std::string error;
  switch (partial.Publish(existing_ == ExistingFiles::kReplace, error)) {
    case PartialFile::Outcome::kPublished: {
      ConversionResult result(ConversionResult::kConverted);
      result.bytes = copied;
      return result;
    }
    case PartialFile::Outcome::kExists:
      return ExistingOutputResult(destination, existing_);
    case PartialFile::Outcome::kError:
      break;
  }
  return Failed("cannot create " + destination.native() + ": " + error);
}

}  // namespace cli
