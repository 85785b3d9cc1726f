// Test helpers: temporary folders and PCM WAV files made with the wave layer.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "stream/WaveFormat.h"
#include "wave/Wave.h"

namespace sources::test {

class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("qd-sources-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

inline stream::TWaveFormatEx Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  return stream::TWaveFormatEx{
      stream::WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

inline void WriteWav(const std::string& path, const stream::TWaveFormatEx& format,
                     const std::vector<std::int16_t>& samples) {
  wave::TMMWave w;
  w.CreateWaveFile(path, &format);
  ASSERT_EQ(w.WriteBytes(samples.data(), static_cast<std::int64_t>(samples.size() * 2)),
            static_cast<std::int64_t>(samples.size() * 2));
  w.CloseFile();
  ASSERT_FALSE(w.CloseFailed());
}

}  // namespace sources::test
