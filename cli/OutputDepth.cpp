#include "cli/OutputDepth.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "acm/ExtensibleFormat.h"
#include "stream/WaveFormat.h"

namespace cli {

namespace {

constexpr int kMaxChannels = 8;
// Speaker positions: front left and right for stereo, front centre for mono; none otherwise.
constexpr std::uint32_t kSpeakersMono = 0x4;
constexpr std::uint32_t kSpeakersStereo = 0x3;
constexpr std::uint32_t kSpeakersUnknown = 0x0;

std::uint32_t SpeakerMask(int channels) {
  if (channels == 1) return kSpeakersMono;
  if (channels == 2) return kSpeakersStereo;
  return kSpeakersUnknown;
}

template <typename T>
void Put(std::vector<char>& bytes, std::size_t offset, const T& value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

}  // namespace

std::optional<OutputDepth> ParseOutputDepth(std::string_view text) {
  if (text == "16") return OutputDepth::k16;
  if (text == "24") return OutputDepth::k24;
  if (text == "32") return OutputDepth::k32;
  if (text == "32f") return OutputDepth::k32Float;
  return std::nullopt;
}

int BitsPerSample(OutputDepth depth) {
  return BytesPerSample(depth) * 8;
}

int BytesPerSample(OutputDepth depth) {
  switch (depth) {
    case OutputDepth::k16:
      return 2;
    case OutputDepth::k24:
      return 3;
    case OutputDepth::k32:
    case OutputDepth::k32Float:
      return 4;
  }
  return 2;
}

int DecoderSampleFormat(OutputDepth depth) {
  switch (depth) {
    case OutputDepth::k16:
      return 0;
    case OutputDepth::k24:
      return 1;
    case OutputDepth::k32:
      return 2;
    case OutputDepth::k32Float:
      return 3;
  }
  return 0;
}

std::vector<char> MakeOutputFormat(OutputDepth depth, int channels, int rate) {
  if (channels < 1 || channels > kMaxChannels)
    throw std::invalid_argument("unsupported channel count " + std::to_string(channels));
  if (rate <= 0) throw std::invalid_argument("unsupported sample rate " + std::to_string(rate));

  const bool extensible = depth == OutputDepth::k24 || depth == OutputDepth::k32;
  stream::TWaveFormatEx format{};
  if (extensible)
    format.wFormatTag = acm::kWaveFormatExtensible;
  else if (depth == OutputDepth::k32Float)
    format.wFormatTag = acm::kWaveFormatIeeeFloat;
  else
    format.wFormatTag = stream::WAVE_FORMAT_PCM;
  format.nChannels = static_cast<std::uint16_t>(channels);
  format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  format.nBlockAlign = static_cast<std::uint16_t>(channels * BytesPerSample(depth));
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  format.wBitsPerSample = static_cast<std::uint16_t>(BitsPerSample(depth));
  format.cbSize = extensible ? acm::kExtensibleExtraBytes : 0;

  std::vector<char> bytes(sizeof(format) + format.cbSize);
  Put(bytes, 0, format);
  if (extensible) {
    const std::size_t extra = sizeof(format);
    Put(bytes, extra + acm::kValidBitsOffset, format.wBitsPerSample);
    Put(bytes, extra + acm::kChannelMaskOffset, SpeakerMask(channels));
    Put(bytes, extra + acm::kSubFormatOffset, acm::kSubFormatPcm);
  }
  return bytes;
}

}  // namespace cli
