#include "cli/SourceTags.h"

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>

#include "cli/Id3Scan.h"

namespace cli {
namespace {

// The fields carried over, in the order of the INFO list.
enum Field { kTitle, kArtist, kAlbum, kDate, kGenre, kComment, kTrack, kEncoder, kFieldCount };
using Fields = std::array<TagLib::String, kFieldCount>;

constexpr std::array<const char*, kFieldCount> kInfoIds = {"INAM", "IART", "IPRD", "ICRD",
                                                           "IGNR", "ICMT", "ITRK", "ISFT"};
// The ID3v2.4 frames a made tag holds each field in (the comment goes into a COMM frame).
constexpr std::array<const char*, kFieldCount> kFrameIds = {"TIT2", "TPE1", "TALB", "TDRC",
                                                            "TCON", "COMM", "TRCK", "TSSE"};

constexpr std::uint64_t kId3v1Bytes = 128;
constexpr std::uint64_t kApeFooterBytes = 32;
constexpr std::uint32_t kApeHasHeader = 0x80000000u;

// A file made of bytes held in memory, for TagLib's tag readers.
class MemoryFile : public TagLib::File {
 public:
  explicit MemoryFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
  TagLib::Tag* tag() const override { return nullptr; }
  TagLib::AudioProperties* audioProperties() const override { return nullptr; }
  bool save() override { return false; }
};

// Bytes of the source and a TagLib file over them; a tag read from `file` lives no longer.
struct TagBytes {
  explicit TagBytes(const std::vector<char>& bytes)
      : stream(TagLib::ByteVector(bytes.data(), static_cast<unsigned>(bytes.size()))),
        file(&stream) {}
  TagLib::ByteVectorStream stream;
  MemoryFile file;
};

std::string ReadBytes(std::ifstream& in, std::uint64_t offset, std::uint64_t count) {
  std::string bytes(count, '\0');
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  in.clear();
  return bytes;
}

std::uint32_t LittleEndian32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
         std::uint32_t(b[3]) << 24;
}

// The tags at the end of the file, where TagLib looks for them: an ID3v1 tag in the last 128
// bytes, an APE tag ending there or at the end.
struct TrailingTags {
  std::optional<std::vector<char>> id3v1;
  std::optional<std::vector<char>> ape;  // header (when there is one), items and footer
};

TrailingTags ReadTrailingTags(std::ifstream& in, std::uint64_t fileBytes,
                              std::vector<std::string>& notices) {
  TrailingTags tags;
  std::uint64_t end = fileBytes;
  if (fileBytes >= kId3v1Bytes) {
    const std::string last = ReadBytes(in, fileBytes - kId3v1Bytes, kId3v1Bytes);
    // "TAG" that ends an APE footer's "APETAGEX" is no ID3v1 tag.
    const bool apeFooter =
        fileBytes >= kId3v1Bytes + 3 && ReadBytes(in, fileBytes - kId3v1Bytes - 3, 3) == "APE";
    if (last.size() == kId3v1Bytes && last.compare(0, 3, "TAG") == 0 && !apeFooter) {
      tags.id3v1.emplace(last.begin(), last.end());
      end -= kId3v1Bytes;
    }
  }
  if (end < kApeFooterBytes) return tags;
  const std::string footer = ReadBytes(in, end - kApeFooterBytes, kApeFooterBytes);
  if (footer.size() != kApeFooterBytes || footer.compare(0, 8, "APETAGEX") != 0) return tags;
  const std::uint64_t size = LittleEndian32(footer.data() + 12);  // items and footer
  const std::uint64_t total =
      size + ((LittleEndian32(footer.data() + 20) & kApeHasHeader) ? kApeFooterBytes : 0);
  if (size < kApeFooterBytes || total > end) return tags;
  if (total > kMaxId3TagBytes) {
    notices.push_back("APE tag of " + std::to_string(total) + " bytes is over the " +
                      std::to_string(kMaxId3TagBytes >> 20) + " MiB cap: left out");
    return tags;
  }
  const std::string bytes = ReadBytes(in, end - total, total);
  if (bytes.size() == total) tags.ape.emplace(bytes.begin(), bytes.end());
  return tags;
}

TagLib::String FrameText(const TagLib::ID3v2::Tag& tag, const char* id) {
  const TagLib::ID3v2::FrameListMap& frames = tag.frameListMap();
  const auto it = frames.find(id);
  return it == frames.end() || it->second.isEmpty() ? TagLib::String()
                                                    : it->second.front()->toString();
}

TagLib::String ApeText(const TagLib::APE::Tag& tag, const char* key) {
  const TagLib::APE::ItemListMap& items = tag.itemListMap();
  const auto it = items.find(TagLib::String(key).upper());
  if (it == items.end() || it->second.type() != TagLib::APE::Item::Text) return {};
  return it->second.toString();
}

TagLib::String Number(unsigned value) {
  return value == 0 ? TagLib::String() : TagLib::String::number(static_cast<int>(value));
}

Fields FieldsOf(const TagLib::Tag& tag) {
  Fields f;
  f[kTitle] = tag.title();
  f[kArtist] = tag.artist();
  f[kAlbum] = tag.album();
  f[kGenre] = tag.genre();
  f[kComment] = tag.comment();
  return f;
}

Fields FieldsOf(const TagLib::ID3v2::Tag& tag) {
  Fields f = FieldsOf(static_cast<const TagLib::Tag&>(tag));
  // TagLib files a version 2.2/2.3 year frame under TDRC; TYER stays in case it did not.
  f[kDate] = FrameText(tag, "TDRC");
  if (f[kDate].isEmpty()) f[kDate] = FrameText(tag, "TYER");
  f[kTrack] = FrameText(tag, "TRCK");
  f[kEncoder] = FrameText(tag, "TSSE");
  if (f[kEncoder].isEmpty()) f[kEncoder] = FrameText(tag, "TENC");
  return f;
}

Fields FieldsOf(const TagLib::APE::Tag& tag) {
  Fields f = FieldsOf(static_cast<const TagLib::Tag&>(tag));
  f[kDate] = ApeText(tag, "Year");
  f[kTrack] = ApeText(tag, "Track");
  f[kEncoder] = ApeText(tag, "Encoder");
  if (f[kEncoder].isEmpty()) f[kEncoder] = ApeText(tag, "Tool");
  return f;
}

Fields FieldsOf(const TagLib::ID3v1::Tag& tag) {
  Fields f = FieldsOf(static_cast<const TagLib::Tag&>(tag));
  f[kDate] = Number(tag.year());
  f[kTrack] = Number(tag.track());
  return f;
}

// UTF-8 text for the INFO list; NUL bytes would end an INFO string early, so they go.
std::string Utf8(const TagLib::String& text) {
  std::string utf8 = text.to8Bit(true);
  utf8.erase(std::remove(utf8.begin(), utf8.end(), '\0'), utf8.end());
  return utf8;
}

// An ID3v2.4 tag holding the fields as UTF-8 text frames.
std::vector<char> RenderId3v2(const Fields& fields) {
  TagLib::ID3v2::Tag tag;
  for (int i = 0; i < kFieldCount; ++i) {
    if (fields[i].isEmpty()) continue;
    if (i == kComment) {
      auto* frame = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
      frame->setText(fields[i]);
      tag.addFrame(frame);  // the tag owns its frames
    } else {
      auto* frame = new TagLib::ID3v2::TextIdentificationFrame(kFrameIds[i], TagLib::String::UTF8);
      frame->setText(fields[i]);
      tag.addFrame(frame);
    }
  }
  const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v4);
  return std::vector<char>(bytes.begin(), bytes.end());
}

// UTF-8 text for the INFO list, at most kMaxInfoTextBytes, cut where a character starts.
std::string InfoText(const char* id, const TagLib::String& text,
                     std::vector<std::string>& notices) {
  std::string utf8 = Utf8(text);
  const std::size_t size = utf8.size();
  utf8 = CutInfoText(std::move(utf8));
  if (utf8.size() < size) {
    notices.push_back(std::string(id) + " text of " + std::to_string(size) + " bytes cut to " +
                      std::to_string(utf8.size()));
  }
  return utf8;
}

SourceTags Read(const std::filesystem::path& source) {
  std::error_code ec;
  const std::uintmax_t fileBytes = std::filesystem::file_size(source, ec);
  std::ifstream in(source, std::ios::binary);
  char magic[4] = {};
  if (ec || !in || (in.read(magic, sizeof magic) && std::memcmp(magic, "RIFF", 4) == 0)) return {};

  SourceTags tags;
  std::optional<Id3Scan> id3 = ScanId3v2(in, fileBytes);
  if (id3) tags.notices = std::move(id3->notices);
  const TrailingTags trailing = ReadTrailingTags(in, fileBytes, tags.notices);

  // Each tag is read by TagLib from its own bytes in memory, within the caps.
  std::vector<Fields> found;
  if (id3 && !id3->texts.empty()) {
    TagBytes bytes(id3->texts);
    const TagLib::ID3v2::Tag v2(&bytes.file, 0);
    if (!v2.frameList().isEmpty()) found.push_back(FieldsOf(v2));
    id3->texts = {};
  }
  if (trailing.ape) {
    TagBytes bytes(*trailing.ape);
    const TagLib::APE::Tag ape(&bytes.file,
                               static_cast<long>(trailing.ape->size() - kApeFooterBytes));
    if (!ape.isEmpty()) found.push_back(FieldsOf(ape));
  }
  if (trailing.id3v1) {
    TagBytes bytes(*trailing.id3v1);
    const TagLib::ID3v1::Tag v1(&bytes.file, 0);
    found.push_back(FieldsOf(v1));
  }

  Fields merged;
  for (int i = 0; i < kFieldCount; ++i) {
    for (const Fields& f : found) {
      if (merged[i].isEmpty()) merged[i] = f[i];
    }
    std::string text = InfoText(kInfoIds[i], merged[i], tags.notices);
    if (!text.empty()) tags.info.emplace_back(kInfoIds[i], std::move(text));
  }

  // The file's own tag when it is sound and within the caps; else, when its header is, the
  // frames within the caps; else one made from the fields.
  if (id3 && !id3->raw.empty()) {
    tags.id3v2 = std::move(id3->raw);
  } else if (id3 && id3->whole && !id3->kept.empty()) {
    tags.id3v2 = std::move(id3->kept);
  } else if (!tags.info.empty()) {
    tags.id3v2 = RenderId3v2(merged);
  }
  return tags;
}

}  // namespace

std::string CutInfoText(std::string text) {
  if (text.size() <= kMaxInfoTextBytes) return text;
  std::size_t cut = kMaxInfoTextBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

SourceTags ReadSourceTags(const std::filesystem::path& source) {
  try {
    return Read(source);
  } catch (const std::exception&) {
    return {};  // out of memory or a file that vanished: the WAV goes without tags
  }
}

}  // namespace cli
