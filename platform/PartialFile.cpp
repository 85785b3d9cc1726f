#include "platform/PartialFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace platform {
namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = ".qd-";
constexpr const char* kSuffix = ".part";

std::atomic<unsigned> gSerial{0};

// FNV-1a: a stable 64-bit hash of the destination's name, for the partial file's name.
std::string NameHash(const std::string& name) {
  std::uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// The process id in a partial file's name after `prefix` ("<pid>-<n>.part"), or 0.
pid_t OwnerOf(const std::string& name, const std::string& prefix) {
  if (!name.starts_with(prefix) || !name.ends_with(kSuffix)) return 0;
  const char* first = name.data() + prefix.size();
  const char* last = name.data() + name.size();
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(first, last, pid);
  return ec == std::errc() && end != last && *end == '-' ? pid : 0;
}

bool ProcessGone(pid_t pid) {
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

std::string ErrnoText(int error) {
  return std::strerror(error);
}

}  // namespace

PartialFile::PartialFile(const fs::path& destination)
    : destination_(destination),
      prefix_(std::string(kPrefix) + NameHash(destination.filename().native()) + "-") {
  path_ = destination;
  path_.replace_filename(prefix_ + std::to_string(::getpid()) + "-" + std::to_string(gSerial++) +
                         kSuffix);
}

PartialFile::~PartialFile() {
  if (!published_) Remove();
}

bool PartialFile::IsPartialName(const std::string& name) {
  return name.starts_with(kPrefix) && name.ends_with(kSuffix);
}

void PartialFile::RemoveLeftovers() const {
  const fs::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;  // creating our own file will say what is wrong with the folder
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const pid_t owner = OwnerOf(name, prefix_);
    if (owner > 0 && owner != ::getpid() && ProcessGone(owner)) {
      ::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
  }
  ::closedir(dir);
}

std::string PartialFile::ProbeCreate() {
  for (int attempt = 0;; ++attempt) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      Remove();  // the writer creates it again, as a new wave file
      return {};
    }
    // A name taken by a file of a process that had our id before: take the next number.
    if (errno != EEXIST || attempt == 100) return ErrnoText(errno);
    path_.replace_filename(prefix_ + std::to_string(::getpid()) + "-" + std::to_string(gSerial++) +
                           kSuffix);
  }
}

PartialFile::Outcome PartialFile::Publish(bool replace, std::string& error) {
  // The data are not forced to the disk first; that would double the time of a conversion for a
  // guarantee that only matters when the whole system crashes.
  int result = 0;
  if (replace) {
    result = ::rename(path_.c_str(), destination_.c_str());
  } else {
    result = ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, destination_.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      // A file system without the no-replace rename: a hard link cannot replace either.
      result = ::link(path_.c_str(), destination_.c_str());
      if (result == 0) {
        ::unlink(path_.c_str());
      } else if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
        // No hard links either (FAT): a check and a rename is the best left.
        struct stat st {};
        if (::lstat(destination_.c_str(), &st) == 0) {
          errno = EEXIST;
        } else {
          result = ::rename(path_.c_str(), destination_.c_str());
        }
      }
    }
  }
  if (result == 0) {
    published_ = true;
    return Outcome::kPublished;
  }
  if (errno == EEXIST) return Outcome::kExists;
  error = ErrnoText(errno);
  return Outcome::kError;
}

void PartialFile::Remove() const {
  ::unlink(path_.c_str());
}

}  // namespace platform
