#include "platform/WaveRecorder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

namespace platform {

namespace {

constexpr std::size_t kHeaderBytes = 44;
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - kHeaderBytes;

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

WaveRecorder::~WaveRecorder() {
  if (file_ != nullptr) Finish();
}

bool WaveRecorder::Open(const std::string& path, const WAVEFORMATEX& format) {
  path_ = path;
  format_ = format;
  dataBytes_ = 0;
  failed_ = false;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  if (!WriteHeader(0)) {
    std::fclose(file_);
    file_ = nullptr;
    std::remove(path_.c_str());
    return false;
  }
  return true;
}

bool WaveRecorder::Append(const char* data, std::size_t bytes) {
  if (file_ == nullptr || failed_) return false;
  if (dataBytes_ + bytes > kMaxDataBytes || std::fwrite(data, 1, bytes, file_) != bytes) {
    failed_ = true;
    return false;
  }
  dataBytes_ += bytes;
  return true;
}

bool WaveRecorder::Finish() {
  if (file_ == nullptr) return false;
  bool ok = !failed_;
  if (ok && (dataBytes_ & 1) != 0) ok = std::fputc(0, file_) != EOF;  // RIFF pad byte
  if (ok)
    ok = std::fseek(file_, 0, SEEK_SET) == 0 && WriteHeader(static_cast<std::uint32_t>(dataBytes_));
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  if (!ok) std::remove(path_.c_str());
  return ok;
}

bool WaveRecorder::WriteHeader(std::uint32_t dataBytes) {
  std::array<std::uint8_t, kHeaderBytes> header{};
  auto* at = header.data();
  const std::uint32_t riffBytes = 36 + dataBytes + (dataBytes & 1);
  std::copy_n("RIFF", 4, at);
  Put32(at + 4, riffBytes);
  std::copy_n("WAVEfmt ", 8, at + 8);
  Put32(at + 16, 16);
  Put16(at + 20, WAVE_FORMAT_PCM_TAG);
  Put16(at + 22, format_.nChannels);
  Put32(at + 24, format_.nSamplesPerSec);
  Put32(at + 28, format_.nAvgBytesPerSec);
  Put16(at + 32, format_.nBlockAlign);
  Put16(at + 34, format_.wBitsPerSample);
  std::copy_n("data", 4, at + 36);
  Put32(at + 40, dataBytes);
  return std::fwrite(header.data(), 1, header.size(), file_) == header.size() &&
         std::fflush(file_) == 0;
}

}  // namespace platform
