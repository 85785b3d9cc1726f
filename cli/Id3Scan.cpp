#include "cli/Id3Scan.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

namespace cli {
namespace {

constexpr std::size_t kHeaderBytes = 10;
constexpr std::size_t kFooterBytes = 10;
constexpr unsigned char kTagUnsynchronised = 0x80;
constexpr unsigned char kTagExtendedHeader = 0x40;  // version 2.2: the whole tag is compressed
constexpr unsigned char kTagExperimental = 0x20;
constexpr unsigned char kTagFooter = 0x10;
// Frame format flags (the second flag byte) of versions 2.3 and 2.4.
constexpr unsigned char kV3Compressed = 0x80, kV3Encrypted = 0x40, kV3Grouped = 0x20;
constexpr unsigned char kV4Grouped = 0x40, kV4Compressed = 0x08, kV4Encrypted = 0x04,
                        kV4Unsynchronised = 0x02, kV4DataLength = 0x01;
// The frames the fields are read from take at most this: a tag reader holds text several times
// over (as UTF-16 or UTF-32, then as UTF-8).
constexpr std::size_t kMaxTextsBytes = std::size_t(4) << 20;
// Notices past this many are summed up in one line.
constexpr int kMaxNotices = 6;

// Reads `n` bytes at `at`, counted from the first byte of the tag's header; false when they are
// not all there.
using ReadAt = std::function<bool(std::uint64_t at, char* out, std::size_t n)>;

struct TagHeader {
  int version = 0;
  unsigned char flags = 0;
  std::uint64_t bodyBytes = 0;  // after the header, without a footer
  std::uint64_t totalBytes() const {
    return kHeaderBytes + bodyBytes + (version == 4 && (flags & kTagFooter) ? kFooterBytes : 0);
  }
};

const unsigned char* Bytes(const char* p) {
  return reinterpret_cast<const unsigned char*>(p);
}

std::uint32_t BigEndian(const unsigned char* p, int n) {
  std::uint32_t value = 0;
  for (int i = 0; i < n; ++i) value = value << 8 | p[i];
  return value;
}

// A 28-bit "syncsafe" number (7 bits a byte); a writer that set a high bit meant a plain one.
std::uint32_t Syncsafe(const unsigned char* p) {
  if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return BigEndian(p, 4);
  return std::uint32_t(p[0]) << 21 | std::uint32_t(p[1]) << 14 | std::uint32_t(p[2]) << 7 | p[3];
}

void PutSyncsafe(std::vector<char>& out, std::uint32_t v) {
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back(char(v >> shift & 0x7F));
}

void PutBigEndian(std::vector<char>& out, std::uint32_t v, int n) {
  for (int shift = 8 * (n - 1); shift >= 0; shift -= 8) out.push_back(char(v >> shift & 0xFF));
}

// The header flags each version defines; others set mean the header is not one.
unsigned char DefinedFlags(int version) {
  return version == 2 ? 0xC0 : version == 3 ? 0xE0 : 0xF0;
}

std::optional<TagHeader> ParseHeader(const unsigned char* h) {
  if (std::memcmp(h, "ID3", 3) != 0 || h[3] < 2 || h[3] > 4 || h[4] == 0xFF) return std::nullopt;
  if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return std::nullopt;
  if (h[5] & ~DefinedFlags(h[3])) return std::nullopt;
  TagHeader header;
  header.version = h[3];
  header.flags = h[5];
  header.bodyBytes = Syncsafe(h + 6);
  return header;
}

// Undoes unsynchronisation: the 0x00 written after each 0xFF goes.
std::vector<char> Resynchronise(const char* data, std::size_t n) {
  std::vector<char> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (Bytes(data)[i] == 0xFF && i + 1 < n && data[i + 1] == 0) ++i;
  }
  return out;
}

// Inflates `n` bytes of zlib data into at most `limit` bytes; nothing when the data is damaged
// or inflates to more.
std::optional<std::vector<char>> InflateBounded(const char* data, std::size_t n,
                                                std::size_t limit) {
  std::vector<char> out(limit);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return std::nullopt;
  z.next_in = const_cast<Bytef*>(Bytes(data));
  z.avail_in = static_cast<uInt>(n);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(limit);
  const int rc = inflate(&z, Z_FINISH);
  const std::size_t produced = limit - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  out.resize(produced);
  return out;
}

bool ValidFrameId(const char* id, std::size_t n) {
  return std::all_of(id, id + n,
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// The frames that SourceTags takes its fields from, in versions 2.3/2.4 and 2.2.
bool IsFieldFrame(const std::string& id) {
  static const char* const kIds[] = {"TIT2", "TPE1", "TALB", "TDRC", "TYER", "TCON", "COMM",
                                     "TRCK", "TSSE", "TENC", "TT2",  "TP1",  "TAL",  "TYE",
                                     "TCO",  "COM",  "TRK",  "TSS",  "TEN"};
  return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

std::string Mib(std::size_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

// Walks the frames of one tag and collects those within the caps.
class FrameWalk {
 public:
  FrameWalk(const ReadAt& read, const TagHeader& header, std::uint64_t end, Id3Scan& scan)
      : read_(read), header_(header), end_(end), scan_(scan) {}

  // Walks from `at` to the end of the frames (padding, junk or the end of the tag).
  void Run(std::uint64_t at) {
    const std::size_t headerBytes = header_.version == 2 ? 6 : 10;
    const std::size_t idBytes = header_.version == 2 ? 3 : 4;
    char h[10];
    while (at + headerBytes <= end_ && read_(at, h, headerBytes)) {
      if (h[0] == 0 || !ValidFrameId(h, idBytes)) return;  // padding or junk: no more frames
      const std::string id(h, idBytes);
      const std::uint64_t size = FrameSize(at, h);
      const std::uint64_t data = at + headerBytes;
      if (size > end_ - data) {
        Notice("ID3v2 frame " + id + " left out: its size runs past the end of the tag");
        return;
      }
      at = data + size;
      if (size == 0) continue;
      const bool picture = id == "APIC" || id == "PIC";
      const std::size_t cap = picture ? kMaxId3PictureBytes : kMaxId3FrameBytes;
      if (size > cap) {
        Notice("ID3v2 frame " + id + " left out: " + std::to_string(size) + " bytes, over the " +
               Mib(cap) + " cap");
        continue;
      }
      std::vector<char> bytes(static_cast<std::size_t>(size));
      if (!read_(data, bytes.data(), bytes.size())) return;
      const unsigned char status = header_.version == 2 ? 0 : Bytes(h)[8];
      const unsigned char format = header_.version == 2 ? 0 : Bytes(h)[9];
      Keep(id, status, format, std::move(bytes), cap);
    }
  }

 private:
  // The frame's data size. Version 2.4 sizes are syncsafe, but some writers put plain numbers
  // there: when the syncsafe size does not lead to another frame and the plain one does, the
  // plain one it is.
  std::uint64_t FrameSize(std::uint64_t at, const char* h) const {
    const auto* b = Bytes(h);
    if (header_.version == 2) return BigEndian(b + 3, 3);
    if (header_.version == 3) return BigEndian(b + 4, 4);
    const std::uint64_t syncsafe = Syncsafe(b + 4);
    const std::uint64_t plain = BigEndian(b + 4, 4);
    if (syncsafe <= 127 || syncsafe == plain || FrameFollows(at + 10 + syncsafe)) return syncsafe;
    return FrameFollows(at + 10 + plain) ? plain : syncsafe;
  }

  bool FrameFollows(std::uint64_t at) const {
    if (at == end_) return true;
    char id[4];
    return at + 4 <= end_ && read_(at, id, 4) && (id[0] == 0 || ValidFrameId(id, 4));
  }

  // Takes one frame's data: inflated or resynchronised when it has to be, and added to the tags
  // built when all is within the caps.
  void Keep(const std::string& id, unsigned char status, unsigned char format,
            std::vector<char> bytes, std::size_t cap) {
    const bool v4 = header_.version == 4;
    const bool compressed = format & (v4 ? kV4Compressed : kV3Compressed);
    const bool encrypted = format & (v4 ? kV4Encrypted : kV3Encrypted);
    const bool unsynchronised = v4 && (format & kV4Unsynchronised);
    if (header_.version >= 3 && !encrypted && (compressed || unsynchronised)) {
      // The bytes before the data: version 2.3 the decompressed size, then the encryption and
      // group bytes; version 2.4 the group and encryption bytes, then the data length.
      std::size_t extra = 0;
      std::uint64_t declared = 0;
      if (v4) {
        extra += (format & kV4Grouped) ? 1 : 0;
        if (format & kV4DataLength) {
          if (bytes.size() < extra + 4) return;
          declared = Syncsafe(Bytes(bytes.data()) + extra);
          extra += 4;
        }
      } else {
        if (bytes.size() < 4) return;
        declared = BigEndian(Bytes(bytes.data()), 4);
        extra = 4 + ((format & kV3Grouped) ? 1 : 0);
      }
      if (bytes.size() < extra) return;
      std::vector<char> plain =
          unsynchronised ? Resynchronise(bytes.data() + extra, bytes.size() - extra)
                         : std::vector<char>(bytes.begin() + std::ptrdiff_t(extra), bytes.end());
      if (compressed) {
        if (declared > cap) {
          Notice("ID3v2 frame " + id + " left out: it inflates to " + std::to_string(declared) +
                 " bytes, over the " + Mib(cap) + " cap");
          return;
        }
        if (declared == 0) return;
        auto inflated = InflateBounded(plain.data(), plain.size(), std::size_t(declared));
        if (!inflated) {
          Notice("ID3v2 frame " + id + " left out: it does not inflate to its declared " +
                 std::to_string(declared) + " bytes");
          return;
        }
        plain = std::move(*inflated);
      }
      bytes = std::move(plain);
      format = 0;  // plain data now; the group byte is of no use to a reader
    }
    const std::size_t frameBytes = 10 + bytes.size();
    if (kept_ + frameBytes > kMaxId3TagBytes - kHeaderBytes) {
      Notice("ID3v2 frame " + id + " left out: the frames kept reach the " + Mib(kMaxId3TagBytes) +
             " cap of the tag");
      return;
    }
    kept_ += frameBytes;
    Append(scan_.kept, id, status, format, bytes);
    if (!IsFieldFrame(id)) return;
    if (texts_ + frameBytes > kMaxTextsBytes) {
      Notice("ID3v2 frame " + id + " not read: the text frames read reach " + Mib(kMaxTextsBytes));
      return;
    }
    texts_ += frameBytes;
    Append(scan_.texts, id, status, format, bytes);
  }

  void Append(std::vector<char>& tag, const std::string& id, unsigned char status,
              unsigned char format, const std::vector<char>& data) const {
    if (tag.empty()) tag.resize(kHeaderBytes);  // the header is written at the end
    tag.insert(tag.end(), id.begin(), id.end());
    const auto size = static_cast<std::uint32_t>(data.size());
    if (header_.version == 2) {
      PutBigEndian(tag, size, 3);
    } else {
      if (header_.version == 3) PutBigEndian(tag, size, 4);
      if (header_.version == 4) PutSyncsafe(tag, size);
      tag.push_back(char(status));
      tag.push_back(char(format));
    }
    tag.insert(tag.end(), data.begin(), data.end());
  }

  void Notice(std::string text) {
    if (++notices_ <= kMaxNotices) {
      scan_.notices.push_back(std::move(text));
    } else if (notices_ == kMaxNotices + 1) {
      scan_.notices.push_back("more ID3v2 frames left out");
    }
  }

  const ReadAt& read_;
  const TagHeader& header_;
  std::uint64_t end_;  // of the frames
  Id3Scan& scan_;
  std::size_t kept_ = 0;   // bytes of frames kept
  std::size_t texts_ = 0;  // of them, bytes of the frames the fields are read from
  int notices_ = 0;
};

// Writes the header of a tag that FrameWalk built.
void FinishTag(std::vector<char>& tag, const TagHeader& header) {
  if (tag.empty()) return;
  std::vector<char> h = {
      'I', 'D', '3', char(header.version), 0, char(header.flags & kTagExperimental)};
  PutSyncsafe(h, static_cast<std::uint32_t>(tag.size() - kHeaderBytes));
  std::copy(h.begin(), h.end(), tag.begin());
}

// Where the frames start: after the header and an extended header; nothing when the extended
// header does not fit.
std::optional<std::uint64_t> FramesStart(const ReadAt& read, const TagHeader& header,
                                         std::uint64_t end) {
  if (!(header.flags & kTagExtendedHeader)) return kHeaderBytes;
  unsigned char size[4];
  if (!read(kHeaderBytes, reinterpret_cast<char*>(size), 4)) return std::nullopt;
  // Version 2.3 counts the bytes after the size field, version 2.4 the whole extended header.
  const std::uint64_t start =
      header.version == 3 ? kHeaderBytes + 4 + BigEndian(size, 4) : kHeaderBytes + Syncsafe(size);
  if (start > end) return std::nullopt;
  return start;
}

std::optional<std::uint64_t> FindHeader(std::istream& in, std::uint64_t fileBytes,
                                        TagHeader& header) {
  std::string head(std::size_t(std::min(fileBytes, kId3SearchBytes)), '\0');
  in.seekg(0);
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(std::max<std::streamsize>(in.gcount(), 0)));
  in.clear();
  for (std::size_t at = head.find("ID3");
       at != std::string::npos && at + kHeaderBytes <= head.size(); at = head.find("ID3", at + 1)) {
    if (const auto parsed = ParseHeader(Bytes(head.data()) + at)) {
      header = *parsed;
      return at;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Id3Scan> ScanId3v2(std::istream& in, std::uint64_t fileBytes) {
  TagHeader header;
  const std::optional<std::uint64_t> offset = FindHeader(in, fileBytes, header);
  if (!offset) return std::nullopt;
  Id3Scan scan;
  scan.version = header.version;
  const std::uint64_t total = header.totalBytes();
  const bool whole = total <= fileBytes - *offset;
  scan.whole = whole;
  // The frames end where the body ends, or where the file does when the header claims more.
  const std::uint64_t end = std::min(kHeaderBytes + header.bodyBytes, fileBytes - *offset);
  const bool unsynchronised = header.version <= 3 && (header.flags & kTagUnsynchronised);
  const bool compressedV2 = header.version == 2 && (header.flags & kTagExtendedHeader);

  // A tag within the cap is read whole, once; a larger one a frame at a time.
  std::vector<char> memory;
  ReadAt read;
  const std::uint64_t available = whole ? total : fileBytes - *offset;
  if (available <= kMaxId3TagBytes) {
    memory.resize(std::size_t(available));
    in.seekg(std::streamoff(*offset));
    if (!in.read(memory.data(), std::streamsize(memory.size()))) return std::nullopt;
    if (whole && unsynchronised) scan.raw = memory;  // else `memory` becomes the copy below
    if (unsynchronised) {
      std::vector<char> body =
          Resynchronise(memory.data() + kHeaderBytes, std::size_t(end - kHeaderBytes));
      memory.resize(kHeaderBytes);
      memory.insert(memory.end(), body.begin(), body.end());
    }
    read = [&memory](std::uint64_t at, char* out, std::size_t n) {
      if (at > memory.size() || n > memory.size() - at) return false;
      std::memcpy(out, memory.data() + at, n);
      return true;
    };
  } else {
    scan.notices.push_back("ID3v2 tag of " + std::to_string(total) + " bytes is over the " +
                           Mib(kMaxId3TagBytes) + " cap: only its frames within the caps are kept");
    if (unsynchronised) {
      scan.notices.back() = "ID3v2 tag of " + std::to_string(total) +
                            " bytes, unsynchronised and over the " + Mib(kMaxId3TagBytes) +
                            " cap, left out";
      return scan;
    }
    const std::uint64_t base = *offset;
    read = [&in, base](std::uint64_t at, char* out, std::size_t n) {
      in.clear();
      in.seekg(std::streamoff(base + at));
      return bool(in.read(out, std::streamsize(n)));
    };
  }
  const std::uint64_t frameEnd = unsynchronised ? memory.size() : end;
  const std::optional<std::uint64_t> start =
      compressedV2 ? std::nullopt : FramesStart(read, header, frameEnd);
  if (start) FrameWalk(read, header, frameEnd, scan).Run(*start);
  FinishTag(scan.kept, header);
  FinishTag(scan.texts, header);
  // A tag walked without finding a frame carries nothing.
  if (whole && !unsynchronised && available <= kMaxId3TagBytes) scan.raw = std::move(memory);
  if (!scan.notices.empty() || (start && scan.kept.empty())) scan.raw.clear();
  return scan;
}

}  // namespace cli
