// Helpers shared by the manager's tests: format records, sample buffers and a stream driven the
// way the application drives one step of a conversion chain.
#ifndef QUELBARIN_TESTS_ACM_ACMTESTSUPPORT_H
#define QUELBARIN_TESTS_ACM_ACMTESTSUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "acm/msacm.h"

namespace acmtest {

inline ACMWAVEFORMATEX Pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  ACMWAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM_TAG;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  format.nAvgBytesPerSec = format.nBlockAlign * rate;
  format.wBitsPerSample = bits;
  return format;
}

inline std::vector<std::uint8_t> Words(const std::vector<int>& values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) {
    const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return bytes;
}

inline std::vector<std::int16_t> ToSamples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// Interleaved 16-bit sine frames: channel c has frequency hz × (c + 1), amplitude 0.5.
inline std::vector<std::uint8_t> Sine(std::uint32_t rate, std::size_t frames, unsigned channels,
                                      double hz = 997.0) {
  std::vector<int> values;
  for (std::size_t i = 0; i < frames; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      values.push_back(
          static_cast<int>(std::lround(16384.0 * std::sin(2.0 * M_PI * hz * (c + 1) * i / rate))));
    }
  }
  return Words(values);
}

// An open stream with one prepared header whose buffers are sized like the application's:
// a source buffer of 4 × chunk bytes and the destination acmStreamSize gives for it.
class Stream {
 public:
  Stream(const ACMWAVEFORMATEX& source, const ACMWAVEFORMATEX& destination,
         std::uint32_t openFlags = 0, std::uint32_t chunk = 8192)
      : chunk_(chunk), sourceAlign_(source.nBlockAlign) {
    result_ = acmStreamOpen(&handle_, nullptr, &source, &destination, nullptr, 0, 0, openFlags);
    if (result_ != MMSYSERR_NOERROR) return;
    source_.resize(4 * chunk);
    std::uint32_t size = 0;
    EXPECT_EQ(acmStreamSize(handle_, static_cast<std::uint32_t>(source_.size()), &size,
                            ACM_STREAMSIZEF_SOURCE),
              MMSYSERR_NOERROR);
    destination_.resize(size);
    header_.cbStruct = sizeof header_;
    header_.pbSrc = source_.data();
    header_.cbSrcLength = static_cast<std::uint32_t>(source_.size());
    header_.pbDst = destination_.data();
    header_.cbDstLength = static_cast<std::uint32_t>(destination_.size());
    EXPECT_EQ(acmStreamPrepareHeader(handle_, &header_, 0), MMSYSERR_NOERROR);
  }
  ~Stream() {
    if (handle_ == nullptr) return;
    header_.cbSrcLength = static_cast<std::uint32_t>(source_.size());
    header_.cbDstLength = static_cast<std::uint32_t>(destination_.size());
    EXPECT_EQ(acmStreamUnprepareHeader(handle_, &header_, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(handle_, 0), MMSYSERR_NOERROR);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  bool ok() const { return result_ == MMSYSERR_NOERROR; }
  HACMSTREAM handle() const { return handle_; }
  ACMSTREAMHEADER& header() { return header_; }

  // One acmStreamConvert of `data` (at most the source buffer) into the full destination buffer;
  // returns the bytes produced and reports the source bytes used.
  std::vector<std::uint8_t> Convert(std::span<const std::uint8_t> data, std::uint32_t flags,
                                    std::uint32_t* used = nullptr) {
    std::copy(data.begin(), data.end(), source_.begin());
    header_.cbSrcLength = static_cast<std::uint32_t>(data.size());
    header_.cbDstLength = static_cast<std::uint32_t>(destination_.size());
    EXPECT_EQ(acmStreamConvert(handle_, &header_, flags), MMSYSERR_NOERROR);
    EXPECT_NE(header_.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE, 0u);
    if (used != nullptr) *used = header_.cbSrcLengthUsed;
    return {destination_.begin(), destination_.begin() + header_.cbDstLengthUsed};
  }

  // The whole of `data` in pieces of at most `piece` bytes with BLOCKALIGN, carrying what a call
  // leaves unused to the front of the next, then END with the rest. Checks afterwards that the
  // stream kept nothing back.
  std::vector<std::uint8_t> ConvertAll(std::span<const std::uint8_t> data, std::size_t piece) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> pending;
    std::size_t offset = 0;
    while (offset < data.size()) {
      const std::size_t n = std::min({piece, data.size() - offset, std::size_t{chunk_}});
      pending.insert(pending.end(), data.begin() + offset, data.begin() + offset + n);
      offset += n;
      std::uint32_t used = 0;
      const auto produced = Convert(pending, ACM_STREAMCONVERTF_BLOCKALIGN, &used);
      EXPECT_EQ(used, pending.size() - pending.size() % sourceAlign_);
      out.insert(out.end(), produced.begin(), produced.end());
      pending.erase(pending.begin(), pending.begin() + used);
    }
    const auto tail = Convert(pending, ACM_STREAMCONVERTF_END);
    out.insert(out.end(), tail.begin(), tail.end());
    EXPECT_TRUE(Convert({}, 0).empty()) << "output was held back past END";
    return out;
  }

 private:
  std::uint32_t chunk_;
  std::uint32_t sourceAlign_;
  MMRESULT result_ = MMSYSERR_ERROR;
  HACMSTREAM handle_ = nullptr;
  std::vector<std::uint8_t> source_;
  std::vector<std::uint8_t> destination_;
  ACMSTREAMHEADER header_{};
};

}  // namespace acmtest

#endif  // QUELBARIN_TESTS_ACM_ACMTESTSUPPORT_H
