#include "cli/SourceTags.h"

#include <gtest/gtest.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

using test::ReadAll;
using test::WriteAll;
namespace fs = std::filesystem;
using Info = std::vector<std::pair<std::string, std::string>>;
using Props = std::vector<std::pair<std::string, std::string>>;  // TagLib property names
using TagLib::MPEG::File;

const char kUnicode[] = "A\xC3\xA7\xC3\xA3o \xE2\x80\x94 \xE6\x9D\xB1\xE4\xBA\xAC";  // Ação — 東京
const std::string kPicture(40000, '\xA5');

TagLib::PropertyMap Map(const Props& props) {
  TagLib::PropertyMap map;
  for (const auto& [key, value] : props)
    map[key].append(TagLib::String(value, TagLib::String::UTF8));
  return map;
}

std::string U32(std::uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// The length an ID3v2 tag's header gives for the whole tag.
std::size_t DeclaredBytes(const std::string& id3) {
  const auto* h = reinterpret_cast<const unsigned char*>(id3.data());
  if (id3.size() < 10) return 0;
  return 10u + (h[6] << 21 | h[7] << 14 | h[8] << 7 | h[9]) + (h[5] & 0x10 ? 10 : 0);
}
std::size_t DeclaredBytes(const std::vector<char>& id3) {
  return DeclaredBytes(std::string(id3.begin(), id3.end()));
}

// What TagLib reads from the "id3 " chunk of a small WAVE file that carries `id3`, under the
// INFO ids of the fields it holds.
Info ReadBackFromWave(const fs::path& wav, const std::vector<char>& id3) {
  const std::string tag(id3.begin(), id3.end());
  const std::string fmt = "fmt " + U32(16) + std::string("\1\0\1\0", 4) + U32(8000) + U32(16000) +
                          std::string("\2\0\x10\0", 4);
  const std::string body = "WAVE" + fmt + "data" + U32(4) + std::string(4, '\0') + "id3 " +
                           U32(std::uint32_t(tag.size())) + tag + std::string(tag.size() & 1, 0);
  WriteAll(wav, "RIFF" + U32(std::uint32_t(body.size())) + body);
  TagLib::RIFF::WAV::File file(wav.c_str(), false);
  for (const TagLib::ID3v2::Frame* frame : file.ID3v2Tag()->frameList()) {
    const auto* text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frame);
    if (text) {
      EXPECT_EQ(text->textEncoding(), TagLib::String::UTF8);
    }
  }
  const TagLib::PropertyMap read = file.ID3v2Tag()->properties();
  Info info;
  for (const auto& [id, key] : Info{{"INAM", "TITLE"},
                                    {"IART", "ARTIST"},
                                    {"IPRD", "ALBUM"},
                                    {"ICRD", "DATE"},
                                    {"IGNR", "GENRE"},
                                    {"ICMT", "COMMENT"},
                                    {"ITRK", "TRACKNUMBER"},
                                    {"ISFT", "ENCODING"}}) {
    if (read.contains(key)) info.emplace_back(id, read[key].toString().to8Bit(true));
  }
  return info;
}

enum class Id3 { kNone, kCopied, kMade };
struct Case {
  const char* name;
  const char* fixture;
  Props v2, ape, v1;  // each kind of tag is written when it has fields; ID3v2 gets a picture too
  TagLib::ID3v2::Version version;
  enum Patch { kAsSaved, kLie, kFooter } patch;  // ID3v2 header: more bytes than the file; a footer
  Info info;
  Id3 id3;
};

TEST(SourceTagsTest, TagsOfEachKind) {
  using TagLib::ID3v2::v3, TagLib::ID3v2::v4;
  using enum Case::Patch;
  // clang-format off
  const Case kCases[] = {
      {"id3v2.3", "notag_cbr44.mp3",
       {{"TITLE", "Song"}, {"ARTIST", "Band"}, {"ALBUM", "Disc"}, {"DATE", "2001"},
        {"GENRE", "Rock"}, {"COMMENT", "Note"}, {"TRACKNUMBER", "3/12"},
        {"ENCODEDBY", "Someone"}, {"ENCODING", "LAME"}}, {}, {}, v3, kAsSaved,
       {{"INAM", "Song"}, {"IART", "Band"}, {"IPRD", "Disc"}, {"ICRD", "2001"}, {"IGNR", "Rock"},
        {"ICMT", "Note"}, {"ITRK", "3/12"}, {"ISFT", "LAME"}}, Id3::kCopied},
      {"id3v2.4 unicode", "notag_cbr44.mp3",
       {{"TITLE", kUnicode}, {"DATE", "2004-05-06"}, {"ENCODEDBY", "Someone"}}, {}, {},
       v4, kAsSaved,
       {{"INAM", kUnicode}, {"ICRD", "2004-05-06"}, {"ISFT", "Someone"}}, Id3::kCopied},
      {"id3v2.4 footer", "notag_cbr44.mp3", {{"TITLE", "Foot"}}, {}, {}, v4, kFooter,
       {{"INAM", "Foot"}}, Id3::kCopied},
      {"id3v1 only", "notag_cbr44.mp3", {}, {},
       {{"TITLE", "Old"}, {"ARTIST", "Band"}, {"DATE", "1999"}, {"TRACKNUMBER", "7"},
        {"GENRE", "Blues"}}, v4, kAsSaved,
       {{"INAM", "Old"}, {"IART", "Band"}, {"ICRD", "1999"}, {"IGNR", "Blues"}, {"ITRK", "7"}},
       Id3::kMade},
      {"ape only", "notag_cbr44.mp3", {},
       {{"TITLE", kUnicode}, {"DATE", "2010"}, {"TRACKNUMBER", "3/12"}, {"TOOL", "Enc 2"}}, {},
       v4, kAsSaved, {{"INAM", kUnicode}, {"ICRD", "2010"}, {"ITRK", "3/12"}, {"ISFT", "Enc 2"}},
       Id3::kMade},
      {"v2 over ape over v1", "notag_cbr44.mp3", {{"TITLE", "Two"}},
       {{"TITLE", "ApeTitle"}, {"ARTIST", "ApeBand"}}, {{"TITLE", "One"}, {"ALBUM", "OneAlbum"}},
       v4, kAsSaved, {{"INAM", "Two"}, {"IART", "ApeBand"}, {"IPRD", "OneAlbum"}}, Id3::kCopied},
      {"lying v2 size", "notag_cbr44.mp3", {{"TITLE", "Lie"}}, {}, {}, v4, kLie,
       {{"INAM", "Lie"}}, Id3::kMade},
      {"no tags", "notag_cbr44.mp3", {}, {}, {}, v4, kAsSaved, {}, Id3::kNone},
      {"riff wrapped", "mp3_in_wav.wav", {}, {}, {{"TITLE", "X"}}, v4, kAsSaved, {}, Id3::kNone},
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    const fs::path mp3 = dir / "source.mp3";
    fs::copy_file(test::Fixture(c.fixture), mp3);
    {
      File file(mp3.c_str(), false);
      if (!c.v2.empty()) {
        file.ID3v2Tag(true)->setProperties(Map(c.v2));
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setPicture(TagLib::ByteVector(kPicture.data(), unsigned(kPicture.size())));
        file.ID3v2Tag()->addFrame(picture);
      }
      if (!c.ape.empty()) file.APETag(true)->setProperties(Map(c.ape));
      if (!c.v1.empty()) file.ID3v1Tag(true)->setProperties(Map(c.v1));
      const int types = (c.v2.empty() ? 0 : File::ID3v2) | (c.ape.empty() ? 0 : File::APE) |
                        (c.v1.empty() ? 0 : File::ID3v1);
      if (types) {
        ASSERT_TRUE(
            file.save(types, TagLib::File::StripOthers, c.version, TagLib::File::DoNotDuplicate));
      }
    }
    std::string bytes = ReadAll(mp3);
    if (c.patch == kLie) bytes.replace(6, 4, "\x7F\x7F\x7F\x7F");
    if (c.patch == kFooter) {
      bytes.insert(DeclaredBytes(bytes), "3DI" + bytes.substr(3, 7));
      bytes[5] |= 0x10;
    }
    WriteAll(mp3, bytes);

    const SourceTags tags = ReadSourceTags(mp3);
    EXPECT_EQ(tags.info, c.info);
    EXPECT_EQ(tags.Empty(), c.id3 == Id3::kNone);
    if (c.id3 != Id3::kNone) {
      EXPECT_EQ(DeclaredBytes(tags.id3v2), tags.id3v2.size());
    }
    if (c.id3 == Id3::kCopied) {
      EXPECT_GT(tags.id3v2.size(), kPicture.size());
      EXPECT_EQ(std::string(tags.id3v2.begin(), tags.id3v2.end()),
                ReadAll(mp3).substr(0, tags.id3v2.size()));
    } else if (c.id3 == Id3::kMade) {
      EXPECT_EQ(std::string(tags.id3v2.begin(), tags.id3v2.end()).substr(0, 4), "ID3\x04");
      EXPECT_EQ(ReadBackFromWave(dir / "back.wav", tags.id3v2), c.info);
    }
  }
}

// A file cut anywhere in or just past its ID3v2 tag never yields a tag that claims more bytes
// than it holds; once the whole tag is there, it is copied. No fixture, junk or damaged, harms.
TEST(SourceTagsTest, CutTagsAndFixtures) {
  test::ScratchDir dir;
  const fs::path mp3 = dir / "source.mp3";
  fs::copy_file(test::Fixture("notag_cbr44.mp3"), mp3);
  {
    File file(mp3.c_str(), false);
    file.ID3v2Tag(true)->setTitle("Cut");
    ASSERT_TRUE(file.save(File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3));
  }
  const std::string whole = ReadAll(mp3);
  const std::size_t tagBytes = ReadSourceTags(mp3).id3v2.size();
  for (std::size_t size = 0; size < tagBytes + 64; size += 7) {
    WriteAll(mp3, whole.substr(0, size));
    const std::vector<char> id3 = ReadSourceTags(mp3).id3v2;
    if (!id3.empty()) {
      EXPECT_EQ(DeclaredBytes(id3), id3.size()) << size;
    }
    if (size >= tagBytes) {
      EXPECT_EQ(std::string(id3.begin(), id3.end()), whole.substr(0, tagBytes));
    }
  }
  for (const auto& entry : fs::directory_iterator(QD_MP3_FIXTURES)) {
    const std::vector<char> id3 = ReadSourceTags(entry.path()).id3v2;
    if (!id3.empty()) {
      EXPECT_EQ(DeclaredBytes(id3), id3.size()) << entry.path();
    }
  }
  const SourceTags big = ReadSourceTags(test::Fixture("id3v2_big.mp3"));
  EXPECT_GT(big.id3v2.size(), 300000u);
  EXPECT_EQ(big.info.front(), Info::value_type("INAM", "Big tag"));
}

}  // namespace
}  // namespace cli
