// The driver shell shared by the compressed formats. A Codec describes one format tag: which
// records of it are valid, how its blocks are laid out and how one stream's blocks are decoded
// (and, for some, encoded). CodecDriver turns that into a Driver that converts the format to
// 8- or 16-bit PCM of the same channels and rate, and PCM back to the format when the codec
// encodes. Rate and channel changes are the PCM driver's next step in a chain.
#ifndef QUELBARIN_ACM_CODECDRIVER_H
#define QUELBARIN_ACM_CODECDRIVER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "acm/Driver.h"

namespace acm {

// How a valid compressed record splits the data: blocks of `blockBytes` bytes, each holding
// `framesPerBlock` frames of `channels` samples.
struct BlockLayout {
  std::uint32_t blockBytes = 0;
  std::uint32_t framesPerBlock = 0;
  std::uint32_t channels = 0;
};

// One stream's decoder. Decoders keep whatever state crosses blocks.
class BlockDecoder {
 public:
  virtual ~BlockDecoder() = default;
  // Decodes `blocks` whole blocks from `data` into interleaved samples at `out` (room for
  // blocks × framesPerBlock frames). Returns false when the data cannot be decoded at all.
  virtual bool decodeBlocks(const std::uint8_t* data, std::size_t blocks, std::int16_t* out) = 0;
  // Decodes the frames a short last block of `bytes` (< blockBytes) holds completely; returns
  // how many (0 when none).
  virtual std::size_t decodeShortBlock(const std::uint8_t* data, std::size_t bytes,
                                       std::int16_t* out) = 0;
  // Forgets the state carried across blocks.
  virtual void reset() {}
};

// A decoder for formats whose blocks carry all their state in their headers: each block decodes
// alone, and a short last block decodes as far as it holds whole frames.
class SelfContainedBlockDecoder : public BlockDecoder {
 public:
  explicit SelfContainedBlockDecoder(const BlockLayout& layout) : layout_(layout) {}

  bool decodeBlocks(const std::uint8_t* data, std::size_t blocks, std::int16_t* out) final {
    for (std::size_t b = 0; b < blocks; ++b) {
      decodeBlock(data, layout_.framesPerBlock, out);
      data += layout_.blockBytes;
      out += std::size_t{layout_.framesPerBlock} * layout_.channels;
    }
    return true;
  }

  std::size_t decodeShortBlock(const std::uint8_t* data, std::size_t bytes,
                               std::int16_t* out) final {
    const auto frames = static_cast<std::uint32_t>(
        std::min<std::size_t>(framesInShortBlock(bytes), layout_.framesPerBlock));
    if (frames > 0) decodeBlock(data, frames, out);
    return frames;
  }

 protected:
  // The whole frames the first `bytes` of a block hold.
  virtual std::size_t framesInShortBlock(std::size_t bytes) const = 0;
  // Decodes the first `frames` frames of the block at `data`.
  virtual void decodeBlock(const std::uint8_t* data, std::uint32_t frames,
                           std::int16_t* out) const = 0;

  const BlockLayout layout_;
};

// One stream's encoder.
class BlockEncoder {
 public:
  virtual ~BlockEncoder() = default;
  // Encodes `blocks` × framesPerBlock interleaved frames into `blocks` whole blocks at `out`.
  virtual void encodeBlocks(const std::int16_t* frames, std::size_t blocks, std::uint8_t* out) = 0;
  virtual void reset() {}
};

class Codec {
 public:
  virtual ~Codec() = default;
  virtual std::uint16_t tag() const = 0;
  // The largest record of this format the codec writes or reads.
  virtual std::uint32_t maxFormatBytes() const = 0;
  // The layout of a record of this codec's tag, or nullopt when the record is not one it decodes
  // (wrong block size, channels, rate or extra bytes).
  virtual std::optional<BlockLayout> layout(const WaveFormat& format) const = 0;
  virtual std::unique_ptr<BlockDecoder> decoder(const WaveFormat& format,
                                                const BlockLayout& layout) const = 0;

  // The record this codec encodes PCM of `channels` at `rate` into, or nullopt when it does not
  // encode (or not those).
  virtual std::optional<WaveFormat> encodedFormat(std::uint16_t /*channels*/,
                                                  std::uint32_t /*rate*/) const {
    return std::nullopt;
  }
  // Whether it encodes into this (valid) record; null encoder when it does not.
  virtual bool encodes(const WaveFormat& /*format*/, const BlockLayout& /*layout*/) const {
    return false;
  }
  virtual std::unique_ptr<BlockEncoder> encoder(const WaveFormat& /*format*/,
                                                const BlockLayout& /*layout*/) const {
    return nullptr;
  }
};

class CodecDriver final : public Driver {
 public:
  explicit CodecDriver(const Codec& codec) : codec_(codec) {}

  bool isCodec() const override { return true; }
  std::uint32_t maxFormatBytes() const override { return codec_.maxFormatBytes(); }

  // From the codec's format: PCM of the same channels and rate, 16 bits unless the request fixes
  // 8. From PCM, when the request fixes this codec's tag: the codec's record for the same
  // channels and rate.
  std::optional<WaveFormat> suggest(const WaveFormat& source,
                                    const FormatRequest& request) const override;
  bool canConvert(const WaveFormat& source, const WaveFormat& destination) const override;
  std::unique_ptr<Converter> open(const WaveFormat& source, const WaveFormat& destination,
                                  Quality quality) const override;

 private:
  std::optional<BlockLayout> decodableLayout(const WaveFormat& format) const;
  bool decodes(const WaveFormat& source, const WaveFormat& destination) const;
  bool encodesTo(const WaveFormat& source, const WaveFormat& destination) const;

  const Codec& codec_;
};

}  // namespace acm

#endif  // QUELBARIN_ACM_CODECDRIVER_H
