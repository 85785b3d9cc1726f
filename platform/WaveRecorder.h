// Records PCM bytes into a canonical WAV file (44-byte header, sizes patched when finished).
// A file whose writing failed is removed at Finish, so no half-written file is left behind.
// Threading: one thread at a time (the file device opens and finishes it on the caller's thread
// and appends on its clock thread, which the device stops first).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/WaveOutApi.h"

namespace platform {

class WaveRecorder {
 public:
  WaveRecorder() = default;
  ~WaveRecorder();
  WaveRecorder(const WaveRecorder&) = delete;
  WaveRecorder& operator=(const WaveRecorder&) = delete;

  // Creates (truncates) `path` and writes a header with zero sizes.
  bool Open(const std::string& path, const WAVEFORMATEX& format);
  bool Append(const char* data, std::size_t bytes);
  // Patches the sizes and closes the file; false (and the file removed) when any write failed.
  bool Finish();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  bool WriteHeader(std::uint32_t dataBytes);

  std::FILE* file_ = nullptr;
  std::string path_;
  WAVEFORMATEX format_{};
  std::uint64_t dataBytes_ = 0;
  bool failed_ = false;
};

}  // namespace platform
