// A file cut short keeps its LAME header, which announces far more frames than the file holds.
// The encoder delay at its start is known all the same and is trimmed; the end padding is only
// trimmed when the end is there. mpg123 decodes such files the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "mpegdec/MpegParse.h"
#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

bool haveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> littleEndian32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// A Lyrics3v2 tag, an APEv2 tag with header and footer, and optionally an ID3v1 tag.
std::vector<uint8_t> trailingTags(bool id3v1) {
  const std::string fields = "IND00003110LYR00011[00:01]Hello";
  const std::string lyrics = "LYRICSBEGIN" + fields;
  char size[7];
  std::snprintf(size, sizeof size, "%06zu", lyrics.size());
  std::vector<uint8_t> out(lyrics.begin(), lyrics.end());
  out.insert(out.end(), size, size + 6);
  for (char c : std::string("LYRICS200")) out.push_back(uint8_t(c));
  std::vector<uint8_t> items = littleEndian32(8);
  for (uint8_t b : littleEndian32(0)) items.push_back(b);
  for (char c : std::string("Title\0Cut song", 14)) items.push_back(uint8_t(c));
  const auto apeHeader = [&](uint32_t flags) {
    std::vector<uint8_t> h = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'};
    for (uint32_t v : {2000u, uint32_t(items.size() + 32), 1u, flags}) {
      for (uint8_t b : littleEndian32(v)) h.push_back(b);
    }
    h.resize(32, 0);
    return h;
  };
  for (uint8_t b : apeHeader(0xA0000000u)) out.push_back(b);
  out.insert(out.end(), items.begin(), items.end());
  for (uint8_t b : apeHeader(0x80000000u)) out.push_back(b);
  if (id3v1) {
    out.push_back('T'), out.push_back('A'), out.push_back('G');
    out.resize(out.size() + 125, 0);
  }
  return out;
}

std::vector<int16_t> decodePath(const std::string& path) {
  Instance instance;
  EXPECT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_OK) << path;
  EXPECT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK) << path;
  const Decoded decoded = readToEnd(instance.get());
  EXPECT_EQ(decoded.error, 0) << path;
  return decoded.samples;
}

TEST(MpegDecGapless, CutFileLosesItsEncoderDelayAsWithMpg123) {
  if (!haveTool("sox") || !haveTool("lame") || !haveMpg123()) {
    GTEST_SKIP() << "needs sox, lame and mpg123";
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("mpegdec-cut-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string wav = (dir / "x.wav").string(), mp3 = (dir / "x.mp3").string();
  ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 '" + wav + "' synth 5 sine 440 && lame --silent '" +
                         wav + "' '" + mp3 + "'")
                            .c_str()),
            0);
  // The complete file: delay and padding trimmed, exactly the 5 s that were encoded.
  const auto whole = decodePath(mp3);
  EXPECT_EQ(whole.size(), size_t(5 * 44100 * 2));

  const auto bytes = fileBytes(mp3);
  const struct {
    const char* name;
    size_t bytes;
  } cuts[] = {
      {"cut in the middle", 40000},
      {"cut after a few frames", 5000},
      {"cut two frames before the end", bytes.size() - 836},
  };
  for (const auto& cut : cuts) {
    const std::string path = (dir / "cut.mp3").string();
    writeFile(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(cut.bytes)));
    const auto ours = decodePath(path);
    const auto reference = mpg123DecodeFile(path);
    ASSERT_TRUE(reference) << cut.name;
    EXPECT_EQ(ours.size(), reference->samples.size()) << cut.name;
    EXPECT_TRUE(ours == reference->samples) << cut.name << ": PCM differs from mpg123's";
    // The same start as the complete file: the lead-in is gone from both.
    ASSERT_LE(ours.size(), whole.size()) << cut.name;
    EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + ptrdiff_t(ours.size() / 2), whole.begin()))
        << cut.name;
  }

  // Cut in the middle of a frame, then tags: Lyrics3v2 and APEv2, with or without ID3v1 after.
  // The tags are no audio: the delay goes as mpg123 drops it and the PCM is that of the plainly
  // cut file. (mpg123 also decodes the cut frame, filled up with the tags' bytes: one frame
  // more, at the end.)
  const std::string plainPath = (dir / "plain.mp3").string();
  writeFile(plainPath, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 40000));
  const auto plain = decodePath(plainPath);
  for (const bool id3v1 : {false, true}) {
    SCOPED_TRACE(id3v1 ? "with ID3v1" : "without ID3v1");
    std::vector<uint8_t> tagged(bytes.begin(), bytes.begin() + 40000);
    const auto tags = trailingTags(id3v1);
    tagged.insert(tagged.end(), tags.begin(), tags.end());
    const std::string path = (dir / "tagged.mp3").string();
    writeFile(path, tagged);
    const auto ours = decodePath(path);
    EXPECT_TRUE(ours == plain);
    const auto reference = mpg123DecodeFile(path);
    ASSERT_TRUE(reference);
    ASSERT_GE(reference->samples.size(), ours.size());
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), reference->samples.begin()));
    EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 2000, whole.begin()));
  }
  std::filesystem::remove_all(dir);
}

// Streams of one, two or three frames, whole or followed by a frame cut short, decode as mpg123
// decodes them (nothing from a lone frame: the decoder needs the next header); a stray frame
// header in random bytes is still no audio.
TEST(MpegDecShortFiles, AFewFramesDecodeLikeMpg123) {
  if (!haveMpg123()) GTEST_SKIP() << "needs mpg123";
  const auto bytes = fileBytes(fixture("notag_cbr44.mp3"));  // no Xing frame
  std::vector<size_t> ends;                                  // of the first frames
  for (size_t at = 0; ends.size() < 4;) {
    const auto header = mpegdec::parseFrameHeader(&bytes[at]);
    ASSERT_TRUE(header);
    at += size_t(header->length);
    ends.push_back(at);
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("mpegdec-short-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "short.mp3").string();
  for (size_t frames = 1; frames <= 3; ++frames) {
    for (const size_t extra : {size_t(0), size_t(200)}) {
      SCOPED_TRACE(std::to_string(frames) + " frames and " + std::to_string(extra) + " bytes");
      writeFile(path, std::vector<uint8_t>(bytes.begin(),
                                           bytes.begin() + ptrdiff_t(ends[frames - 1] + extra)));
      const auto reference = mpg123DecodeFile(path);
      Instance instance;
      const int32_t rc = mpeg_SetFileName(instance.get(), path.c_str());
      if (!reference || reference->samples.empty()) {
        EXPECT_EQ(rc, MPEG_ERR_NOT_MPEG);
        continue;
      }
      ASSERT_EQ(rc, MPEG_OK);
      ASSERT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
      EXPECT_TRUE(readToEnd(instance.get()).samples == reference->samples);
      EXPECT_EQ(reference->samples.size(), frames * 1152 * 2);
    }
  }
  // Random bytes with one frame header whose frame, or the next, the end cuts short.
  std::mt19937 random(5);
  for (const size_t tail : {size_t(100), size_t(417 + 100)}) {
    std::vector<uint8_t> noise(3000 + tail);
    for (auto& b : noise) b = uint8_t(random() & 0x7F);  // no other sync bytes
    std::copy(bytes.begin(), bytes.begin() + 4, noise.begin() + 3000);
    writeFile(path, noise);
    Instance instance;
    EXPECT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_ERR_NOT_MPEG) << tail;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mpegdec_test
