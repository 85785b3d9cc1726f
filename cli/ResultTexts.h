// Results and texts that the conversion paths share.
#pragma once

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/FileConverter.h"

namespace cli {

inline ConversionResult Failed(std::string reason) {
  return ConversionResult(ConversionResult::kFailed, std::move(reason));
}

inline ConversionResult CancelledResult() {
  return ConversionResult(ConversionResult::kCancelled);
}

// The result for a destination that exists: skipped under -n, else failed with a hint.
inline ConversionResult ExistingOutputResult(const std::filesystem::path& destination,
                                             ExistingFiles policy) {
  if (policy == ExistingFiles::kSkip) {
    return ConversionResult(ConversionResult::kSkipped, destination.native() + " exists");
  }
  return Failed(destination.native() + " exists (use --force to replace it)");
}

// The system's text for an errno, first letter lowered to sit inside our sentence.
inline std::string ErrnoText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// "cannot write DEST: why": the file system's reason when a write failed with one (clearer
// than the writer's own message), else the writer's.
inline ConversionResult WriteFailed(const std::filesystem::path& destination, int writeError,
                                    const std::string& writerMessage) {
  return Failed("cannot write " + destination.native() + ": " +
                (writeError != 0 ? ErrnoText(writeError) : writerMessage));
}

}  // namespace cli
