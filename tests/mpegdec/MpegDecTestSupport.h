// Helpers of the mpegdec tests: fixtures, instances, decoding through the C interface, and
// reference decodes by the mpg123 program.
#ifndef QUELBARIN_TESTS_MPEGDEC_SUPPORT_H
#define QUELBARIN_TESTS_MPEGDEC_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "mpegdec/mpegdec.h"

namespace mpegdec_test {

inline std::string fixture(const std::string& name) {
  return std::string(QD_MP3_FIXTURES) + "/" + name;
}

inline std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline int channelsOf(const TMpegFileInfo& info, int channelMode = MPEG_CHANNEL_BOTH) {
  return info.Mode == MPEG_MODE_SINGLE_CHANNEL || channelMode != MPEG_CHANNEL_BOTH ? 1 : 2;
}

// An instance released at the end of the scope.
class Instance {
 public:
  explicit Instance(mpeg_change_callback callback = nullptr, void* data = nullptr) {
    int32_t code = -1;
    handle_ = mpeg_Init(&code, callback, data);
    EXPECT_EQ(code, MPEG_OK);
  }
  ~Instance() { mpeg_Done(&handle_); }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  MPEG_HANDLE get() const { return handle_; }
  TMpegFileInfo info() const {
    TMpegFileInfo info{};
    mpeg_GetFileInfo(handle_, &info);
    return info;
  }
  int samplesPerFrame() const {
    const TMpegFileInfo i = info();
    return int(i.FrameTime * i.PlayBackRate / 1000.0 + 0.5);
  }
  // Binds the fixture, sets the channel mode and opens it.
  int32_t open(const std::string& name, int channelMode = MPEG_CHANNEL_BOTH) {
    if (const int32_t rc = mpeg_SetFileName(handle_, fixture(name).c_str())) return rc;
    if (const int32_t rc = mpeg_SetChannelMode(handle_, channelMode)) return rc;
    return mpeg_OpenFile(handle_);
  }

 private:
  MPEG_HANDLE handle_ = nullptr;
};

struct Decoded {
  std::vector<int16_t> samples;  // interleaved
  bool emptyReadNeeded = false;  // a read returned 0 before GetDone turned true
  bool partialSampleFrame = false;
  int32_t error = 0;  // a negative read result
};

// Reads in blocks of `block` bytes until GetDone.
inline Decoded readToEnd(MPEG_HANDLE handle, int32_t block = 32768) {
  Decoded out;
  TMpegFileInfo info{};
  mpeg_GetFileInfo(handle, &info);
  int32_t mode = 0;
  mpeg_GetChannelMode(handle, &mode);
  const int sampleBytes = 2 * channelsOf(info, mode & 0xFF);
  std::vector<char> buffer(static_cast<size_t>(block));
  for (int reads = 0; !mpeg_GetDone(handle) && reads < 1000000; ++reads) {
    const int32_t got = mpeg_ReadDataBytes(handle, buffer.data(), block);
    if (got <= 0) {
      out.error = got;
      out.emptyReadNeeded = got == 0;
      break;
    }
    out.partialSampleFrame |= got % sampleBytes != 0;
    const auto* samples = reinterpret_cast<const int16_t*>(buffer.data());
    out.samples.insert(out.samples.end(), samples, samples + got / 2);
  }
  return out;
}

inline std::vector<int16_t> decodeFixture(const std::string& name,
                                          int channelMode = MPEG_CHANNEL_BOTH) {
  Instance instance;
  EXPECT_EQ(instance.open(name, channelMode), MPEG_OK) << name;
  return readToEnd(instance.get()).samples;
}

inline bool haveMpg123() {
  return std::system("command -v mpg123 >/dev/null 2>&1") == 0;
}

struct Pcm {
  int channels = 0;
  int rate = 0;
  std::vector<int16_t> samples;
};

// `mpg123 -q <options> -w out.wav <path>`, written to the temporary folder.
inline std::optional<Pcm> mpg123DecodeFile(const std::string& path,
                                           const std::string& options = "") {
  static std::atomic<int> counter{0};
  const auto wav =
      std::filesystem::temp_directory_path() /
      ("mpegdec-ref-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".wav");
  const std::string command =
      "mpg123 -q " + options + " -w '" + wav.string() + "' '" + path + "' >/dev/null 2>&1";
  const int rc = std::system(command.c_str());
  const auto bytes = fileBytes(wav.string());
  std::filesystem::remove(wav);
  // mpg123 writes the canonical 44-byte header.
  if (rc != 0 || bytes.size() < 44 || std::memcmp(&bytes[36], "data", 4) != 0) return std::nullopt;
  Pcm pcm;
  pcm.channels = bytes[22] | bytes[23] << 8;
  pcm.rate = bytes[24] | bytes[25] << 8 | bytes[26] << 16;
  pcm.samples.resize((bytes.size() - 44) / 2);
  std::memcpy(pcm.samples.data(), &bytes[44], pcm.samples.size() * 2);
  return pcm;
}

inline std::optional<Pcm> mpg123Decode(const std::string& name, const std::string& options = "") {
  return mpg123DecodeFile(fixture(name), options);
}

struct PcmData {
  int bits = 0;
  std::vector<uint8_t> data;  // the "data" chunk as written
};

// `mpg123 -q -e <encoding> -w out.wav <path>`: the sample size and the bytes of the data chunk
// (the float form adds a "fact" chunk, so the chunks are walked).
inline std::optional<PcmData> mpg123DecodeData(const std::string& path,
                                               const std::string& encoding) {
  static std::atomic<int> counter{0};
  const auto wav =
      std::filesystem::temp_directory_path() /
      ("mpegdec-refdata-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".wav");
  const std::string command =
      "mpg123 -q -e " + encoding + " -w '" + wav.string() + "' '" + path + "' >/dev/null 2>&1";
  const int rc = std::system(command.c_str());
  const auto bytes = fileBytes(wav.string());
  std::filesystem::remove(wav);
  if (rc != 0 || bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) {
    return std::nullopt;
  }
  PcmData pcm;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const size_t size =
        bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | size_t(bytes[at + 7]) << 24;
    const size_t body = at + 8;
    if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && size >= 16) {
      pcm.bits = bytes[body + 14] | bytes[body + 15] << 8;
    } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
      pcm.data.assign(bytes.begin() + long(body),
                      bytes.begin() + long(std::min(bytes.size(), body + size)));
      return pcm;
    }
    at = body + size + (size & 1);
  }
  return std::nullopt;
}

}  // namespace mpegdec_test

#endif  // QUELBARIN_TESTS_MPEGDEC_SUPPORT_H
