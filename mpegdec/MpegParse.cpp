#include "mpegdec/MpegParse.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"

namespace mpegdec {
namespace {

// Free-format frames are never longer than this (640 kbit/s layer III at 32 kHz is 2881 bytes).
constexpr int kMaxFreeFrame = 4096;
// Nor shorter than a header with the smallest side information.
constexpr int kMinFreeFrame = 16;

constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// [lsf][layer - 1][index], kbit/s; index 0 is free format.
constexpr int kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};

bool readExact(const ByteReader& read, uint64_t offset, void* buffer, size_t size) {
  return read(offset, buffer, size) == size;
}

// The length of a free-format frame without its padding slot: the distance to the next header
// of the same stream. 0 when there is none within reach.
int freeFormatBase(std::span<const uint8_t> data, size_t offset, const FrameHeader& first) {
  for (int distance = kMinFreeFrame; distance <= kMaxFreeFrame; ++distance) {
    const size_t next = offset + size_t(distance);
    if (next + 4 > data.size()) return 0;
    if (data[next] != 0xFF) continue;
    const auto header = parseFrameHeader(&data[next]);
    if (header && header->sameStream(first)) {
      const int base = distance - first.padding * first.slotBytes;
      return base > 4 ? base : 0;
    }
  }
  return 0;
}

// How many frames follow each other from `offset` (at most `required`), and whether the run
// ends exactly at the end of complete data.
int countRun(std::span<const uint8_t> data, size_t offset, const FrameHeader& first, int freeBase,
             int required, bool complete, bool& endsAtEnd) {
  endsAtEnd = false;
  FrameHeader header = first;
  size_t position = offset;
  int frames = 0;
  for (;;) {
    ++frames;
    if (frames >= required) return frames;
    const size_t length = header.freeFormat() ? size_t(freeBase + header.padding * header.slotBytes)
                                              : size_t(header.length);
    const size_t next = position + length;
    // The data ends with this frame, cut short or whole, or a few bytes after it.
    if (complete && next + 4 > data.size()) {
      endsAtEnd = true;
      return frames;
    }
    if (next + 4 > data.size()) return frames;
    const auto nextHeader = parseFrameHeader(&data[next]);
    if (!nextHeader || !nextHeader->sameStream(first)) return frames;
    header = *nextHeader;
    position = next;
  }
}

}  // namespace

bool FrameHeader::sameStream(const FrameHeader& other) const {
  return version == other.version && layer == other.layer && sampleRate == other.sampleRate &&
         freeFormat() == other.freeFormat();
}

std::optional<FrameHeader> parseFrameHeader(const uint8_t* bytes) {
  const uint32_t h = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
                     uint32_t(bytes[3]);
  if ((h >> 21) != 0x7FF) return std::nullopt;
  const int versionBits = (h >> 19) & 3;
  const int layerBits = (h >> 17) & 3;
  const int bitrateIndex = (h >> 12) & 15;
  const int rateIndex = (h >> 10) & 3;
  if (versionBits == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3 || (h & 3) == 2) {
    return std::nullopt;
  }
  FrameHeader header;
  header.version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
  header.layer = 4 - layerBits;
  const bool lsf = header.version != 0;
  header.bitrate = kBitrates[lsf][header.layer - 1][bitrateIndex];
  header.sampleRate = kSampleRates[header.version][rateIndex];
  header.padding = (h >> 9) & 1;
  header.mode = (h >> 6) & 3;
  header.slotBytes = header.layer == 1 ? 4 : 1;
  header.samplesPerFrame = header.layer == 1 ? 384 : (header.layer == 3 && lsf) ? 576 : 1152;
  if (header.bitrate != 0) {
    const int bps = header.bitrate * 1000;
    if (header.layer == 1) {
      header.length = (12 * bps / header.sampleRate + header.padding) * 4;
    } else {
      const int factor = (header.layer == 3 && lsf) ? 72 : 144;
      header.length = factor * bps / header.sampleRate + header.padding;
    }
  }
  return header;
}

std::optional<FrameRun> findFrameRun(std::span<const uint8_t> data, size_t searchLimit,
                                     int required, bool complete) {
  const size_t limit = std::min(searchLimit, data.size());
  for (size_t offset = 0; offset < limit && offset + 4 <= data.size(); ++offset) {
    if (data[offset] != 0xFF || (data[offset + 1] & 0xE0) != 0xE0) continue;
    const auto first = parseFrameHeader(&data[offset]);
    if (!first) continue;
    int freeBase = 0;
    if (first->freeFormat()) {
      freeBase = freeFormatBase(data, offset, *first);
      if (freeBase == 0) continue;
    }
    bool endsAtEnd = false;
    const int frames = countRun(data, offset, *first, freeBase, required, complete, endsAtEnd);
    if (frames >= required || (endsAtEnd && frames >= 2)) {
      return FrameRun{offset, *first, frames, freeBase};
    }
  }
  return std::nullopt;
}

namespace {

// A window of the file, reloaded when a read falls outside it.
class Window {
 public:
  Window(const ByteReader& read, uint64_t end) : read_(read), end_(end) {}

  // The bytes from `offset` on, at least `size` of them unless the end comes first.
  std::span<const uint8_t> at(uint64_t offset, size_t size) {
    if (offset >= end_) return {};
    const uint64_t want = std::min<uint64_t>(end_, offset + size);
    if (offset < start_ || want > start_ + bytes_.size()) {
      const size_t load = size_t(std::min<uint64_t>(end_ - offset, std::max(size, kLoad)));
      bytes_.resize(load);
      bytes_.resize(read_(offset, bytes_.data(), load));
      start_ = offset;
    }
    return std::span<const uint8_t>(bytes_).subspan(size_t(offset - start_));
  }

 private:
  static constexpr size_t kLoad = size_t(1) << 18;
  const ByteReader& read_;
  uint64_t end_;
  uint64_t start_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::vector<FrameSpan> mapFrames(const ByteReader& read, const ByteRange& range, int required,
                                 size_t junkLimit) {
  constexpr size_t kRunRoom = size_t(64) << 10;  // enough for `required` frames of any kind
  constexpr size_t kQuickSearch = size_t(16) << 10;
  std::vector<FrameSpan> spans;
  Window window(read, range.end);
  uint64_t position = range.begin;
  while (position < range.end) {
    // Most gaps are small: look a little way ahead before reading up to the junk limit.
    std::optional<FrameRun> run;
    bool complete = false;
    size_t available = 0;
    for (const size_t limit : {std::min(kQuickSearch, junkLimit), junkLimit}) {
      const auto bytes = window.at(position, limit + kRunRoom);
      available = bytes.size();
      complete = position + available >= range.end;
      run = findFrameRun(bytes, limit, required, complete);
      if (run || complete) break;
    }
    if (!run) {
      if (complete || available <= junkLimit) break;
      position += junkLimit;
      continue;
    }
    const uint64_t begin = position + run->offset;
    uint64_t end = begin;
    for (;;) {
      const auto next = window.at(end, 4);
      if (next.size() < 4) break;
      const auto header = parseFrameHeader(next.data());
      if (!header || !header->sameStream(run->first)) break;
      const uint64_t length =
          header->freeFormat()
              ? uint64_t(run->freeFormatBytes + header->padding * header->slotBytes)
              : uint64_t(header->length);
      if (end + length > range.end) {
        // A frame cut short by the end of the audio: the decoder gets its bytes as a reader of
        // the file does (it decodes the frame before it only when it finds this header).
        if (end > begin) end = range.end;
        break;
      }
      end += length;
    }
    if (end == begin) {  // the run's first frame does not fit: look further on
      position = begin + 1;
      continue;
    }
    if (!spans.empty() && spans.back().end == begin) {
      spans.back().end = end;
    } else {
      spans.push_back(FrameSpan{begin, end});
    }
    position = end;
  }
  return spans;
}

RiffKind locateRiffData(const ByteReader& read, uint64_t fileSize, ByteRange& range) {
  uint8_t header[12];
  if (fileSize < 12 || !readExact(read, 0, header, sizeof header)) return RiffKind::NotRiff;
  if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0) {
    return RiffKind::NotRiff;
  }
  std::optional<uint16_t> formatTag;
  std::optional<ByteRange> data;
  uint64_t position = 12;
  for (int chunks = 0; chunks < 4096 && position + 8 <= fileSize; ++chunks) {
    uint8_t chunk[8];
    if (!readExact(read, position, chunk, sizeof chunk)) break;
    const uint64_t size = platform::ReadU32(chunk + 4);
    const uint64_t body = position + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !formatTag && size >= 2) {
      uint8_t tag[2];
      if (!readExact(read, body, tag, sizeof tag)) break;
      formatTag = uint16_t(tag[0] | tag[1] << 8);
    } else if (std::memcmp(chunk, "data", 4) == 0 && !data) {
      data = ByteRange{body, std::min(body + size, fileSize)};
    }
    if (formatTag && data) break;
    position = body + size + (size & 1);
  }
  if (!formatTag || !data || (*formatTag != 0x55 && *formatTag != 0x50)) {
    return RiffKind::OtherAudio;
  }
  range = *data;
  return RiffKind::MpegAudio;
}

uint64_t claimedInfoFrames(const ByteReader& read, const ByteRange& range, size_t limit) {
  std::vector<uint8_t> bytes(std::min<uint64_t>(range.size(), limit));
  bytes.resize(read(range.begin, bytes.data(), bytes.size()));
  uint64_t largest = 0;
  // "Xing" or "Info", 4 bytes of flags; with flag 1 the frame count follows, big-endian.
  for (size_t at = 0; at + 12 <= bytes.size(); ++at) {
    const uint8_t* tag = bytes.data() + at;
    if ((std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0) &&
        (tag[7] & 1) != 0) {
      const uint64_t frames =
          uint64_t(tag[8]) << 24 | uint64_t(tag[9]) << 16 | uint64_t(tag[10]) << 8 | tag[11];
      largest = std::max(largest, frames);
    }
  }
  return largest;
}

void skipLeadingTags(const ByteReader& read, ByteRange& range) {
  for (int tags = 0; tags < 64; ++tags) {
    uint8_t h[32];
    const size_t got =
        range.size() >= 10 ? read(range.begin, h, std::min<uint64_t>(32, range.size())) : 0;
    uint64_t skip = 0;
    if (got >= 10 && std::memcmp(h, "ID3", 3) == 0 && h[3] != 0xFF && h[4] != 0xFF &&
        ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0) {
      const uint64_t size =
          uint64_t(h[6]) << 21 | uint64_t(h[7]) << 14 | uint64_t(h[8]) << 7 | h[9];
      const bool footer = h[3] >= 4 && (h[5] & 0x10) != 0;
      skip = 10 + size + (footer ? 10 : 0);
    } else if (got == 32 && std::memcmp(h, "APETAGEX", 8) == 0 &&
               (platform::ReadU32(h + 20) & 0x20000000) != 0) {
      // An APE tag header; its size counts the items and the footer.
      skip = 32 + uint64_t(platform::ReadU32(h + 12));
    } else {
      return;
    }
    range.begin = std::min(range.end, range.begin + skip);
  }
}

void trimTrailingTags(const ByteReader& read, ByteRange& range) {
  for (int tags = 0; tags < 16; ++tags) {
    uint8_t tail[128];
    if (range.size() >= 128 && readExact(read, range.end - 128, tail, 128) &&
        std::memcmp(tail, "TAG", 3) == 0) {
      range.end -= 128;
      continue;
    }
    if (range.size() >= 32 && readExact(read, range.end - 32, tail, 32) &&
        std::memcmp(tail, "APETAGEX", 8) == 0) {
      const uint64_t size = platform::ReadU32(tail + 12);
      const uint64_t total = size + ((platform::ReadU32(tail + 20) & 0x80000000u) != 0 ? 32 : 0);
      if (size >= 32 && total <= range.size()) {
        range.end -= total;
        continue;
      }
    }
    if (range.size() >= 15 && readExact(read, range.end - 15, tail, 15) &&
        std::memcmp(tail + 6, "LYRICS200", 9) == 0 &&
        std::all_of(tail, tail + 6, [](uint8_t c) { return c >= '0' && c <= '9'; })) {
      uint64_t size = 0;
      for (int i = 0; i < 6; ++i) size = size * 10 + uint64_t(tail[i] - '0');
      const uint64_t total = size + 15;
      uint8_t begin[11];
      if (total <= range.size() && readExact(read, range.end - total, begin, 11) &&
          std::memcmp(begin, "LYRICSBEGIN", 11) == 0) {
        range.end -= total;
        continue;
      }
    }
    return;
  }
}

}  // namespace mpegdec
