#include "cli/SourceTags.h"

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>

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

constexpr std::size_t kId3HeaderBytes = 10;
constexpr std::size_t kId3FooterBytes = 10;
constexpr unsigned char kId3FooterFlag = 0x10;
// How far into the file a tag behind leading junk is looked for.
constexpr std::uintmax_t kId3SearchBytes = 1 << 20;

// The whole length (header, body, footer) of the ID3v2 tag whose header starts at `h`, or nothing
// when those 10 bytes are no ID3v2.2-2.4 header.
std::optional<std::uintmax_t> Id3TagBytes(const unsigned char* h) {
  if (std::memcmp(h, "ID3", 3) != 0 || h[3] < 2 || h[3] > 4 || h[4] == 0xFF) return std::nullopt;
  std::uintmax_t body = 0;
  for (int i = 6; i < 10; ++i) {
    if (h[i] & 0x80) return std::nullopt;  // sizes are syncsafe: 7 bits a byte
    body = body << 7 | h[i];
  }
  const bool footer = h[3] == 4 && (h[5] & kId3FooterFlag);
  return kId3HeaderBytes + body + (footer ? kId3FooterBytes : 0);
}

std::string ReadBytes(std::ifstream& in, std::uintmax_t offset, std::uintmax_t count) {
  std::string bytes(count, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  in.clear();
  return bytes;
}

// The bytes of the file's own ID3v2 tag: the first header in the file's first MiB with the
// version and size that TagLib read, when the whole tag lies within the file. Nothing when the
// header claims more bytes than the file holds.
std::optional<std::vector<char>> CopyId3v2(const std::filesystem::path& source,
                                           const TagLib::ID3v2::Header& read) {
  std::error_code ec;
  const std::uintmax_t fileBytes = std::filesystem::file_size(source, ec);
  std::ifstream in(source, std::ios::binary);
  if (ec || !in) return std::nullopt;
  const std::string head = ReadBytes(in, 0, std::min(fileBytes, kId3SearchBytes));
  const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
  for (std::size_t at = 0; at + kId3HeaderBytes <= head.size(); ++at) {
    const std::optional<std::uintmax_t> total = Id3TagBytes(bytes + at);
    if (!total || bytes[at + 3] != read.majorVersion() || *total != read.completeTagSize()) {
      continue;
    }
    if (*total > fileBytes - at) return std::nullopt;
    const std::string tag = ReadBytes(in, at, *total);
    if (tag.size() != *total) return std::nullopt;
    return std::vector<char>(tag.begin(), tag.end());
  }
  return std::nullopt;
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

bool IsRiff(const std::filesystem::path& source) {
  std::ifstream in(source, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, sizeof magic) && std::memcmp(magic, "RIFF", 4) == 0;
}

SourceTags Read(const std::filesystem::path& source) {
  if (IsRiff(source)) return {};
  TagLib::MPEG::File file(source.c_str(), false);
  if (!file.isValid()) return {};

  // The file creates empty ID3v1 and ID3v2 tags on demand; only those read from disk count.
  // An ID3v2 tag without frames carries nothing and is passed over.
  const TagLib::ID3v2::Tag* v2 =
      file.hasID3v2Tag() && !file.ID3v2Tag()->frameList().isEmpty() ? file.ID3v2Tag() : nullptr;
  std::vector<Fields> found;
  if (v2) found.push_back(FieldsOf(*v2));
  if (file.hasAPETag()) found.push_back(FieldsOf(*file.APETag()));
  if (file.hasID3v1Tag()) found.push_back(FieldsOf(*file.ID3v1Tag()));

  Fields merged;
  SourceTags tags;
  for (int i = 0; i < kFieldCount; ++i) {
    for (const Fields& f : found) {
      if (merged[i].isEmpty()) merged[i] = f[i];
    }
    std::string text = Utf8(merged[i]);
    if (!text.empty()) tags.info.emplace_back(kInfoIds[i], std::move(text));
  }

  std::optional<std::vector<char>> copied;
  if (v2) copied = CopyId3v2(source, *v2->header());
  if (copied) {
    tags.id3v2 = std::move(*copied);
  } else if (!tags.info.empty()) {
    tags.id3v2 = RenderId3v2(merged);
  }
  return tags;
}

}  // namespace

SourceTags ReadSourceTags(const std::filesystem::path& source) {
  try {
    return Read(source);
  } catch (const std::exception&) {
    return {};  // out of memory or a file that vanished: the WAV goes without tags
  }
}

}  // namespace cli
