// Free bytes on the file system that holds a path, as available to this process.
// Threading: any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Free bytes available to an unprivileged writer on the file system of `path` (the path itself
// need not exist; its nearest existing folder is asked). Empty when it cannot be determined.
std::optional<std::uint64_t> FreeBytesForPath(const std::string& path);

}  // namespace platform
