#include "cli/FileList.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli {
namespace {

constexpr std::size_t kReadBlock = 65536;

// All that `fd` holds up to its end; false with errno set when a read failed.
bool ReadToEnd(int fd, std::string& text) {
  char block[kReadBlock];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.append(block, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::vector<std::filesystem::path> SplitFileList(std::string_view text, char separator) {
  std::vector<std::filesystem::path> paths;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    const std::string_view entry = text.substr(0, end);
    if (!entry.empty()) paths.emplace_back(std::string(entry));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return paths;
}

FileListRead ReadFileList(const std::filesystem::path& list, char separator) {
  FileListRead result;
  const bool standardInput = list == "-";
  const int fd = standardInput ? STDIN_FILENO : ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
  std::string text;
  const bool read = fd >= 0 && ReadToEnd(fd, text);
  const int error = errno;
  if (fd >= 0 && !standardInput) ::close(fd);
  if (!read) {
    result.error = "cannot read " +
                   (standardInput ? std::string("standard input") : list.native()) + ": " +
                   std::strerror(error);
    return result;
  }
  result.paths = SplitFileList(text, separator);
  return result;
}

}  // namespace cli
