// Helpers for the wave file tests: byte builders for hand-made RIFF files, a temporary folder per
// test, and writing and reading waves through the wave I/O layer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "wave/WaveIO.h"

namespace wavetest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes U16(std::uint16_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8)};
}
inline Bytes U32(std::uint32_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
inline Bytes Str(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
inline Bytes Sz(const std::string& s) {
  return Bytes(s.c_str(), s.c_str() + s.size() + 1);
}
// 0, 1, 2, ... modulo 251, so that no period lines up with a block size.
inline Bytes Ramp(std::size_t n, std::uint8_t start = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = std::uint8_t((start + i) % 251);
  return out;
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
inline Bytes Slice(const Bytes& b, std::size_t at, std::size_t n) {
  return Bytes(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + n));
}
inline std::uint32_t GetU32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

// A chunk exactly as given: the size field need not match, and no pad byte is added.
inline Bytes RawChunk(const std::string& id, std::uint32_t size, const Bytes& body) {
  return Cat({Str(id), U32(size), body});
}
// A well-formed chunk: the body's size, and a zero pad byte after an odd body.
inline Bytes Chunk(const std::string& id, const Bytes& body) {
  return Cat({RawChunk(id, std::uint32_t(body.size()), body), Bytes(body.size() & 1, 0)});
}
inline Bytes ListInfo(const Bytes& items) {
  return Chunk("LIST", Cat({Str("INFO"), items}));
}
inline Bytes RiffSized(std::uint32_t size, const Bytes& chunks, const std::string& form = "WAVE") {
  return Cat({Str("RIFF"), U32(size), Str(form), chunks});
}
inline Bytes Riff(const Bytes& chunks) {
  return RiffSized(std::uint32_t(chunks.size() + 4), chunks);
}
// The 16 bytes of a format record before cbSize.
inline Bytes FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                     std::uint32_t avg, std::uint16_t align, std::uint16_t bits) {
  return Cat({U16(tag), U16(channels), U32(rate), U32(avg), U16(align), U16(bits)});
}
inline stream::TWaveFormatEx PcmFormat(std::uint16_t channels, std::uint32_t rate,
                                       std::uint16_t bits) {
  const auto align = std::uint16_t(channels * bits / 8);
  return {1, channels, rate, rate * align, align, bits, 0};
}
// A consistent 16-byte PCM "fmt " chunk.
inline Bytes PcmFmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  const stream::TWaveFormatEx f = PcmFormat(channels, rate, bits);
  return Chunk("fmt ", FmtBody(1, channels, rate, f.nAvgBytesPerSec, f.nBlockAlign, bits));
}

inline Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Every test gets a fresh folder of its own, removed afterwards.
class TempDirTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("qd-wave-" + std::to_string(::getpid()) + "-" +
                                        info->test_suite_name() + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Put(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return Path(name);
  }

  fs::path dir_;
};

// Creates `path` for `format`, writes `data` in blocks of `block` bytes and finalizes it.
inline void WriteWave(const std::string& path, const stream::TWaveFormatEx* format,
                      const Bytes& data, std::size_t block = 4096) {
  wave::WaveIOHandlePtr h;
  ASSERT_EQ(wave::WaveIOFromFormat(h, format), wave::kWaveIOOk);
  ASSERT_EQ(wave::WaveIOCreateFile(h.get(), path), wave::kWaveIOOk);
  for (std::size_t at = 0; at < data.size(); at += block) {
    const auto n = std::int64_t(std::min(block, data.size() - at));
    ASSERT_EQ(wave::WaveIOWrite(h.get(), data.data() + at, n), n);
  }
  ASSERT_EQ(wave::WaveIOFinalize(h.get()), wave::kWaveIOOk);
}

inline int ReadInfo(wave::WaveIOHandlePtr& h, const std::string& path) {
  return wave::WaveIOReadInfo(h, path, nullptr, wave::kFourCCWave, wave::kRiffModePath);
}

// Reopens `h` and reads its data to the end in blocks of `block` bytes; a reader that does not
// stop in time fails instead of hanging.
inline int ReadAll(wave::TWaveIOHandle* h, Bytes& out, std::int64_t block = 4096) {
  out.clear();
  if (const int code = wave::WaveIOReopen(h); code != wave::kWaveIOOk) return code;
  Bytes buffer(static_cast<std::size_t>(block));
  for (std::int64_t calls = std::int64_t(h->dataBytes) / block + 16; calls > 0; --calls) {
    const std::int64_t n = wave::WaveIORead(h, buffer.data(), block);
    if (n <= 0) return wave::kWaveIOOk;
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
  ADD_FAILURE() << "reading never ended";
  return wave::kWaveIOOk;
}

}  // namespace wavetest
