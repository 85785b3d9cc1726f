// Base of the library's exceptions: each carries the system's message text verbatim.
#pragma once

#include <stdexcept>
#include <string>

namespace stream {

class EMMError : public std::runtime_error {
 public:
  explicit EMMError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace stream
