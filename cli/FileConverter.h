// Converts one file: builds a chain of its own (audio file -> sync driver -> wave file sink),
// writes into a partial file beside the destination and renames that into place only when the
// whole file was written.
// Threading: Convert may run on several threads at once; each call has its own chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "wave/WaveFile.h"

namespace cli {

struct ConversionResult {
  enum Status { kConverted, kFailed, kCancelled };
  Status status = kFailed;
  std::string reason;      // why it failed
  std::int64_t bytes = 0;  // PCM bytes written when converted
};

class FileConverter {
 public:
  static constexpr std::int32_t kBufferSize = 32768;

  // Called after each block on the converting thread: where the source is and its length, in
  // milliseconds.
  using Progress = std::function<void(std::int64_t positionMs, std::int64_t lengthMs)>;

  // A conversion stops at the next block once `*cancel` is true (null: never).
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // Replaces the sinks' free-space query; for tests.
  void SetFreeSpaceQuery(wave::FreeSpaceQuery query) { freeSpace_ = std::move(query); }

  ConversionResult Convert(const std::filesystem::path& source,
                           const std::filesystem::path& destination,
                           const Progress& progress = {}) const;

 private:
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }

  const std::atomic<bool>* cancel_ = nullptr;
  wave::FreeSpaceQuery freeSpace_;
};

}  // namespace cli
