#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include <filesystem>
#include <system_error>

namespace platform {

std::optional<std::uint64_t> FreeBytesForPath(const std::string& path) {
  // An empty name does not say where the file would go, so there is nothing to ask.
  if (path.empty()) return std::nullopt;
  std::error_code error;
  std::filesystem::path current = std::filesystem::absolute(path, error);
  if (error) return std::nullopt;
  // A file that is about to be written does not exist yet: walk up to the nearest folder that
  // does and ask its file system.
  for (;;) {
    struct statvfs info {};
    if (::statvfs(current.c_str(), &info) == 0) {
      return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
    }
    std::filesystem::path parent = current.parent_path();
    if (parent.empty() || parent == current) return std::nullopt;
    current = std::move(parent);
  }
}

}  // namespace platform
