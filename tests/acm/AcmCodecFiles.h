// Compressed WAVE files for the codec tests: made by sox, split into their format record (with
// its extra bytes) and data, and decoded by sox for comparison. Skips when sox is missing.
#ifndef QUELBARIN_TESTS_ACM_ACMCODECFILES_H
#define QUELBARIN_TESTS_ACM_ACMCODECFILES_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "acm/msacm.h"

namespace acmtest {

inline bool HaveSox() {
  return !std::string(QD_SOX_PROGRAM).empty() && access(QD_SOX_PROGRAM, X_OK) == 0;
}

inline bool RunSox(const std::string& arguments) {
  const std::string command = std::string("\"") + QD_SOX_PROGRAM + "\" -D -V1 " + arguments;
  return std::system(command.c_str()) == 0;
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// A format record with its extra bytes, usable where the API takes an ACMWAVEFORMATEX.
struct FormatBytes {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(sizeof(ACMWAVEFORMATEX), 0);

  ACMWAVEFORMATEX* get() { return reinterpret_cast<ACMWAVEFORMATEX*>(bytes.data()); }
  const ACMWAVEFORMATEX& operator*() const {
    return *reinterpret_cast<const ACMWAVEFORMATEX*>(bytes.data());
  }
  const ACMWAVEFORMATEX* operator->() const { return &**this; }
  std::uint8_t* extra() { return bytes.data() + sizeof(ACMWAVEFORMATEX); }
};

struct WaveFile {
  FormatBytes format;
  std::vector<std::uint8_t> data;
  std::size_t dataOffset = 0;  // of the data in the file
  std::vector<std::uint8_t> file;
};

inline std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

// The "fmt " and "data" chunks of a well-formed file written by sox.
inline WaveFile ParseWave(const std::vector<std::uint8_t>& file) {
  WaveFile wave;
  wave.file = file;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::string id(file.begin() + at, file.begin() + at + 4);
    const std::uint32_t size = U32(file, at + 4);
    const std::size_t body = at + 8;
    const std::size_t end = std::min<std::size_t>(body + size, file.size());
    if (id == "fmt ") {
      wave.format.bytes.assign(file.begin() + body, file.begin() + end);
      if (wave.format.bytes.size() < sizeof(ACMWAVEFORMATEX)) {
        wave.format.bytes.resize(sizeof(ACMWAVEFORMATEX), 0);
      }
    } else if (id == "data") {
      wave.dataOffset = body;
      wave.data.assign(file.begin() + body, file.begin() + end);
    }
    at = body + size + (size & 1);
  }
  return wave;
}

inline std::vector<std::int16_t> Samples16(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// A scratch folder with sox-made files of a tone pair (different per channel).
class SoxFiles {
 public:
  SoxFiles() {
    dir_ = std::filesystem::temp_directory_path() /
           ("qd-acm-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
  }
  ~SoxFiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // `seconds` of tones at `rate` with `channels`, encoded with sox's `-e encoding`.
  WaveFile Make(const std::string& name, const std::string& encoding, std::uint32_t rate,
                unsigned channels, double seconds = 0.7) const {
    const std::string path = Path(name);
    const std::string command =
        "-n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -e " + encoding +
        " '" + path + "' synth " + std::to_string(seconds) + " sine 300-3000 sine 440 gain -2";
    EXPECT_TRUE(RunSox(command)) << command;
    return ParseWave(ReadBytes(path));
  }

  // sox's own decode of `path` as 16-bit samples.
  std::vector<std::int16_t> Decode(const std::string& path) const {
    const std::string out = path + ".s16";
    EXPECT_TRUE(RunSox("'" + path + "' -t raw -e signed -b 16 '" + out + "'"));
    return Samples16(ReadBytes(out));
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
};

}  // namespace acmtest

#endif  // QUELBARIN_TESTS_ACM_ACMCODECFILES_H
