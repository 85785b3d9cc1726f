#include "wave/RiffIO.h"

#include <gtest/gtest.h>

#include "WaveTestFiles.h"

namespace wave {
namespace {

using namespace wavetest;

// A read-write memory file over `block`, which must outlive it.
HMMIO OpenMemory(Bytes& block) {
  MMIOINFO info{};
  info.fccIOProc = platform::FOURCC_MEM;
  info.pchBuffer = reinterpret_cast<char*>(block.data());
  info.cchBuffer = std::int64_t(block.size());
  return platform::mmioOpen(nullptr, &info, platform::MMIO_READWRITE);
}

// The INFO list of the "LIST" chunk that `image` starts with.
std::unique_ptr<TInfoList> ParseInfo(Bytes image) {
  std::unique_ptr<TInfoList> list;
  EXPECT_EQ(InfoListCreate(list), kRiffOk);
  HMMIO h = OpenMemory(image);
  MMCKINFO ck{};
  EXPECT_EQ(platform::mmioDescend(h, &ck, nullptr, 0), 0);
  EXPECT_EQ(InfoListRead(h, ck, list.get()), kRiffOk);
  platform::mmioClose(h, 0);
  return list;
}

TInfoItem* Item(TInfoList* list, const char* id) {
  return InfoListFind(list, platform::mmioStringToFOURCC(id, 0));
}

// The bytes that `write` puts into a memory file.
template <typename Fn>
Bytes Written(Fn&& write) {
  Bytes block(256, 0xEE);
  HMMIO h = OpenMemory(block);
  write(h);
  block.resize(std::size_t(platform::mmioSeek(h, 0, platform::SEEK_FROM_CURRENT)));
  platform::mmioClose(h, 0);
  return block;
}

class RiffIOTest : public TempDirTest {};

TEST_F(RiffIOTest, OpenChecksTheFirstChunkAndItsForm) {
  const std::pair<Bytes, int> cases[] = {
      {Riff(PcmFmt(1, 8000, 8)), kRiffOk},
      {RiffSized(4, {}, "AVI "), kRiffCannotOpen},
      {Cat({Str("RIFX"), U32(4), Str("WAVE")}), kRiffCannotOpen},
      {ListInfo({}), kRiffCannotOpen},
      {Cat({Str("RIFF"), U32(4), Str("WA")}), kRiffCannotOpen},
      {{}, kRiffCannotOpen},
  };
  for (auto [image, code] : cases) {
    MMIOINFO memory{};
    memory.pchBuffer = reinterpret_cast<char*>(image.data());
    memory.cchBuffer = std::int64_t(image.size());
    const std::string path = Put("open.wav", image);
    for (const std::uint32_t mode : {kRiffModePath, kRiffModeMemory}) {
      SCOPED_TRACE(testing::Message() << image.size() << " bytes, mode " << mode);
      HMMIO h = nullptr;
      MMCKINFO riff{};
      ASSERT_EQ(OpenRiffFile(h, riff, mode, kFourCCWave, path, &memory), code);
      EXPECT_EQ(h == nullptr, code != kRiffOk);
      if (code != kRiffOk) continue;
      EXPECT_EQ(riff.cksize, image.size() - 8);
      EXPECT_EQ(platform::mmioSeek(h, 0, platform::SEEK_FROM_CURRENT), 12);
      EXPECT_EQ(CloseRiffFile(h), kRiffOk);
      EXPECT_EQ(h, nullptr);
    }
  }
}

TEST(RiffInfoListTest, ReadRecordsTextOffsetsAndKeepsUnknownIds) {
  const Bytes items = Cat({Chunk("INAM", Sz("ab")), Chunk("XYZW", Sz("zz")),
                           Chunk("ICMT", Sz("odd!")), Chunk("IART", Sz("me"))});
  auto list = ParseInfo(ListInfo(items));
  ASSERT_TRUE(list->raw);
  EXPECT_EQ(Bytes(list->raw->begin(), list->raw->end()), items);
  EXPECT_EQ(InfoListFind(list.get(), MakeFourCC('X', 'Y', 'Z', 'W')), nullptr);
  EXPECT_EQ(Item(list.get(), "INAM")->offset, 8);
  EXPECT_EQ(Item(list.get(), "ICMT")->offset, 32);
  EXPECT_EQ(Item(list.get(), "IART")->offset, 46);  // past the pad byte of "odd!"
  EXPECT_EQ(Item(list.get(), "ISFT")->offset, 0);
  EXPECT_EQ(InfoItemText(*list, *Item(list.get(), "ICMT")), "odd!");
  EXPECT_EQ(InfoItemText(*list, *Item(list.get(), "ISFT")), std::nullopt);
}

TEST(RiffInfoListTest, ParseStopsAtWhatRunsPastTheList) {
  const Bytes tails[] = {
      Cat({Str("ICMT"), U16(3)}),             // header cut by the list's end
      RawChunk("ICMT", 100, Sz("x")),         // text past the end
      RawChunk("ICMT", 0xFFFFFFFF, Sz("x")),  // size that wraps with its pad byte
      Cat({RawChunk("ICMT", 0xFFFFFFFE, {}), Chunk("IART", Sz("y"))}),
  };
  for (const Bytes& tail : tails) {
    auto list = ParseInfo(ListInfo(Cat({Chunk("INAM", Sz("ab")), tail})));
    EXPECT_EQ(InfoItemText(*list, *Item(list.get(), "INAM")), "ab");
    EXPECT_EQ(Item(list.get(), "ICMT")->offset, 0);
    EXPECT_EQ(Item(list.get(), "IART")->offset, 0);
  }
  EXPECT_FALSE(ParseInfo(RawChunk("LIST", 4, Str("INFO")))->raw);  // nothing after the type
}

TEST(RiffInfoListTest, WriteSkipsEmptyTextsAndPadsOddSizes) {
  std::unique_ptr<TInfoList> list;
  ASSERT_EQ(InfoListCreate(list), kRiffOk);
  EXPECT_EQ(Written([&](HMMIO h) { EXPECT_EQ(InfoListWrite(h, list.get()), kRiffOk); }), Bytes{});
  InfoListSetText(list.get(), Item(list.get(), "INAM"), 0, "ab", 0);
  InfoListSetText(list.get(), Item(list.get(), "ICMT"), 0, "abc", 0);
  const Bytes expected = Cat({Str("LIST"), U32(28), Str("INFO"), RawChunk("ICMT", 4, Sz("abc")),
                              RawChunk("INAM", 3, Sz("ab")), Bytes(1, 0)});
  EXPECT_EQ(Written([&](HMMIO h) { EXPECT_EQ(InfoListWrite(h, list.get()), kRiffOk); }), expected);
  EXPECT_EQ(InfoListWrittenSize(list.get()), expected.size());
  EXPECT_EQ(InfoListWrite(nullptr, list.get()), kRiffMissingArgument);
}

TEST(RiffInfoListTest, SetTextRules) {
  // INAM reads "ab" from the file, ICMT an empty text; the other items have nothing.
  auto list = ParseInfo(ListInfo(Cat({Chunk("INAM", Sz("ab")), Chunk("ICMT", Sz(""))})));
  constexpr std::int32_t kKeep = -1;  // pass the item's own offset
  const struct {
    const char* id;
    std::uint16_t state;
    std::optional<std::string> text;
    std::int32_t offset;
    std::optional<std::string> own;  // afterwards
    std::uint16_t wantState;
    std::int32_t wantOffset;
  } steps[] = {
      {"IART", 0, "", kKeep, std::nullopt, 0, 0},  // empty, nothing to hide: discarded
      {"IART", 0, "me", kKeep, "me", 0, 0},
      {"IART", 0, "me", kKeep, "me", 0, 0},
      {"IART", 4, std::nullopt, kKeep, std::nullopt, 4, 0},  // bit 2 without a text clears
      {"INAM", 0, "ab", kKeep, std::nullopt, 0, 8},          // same as the file's text
      {"INAM", 0, "cd", kKeep, "cd", 0, 8},
      {"INAM", 0, "ef", kKeep, "ef", 0, 8},
      {"INAM", 0, "", kKeep, std::nullopt, 2, 8},  // empty clears the own text...
      {"INAM", 0, "", kKeep, "", 2, 8},            // ...then hides the file's text
      {"ICMT", 0, "", kKeep, std::nullopt, 0, 20},
      {"ICMT", 2, "x", 99, "x", 0, 20},  // bit 1 keeps the offset
      {"ISRC", 0, std::nullopt, 77, std::nullopt, 0, 77},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(s.id) + " <- " + s.text.value_or("(none)"));
    TInfoItem* item = Item(list.get(), s.id);
    InfoListSetText(list.get(), item, s.state, s.text, s.offset == kKeep ? item->offset : s.offset);
    EXPECT_EQ(item->ownText, s.own);
    EXPECT_EQ(item->state, s.wantState);
    EXPECT_EQ(item->offset, s.wantOffset);
  }
  // INAM is hidden; only ICMT is written.
  EXPECT_EQ(Written([&](HMMIO h) { InfoListWrite(h, list.get()); }),
            Cat({Str("LIST"), U32(14), Str("INFO"), Chunk("ICMT", Sz("x"))}));
}

TEST(RiffDispListTest, ReadKeepsItemsAndWriteKeepsTextsAndBitmaps) {
  // A bitmap header saying 40 + 4 image bytes + 1 colour; 4 bytes more are not part of it.
  const Bytes bitmap = Cat({U32(40), U32(2), U32(2), U16(1), U16(8), U32(0), U32(4), U32(0), U32(0),
                            U32(1), U32(0), Ramp(12)});
  const auto disp = [](std::uint32_t type, const Bytes& data) {
    return Chunk("DISP", Cat({U32(type), data}));
  };
  Bytes image = Cat({disp(1, Sz("caption")), disp(2, Str("zz")), disp(8, bitmap),
                     RawChunk("DISP", 4, U32(1)), disp(1, Sz("")), disp(8, Ramp(20))});
  std::unique_ptr<TDispList> list;
  ASSERT_EQ(DispListCreate(list), kRiffOk);
  HMMIO h = OpenMemory(image);
  for (MMCKINFO ck{}; platform::mmioDescend(h, &ck, nullptr, 0) == 0;) {
    ASSERT_EQ(DispListRead(h, ck, list.get()), kRiffOk);
    ASSERT_EQ(platform::mmioAscend(h, &ck, 0), 0);
  }
  platform::mmioClose(h, 0);
  ASSERT_EQ(list->items.size(), 5u);  // the chunk without data is ignored
  EXPECT_EQ(list->items[2].type, kDispBitmap);
  EXPECT_EQ(list->items[2].data, std::vector<char>(bitmap.begin(), bitmap.end()));

  // Type 2, an empty text and a bitmap shorter than its header are dropped.
  const Bytes kept = Cat({disp(1, Sz("caption")), disp(8, Slice(bitmap, 0, 48))});
  EXPECT_EQ(Written([&](HMMIO w) { EXPECT_EQ(DispListWrite(w, list.get()), kRiffOk); }), kept);
  EXPECT_EQ(DispListWrittenSize(list.get()), kept.size());
  // A withdrawn item goes; a replacement counts instead of the data read.
  list->items[0].state = kDispWithdrawn;
  list->items[3].replacement = std::vector<char>{'n', 'e', 'w', 0};
  EXPECT_EQ(Written([&](HMMIO w) { DispListWrite(w, list.get()); }),
            Cat({disp(8, Slice(bitmap, 0, 48)), disp(1, Sz("new"))}));
}

}  // namespace
}  // namespace wave
