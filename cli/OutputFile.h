// The output WAVE file of one conversion, the one owner of its handle: created with its format
// and tags as RIFF, or as RF64 when it may pass the 4 GiB limit of RIFF; its data written in
// order, or reserved first and then written or copied at their places by several threads;
// completed.
// Threading: Create, Append and Finish on the converting thread; WriteAt and CopyAt from any
// thread between Create (with reserved data) and Finish.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "cli/FileConverter.h"
#include "cli/SourceTags.h"
#include "wave/WaveIO.h"

namespace cli {

class OutputFile {
 public:
  // `destination` names the file in messages.
  explicit OutputFile(std::filesystem::path destination) : destination_(std::move(destination)) {}

  // Creates `partial` for `format` (a format record with its extra bytes) with `tags`, sized
  // for at most `maxDataBytes`; with `reserve` those bytes are reserved for WriteAt. Nothing when
  // done, else the failure.
  std::optional<ConversionResult> Create(const std::filesystem::path& partial,
                                         const std::vector<char>& format, SourceTags tags,
                                         std::uint64_t maxDataBytes, bool reserve);
  // Appends data bytes; false when they cannot be written.
  bool Append(const unsigned char* bytes, std::size_t count);
  // Writes data bytes at byte `at` of the reserved data; false when they cannot be written.
  bool WriteAt(const unsigned char* bytes, std::size_t count, std::uint64_t at);
  // Copies `count` data bytes from offset `sourceOffset` of the open file `sourceFd` to byte
  // `at` of the reserved data: the bytes copied, fewer when the source ends first; -1 when they
  // cannot be copied (as a failed write).
  std::int64_t CopyAt(int sourceFd, std::int64_t sourceOffset, std::int64_t count,
                      std::uint64_t at);
  // Completes and closes the file: nothing when done, else the failure. A failed write before
  // makes this the write's failure.
  std::optional<ConversionResult> Finish();
  // The failure of the first write that failed.
  ConversionResult WriteFailure() const;

  std::int64_t BytesWritten() const { return written_; }

 private:
  // Records the calling thread's write error as the file's, if it is the first.
  void Fail();

  std::filesystem::path destination_;
  wave::WaveIOHandlePtr handle_;
  bool reserved_ = false;
  std::atomic<std::int64_t> written_{0};
  std::atomic<bool> failed_{false};
  std::atomic<int> writeError_{0};  // errno of the first failed write, 0 when the writer had none
};

}  // namespace cli
