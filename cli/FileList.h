// The list of files given with --files-from: one path a line, or NUL-separated with -0, read
// whole from a file or from standard input ("-") before the run starts.
// Threading: the main thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The paths in `text`, split at `separator` ('\n' or '\0'). Empty entries are left out; the
// bytes of a path are kept as they are (spaces, '\r', bytes that are not UTF-8).
std::vector<std::filesystem::path> SplitFileList(std::string_view text, char separator);

struct FileListRead {
  std::vector<std::filesystem::path> paths;
  std::string error;  // "cannot read LIST: reason" when the list could not be read
};

// Reads the list in `list` ("-": standard input).
FileListRead ReadFileList(const std::filesystem::path& list, char separator);

}  // namespace cli
