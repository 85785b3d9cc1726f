// Converts one file into a partial file beside the destination and renames that into place only
// when the whole file was written; a file that was there is never replaced unless asked to.
// MPEG audio is read by the decoder module (MpegSource), other sources by the WAVE reader and
// the converter drivers (WaveSource); both go through the one output stage (OutputStage) with
// the output settings.
// Threading: Convert may run on several threads at once; each call has its own objects.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/HelperPool.h"
#include "cli/OutputSettings.h"

namespace cli {

// What to do with a destination that exists before the conversion starts.
enum class ExistingFiles {
  kRefuse,   // leave it, report the file as failed (the default)
  kReplace,  // -f: replace it with the new output
  kSkip,     // -n: leave it and skip the source quietly
};

struct ConversionResult {
  enum Status { kConverted, kFailed, kCancelled, kSkipped };
  ConversionResult() = default;
  ConversionResult(Status s, std::string why = {}) : status(s), reason(std::move(why)) {}

  Status status = kFailed;
  std::string reason;                // why it failed, or why it was skipped
  std::int64_t bytes = 0;            // PCM bytes written when converted
  std::int64_t clipped = 0;          // samples that had to be clipped to the output's range
  std::string gain;                  // the gain a normalization applied ("-3.10 dB"), else empty
  std::string gainReason;            // why a normalization left the gain at 1, else empty
  std::vector<std::string> notices;  // what the output left out (tags over a cap), one line each
};

class FileConverter {
 public:
  // Called after each block on the converting thread: where the source is and its length, in
  // milliseconds.
  using Progress = std::function<void(std::int64_t positionMs, std::int64_t lengthMs)>;

  // A conversion stops at the next block once `*cancel` is true (null: never).
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  void SetExistingFiles(ExistingFiles policy) { existing_ = policy; }
  void SetOutputSettings(const OutputSettings& settings) { output_ = settings; }
  // The batch's pool: idle threads then decode parts of the files (null: none).
  void SetHelperPool(HelperPool* pool) { pool_ = pool; }

  ConversionResult Convert(const std::filesystem::path& source,
                           const std::filesystem::path& destination,
                           const Progress& progress = {}) const;

 private:
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  ConversionResult ExistsResult(const std::filesystem::path& destination) const;

  const std::atomic<bool>* cancel_ = nullptr;
  ExistingFiles existing_ = ExistingFiles::kRefuse;
  OutputSettings output_;
  HelperPool* pool_ = nullptr;
};

}  // namespace cli
