// Copies a file as it is (--copy-others: an album's cover, booklet, cue sheet) under the rules of
// the converted outputs: into a partial file beside the destination, published by a rename that
// does not replace another file unless asked to, and removed when the copy does not finish.
// Threading: Copy may run on several threads at once; calls share nothing.
#pragma once

#include <atomic>
#include <filesystem>

#include "cli/FileConverter.h"

namespace cli {

class FileCopier {
 public:
  // A copy that ends once `*cancel` is true is removed (null: never).
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  void SetExistingFiles(ExistingFiles policy) { existing_ = policy; }

  // kConverted with `bytes` set when the copy was published; kSkipped or kFailed (with the
  // reason) as for a conversion; kCancelled when stopped. Progress is in bytes.
  ConversionResult Copy(const std::filesystem::path& source,
                        const std::filesystem::path& destination,
                        const FileConverter::Progress& progress = {}) const;

 private:
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }

  const std::atomic<bool>* cancel_ = nullptr;
  ExistingFiles existing_ = ExistingFiles::kRefuse;
};

}  // namespace cli
