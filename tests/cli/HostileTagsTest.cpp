// Tags built to hurt: compressed frames that inflate to far more than they hold or than they
// declare, huge pictures and padding, sizes that lie, an extended header. The reading stays
// within its caps, says what it left out, and the conversion writes a sound file.
#include <gtest/gtest.h>
#include <taglib/wavfile.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>

#include "cli/FileConverter.h"
#include "cli/Id3Scan.h"
#include "cli/LibraryMessages.h"
#include "cli/SourceTags.h"
#include "tests/cli/CliTestSupport.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;
using Info = std::vector<std::pair<std::string, std::string>>;

std::string BigEndian32(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string Syncsafe(std::uint32_t v) {
  return {char(v >> 21 & 0x7F), char(v >> 14 & 0x7F), char(v >> 7 & 0x7F), char(v & 0x7F)};
}

using test::RiffChunk;
// A WAVE file of 8 kHz mono 16-bit PCM with `data` and then `chunks`.
std::string Wave(const std::string& data, const std::string& chunks) {
  return test::WaveFile(1, 1, 8000, 16, 2, data, chunks);
}

// An ID3v2 tag of `version` with `flags` around `body`.
std::string Tag(int version, unsigned char flags, const std::string& body) {
  return std::string("ID3") + char(version) + '\0' + char(flags) +
         Syncsafe(std::uint32_t(body.size())) + body;
}
// A frame of version 2.3 (plain size) or 2.4 (syncsafe size).
std::string Frame(int version, const std::string& id, const std::string& data,
                  unsigned char format = 0) {
  const auto size = std::uint32_t(data.size());
  return id + (version == 3 ? BigEndian32(size) : Syncsafe(size)) + '\0' + char(format) + data;
}
// A text frame's data: Latin-1 (0) or UTF-8 (3) text.
std::string Text(const std::string& text, char encoding = 0) {
  return encoding + text;
}

// `bytes` bytes of `text` repeated, zlib-compressed a block at a time.
std::string Deflated(const std::string& text, std::size_t bytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, Z_BEST_COMPRESSION), Z_OK);
  std::string block;
  while (block.size() < (1u << 16)) block += text;
  std::string out;
  std::vector<char> room(1 << 16);
  for (std::size_t done = 0; done < bytes || z.avail_in > 0;) {
    if (z.avail_in == 0 && done < bytes) {
      const std::size_t n = std::min(block.size(), bytes - done);
      z.next_in = reinterpret_cast<Bytef*>(block.data());
      z.avail_in = uInt(n);
      done += n;
    }
    const bool last = done == bytes;
    do {
      z.next_out = reinterpret_cast<Bytef*>(room.data());
      z.avail_out = uInt(room.size());
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      out.append(room.data(), room.size() - z.avail_out);
    } while (z.avail_out == 0);
    if (last) break;
  }
  deflateEnd(&z);
  return out;
}

// Each 0xFF followed by a 0x00, as unsynchronisation writes it.
std::string Unsynchronised(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    out += c;
    if (c == '\xFF') out += '\0';
  }
  return out;
}

// A version 2.3 frame compressed with zlib, declaring `declared` bytes inflated.
std::string Compressed23(const std::string& id, const std::string& deflated,
                         std::uint32_t declared) {
  return Frame(3, id, BigEndian32(declared) + deflated, 0x80);
}

std::string Mp3Audio() {
  return ReadAll(test::Fixture("notag_cbr44.mp3"));
}

bool HasNotice(const SourceTags& tags, const std::string& part) {
  return std::any_of(tags.notices.begin(), tags.notices.end(),
                     [&](const std::string& n) { return n.find(part) != std::string::npos; });
}

std::string Text(const SourceTags& tags, const std::string& id) {
  for (const auto& [key, text] : tags.info)
    if (key == id) return text;
  return {};
}

TEST(HostileTagsTest, EachCapHoldsAndTheRestIsKept) {
  const std::string title = Frame(3, "TIT2", Text("Kept"));
  const std::string artist = Frame(3, "TPE1", Text("Band"));
  const std::string bigPicture =
      Frame(3, "APIC", std::string("\0image/png\0\3\0", 13) + std::string(13 << 20, 'P'));
  const std::string smallPicture =
      Frame(3, "APIC", std::string("\0image/png\0\3\0", 13) + std::string(1000, 'p'));
  const std::string inflated =
      Compressed23("TALB", Deflated(Text("Album"), 6), 6);  // a sound compressed frame
  struct Case {
    const char* name;
    std::string tag;
    Info info;
    const char* notice;  // a part of the notice; null for none
    enum { kRaw, kKept, kNone } id3;
  };
  // clang-format off
  const Case cases[] = {
      {"sound compressed frame", Tag(3, 0, title + inflated + artist),
       {{"INAM", "Kept"}, {"IART", "Band"}, {"IPRD", "Album"}}, nullptr, Case::kRaw},
      {"zlib bomb over the cap", Tag(3, 0,
           Compressed23("TIT2", Deflated(Text("A"), 64 << 20), 64 << 20) + artist),
       {{"IART", "Band"}}, "TIT2 left out: it inflates to 67108864 bytes", Case::kKept},
      {"bomb that declares little", Tag(3, 0,
           Compressed23("TIT2", Deflated(Text("B"), 32 << 20), 100) + artist),
       {{"IART", "Band"}}, "does not inflate to its declared 100 bytes", Case::kKept},
      {"huge picture", Tag(3, 0, title + bigPicture + artist),
       {{"INAM", "Kept"}, {"IART", "Band"}}, "APIC left out: 13631501 bytes", Case::kKept},
      {"huge padding", Tag(3, 0, title + smallPicture + std::string(20 << 20, '\0')),
       {{"INAM", "Kept"}}, "over the 16 MiB cap", Case::kKept},
      {"frame size past the tag", Tag(3, 0, title + artist.substr(0, 4) + BigEndian32(1 << 30) +
                                             artist.substr(8)),
       {{"INAM", "Kept"}}, "runs past the end of the tag", Case::kKept},
      {"v2.3 extended header", Tag(3, 0x40, BigEndian32(6) + std::string(6, '\0') + title +
                                               smallPicture),
       {{"INAM", "Kept"}}, nullptr, Case::kRaw},
      {"v2.4 extended header, unsynchronised compressed frame", Tag(4, 0x40,
           Syncsafe(6) + std::string("\1\0", 2) +
           Frame(4, "TIT2", Syncsafe(6) + Unsynchronised(Deflated(Text("T\xFFtle"), 6)),
                 0x08 | 0x02 | 0x01) + artist),
       {{"INAM", "T\xC3\xBFtle"}, {"IART", "Band"}}, nullptr, Case::kRaw},
      {"text over 64 KiB", Tag(4, 0, Frame(4, "TIT2", Text(std::string(65535, 'x') + "\xC3\xA7yz", 3))),
       {{"INAM", std::string(65535, 'x')}}, "INAM text of 65539 bytes cut to 65535", Case::kRaw},
  };
  // clang-format on
  test::ScratchDir dir;
  const std::string audio = Mp3Audio();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path mp3 = dir / "hostile.mp3";
    WriteAll(mp3, c.tag + audio);
    const SourceTags tags = ReadSourceTags(mp3);
    for (const auto& [id, text] : c.info) EXPECT_EQ(Text(tags, id), text) << id;
    if (c.notice) {
      EXPECT_TRUE(HasNotice(tags, c.notice)) << ::testing::PrintToString(tags.notices);
    } else {
      EXPECT_TRUE(tags.notices.empty()) << ::testing::PrintToString(tags.notices);
    }
    const std::string id3(tags.id3v2.begin(), tags.id3v2.end());
    EXPECT_LE(id3.size(), kMaxId3TagBytes);
    if (c.id3 == Case::kRaw) {
      EXPECT_EQ(id3, c.tag);
    }
    if (c.id3 == Case::kKept) {
      // The frames within the caps, under a header of the same version that a reader takes.
      ASSERT_GE(id3.size(), 10u);
      EXPECT_EQ(id3.substr(0, 4), c.tag.substr(0, 4));
      const fs::path wav = dir / "back.wav";
      WriteAll(wav, Wave("", RiffChunk("id3 ", id3)));
      TagLib::RIFF::WAV::File back(wav.c_str(), false);
      ASSERT_TRUE(back.hasID3v2Tag());
      for (const auto& [id, text] : c.info) {
        const TagLib::String read =
            id == "IART" ? back.ID3v2Tag()->artist() : back.ID3v2Tag()->title();
        if (id == "IART" || id == "INAM") {
          EXPECT_EQ(read.to8Bit(true), text) << id;
        }
      }
    }
  }
}

// A converted bomb: the notice comes back with the result and the WAV is whole, its INFO list
// without the title the bomb held.
TEST(HostileTagsTest, ConversionGoesOnWithANotice) {
  InstallLibraryMessageReporter();
  test::ScratchDir dir;
  const fs::path mp3 = dir / "bomb.mp3";
  WriteAll(mp3, Tag(3, 0,
                    Compressed23("TIT2", Deflated(Text("A"), 256 << 20), 256 << 20) +
                        Frame(3, "TPE1", Text("Band"))) +
                    Mp3Audio());
  FileConverter converter;
  const ConversionResult result = converter.Convert(mp3, dir / "bomb.WAV");
  ASSERT_EQ(result.status, ConversionResult::kConverted) << result.reason;
  ASSERT_EQ(result.notices.size(), 1u);
  EXPECT_NE(result.notices[0].find("TIT2 left out"), std::string::npos) << result.notices[0];
  EXPECT_TRUE(test::IsCompletePcmWav(dir / "bomb.WAV"));
  TagLib::RIFF::WAV::File back((dir / "bomb.WAV").c_str(), false);
  ASSERT_TRUE(back.isValid());
  EXPECT_EQ(back.InfoTag()->artist().to8Bit(true), "Band");
  EXPECT_TRUE(back.InfoTag()->title().isEmpty());
  EXPECT_TRUE(back.ID3v2Tag()->title().isEmpty());
}

// A WAVE source's own tags over the caps: what is over is left out or cut, with a notice, and the
// conversion goes on.
TEST(HostileTagsTest, AWaveSourceKeepsWithinTheCaps) {
  InstallLibraryMessageReporter();
  const std::string overList(kMaxInfoListBytes, 'x');
  const std::string longTitle(kMaxInfoTextBytes + 100, 't');
  struct Row {
    const char* name;
    std::string chunks;
    const char* notice;
    std::size_t titleBytes;
  };
  const Row rows[] = {
      {"an INFO list over its cap",
       RiffChunk("LIST", "INFO" + RiffChunk("INAM", "Lost") + RiffChunk("ICMT", overList)),
       "its INFO list of 16777240 bytes is larger than 16 MiB and was left out", 0},
      {"a text over its cap", RiffChunk("LIST", "INFO" + RiffChunk("INAM", longTitle + '\0')),
       "its INAM text of 65636 bytes was cut to 65536", kMaxInfoTextBytes},
      {"an \"id3 \" chunk over its cap",
       RiffChunk("LIST", "INFO" + RiffChunk("INAM", "Kept")) +
           RiffChunk("id3 ", Tag(3, 0, std::string(kMaxId3TagBytes, '\0'))),
       "its \"id3 \" chunk is larger than 16 MiB and was left out", 4},
  };
  test::ScratchDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteAll(dir / "in.wav", Wave(std::string(16000, '\1'), row.chunks));
    FileConverter converter;
    converter.SetExistingFiles(ExistingFiles::kReplace);
    const ConversionResult result = converter.Convert(dir / "in.wav", dir / "out.WAV");
    ASSERT_EQ(result.status, ConversionResult::kConverted) << result.reason;
    EXPECT_EQ(result.notices, std::vector<std::string>{row.notice});
    TagLib::RIFF::WAV::File back((dir / "out.WAV").c_str(), false);
    ASSERT_TRUE(back.isValid());
    EXPECT_EQ(back.InfoTag()->title().size(), row.titleBytes);
    EXPECT_FALSE(back.hasID3v2Tag());
  }
}

}  // namespace
}  // namespace cli
