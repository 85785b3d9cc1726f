// RIFF chunk I/O: opening RIFF files, name checks, and the two metadata lists that a wave file
// carries through a rewrite: the INFO list ("LIST"/"INFO" text sub-chunks) and the "DISP"
// chunks (display data).
// Threading: whoever owns the file handle; nothing here is shared.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Mmio.h"

namespace wave {

using platform::HMMIO;
using platform::MakeFourCC;
using platform::MMCKINFO;
using platform::MMIOINFO;

constexpr std::uint32_t kFourCCRiff = MakeFourCC('R', 'I', 'F', 'F');
constexpr std::uint32_t kFourCCWave = MakeFourCC('W', 'A', 'V', 'E');
constexpr std::uint32_t kFourCCFmt = MakeFourCC('f', 'm', 't', ' ');
constexpr std::uint32_t kFourCCData = MakeFourCC('d', 'a', 't', 'a');
constexpr std::uint32_t kFourCCFact = MakeFourCC('f', 'a', 'c', 't');
constexpr std::uint32_t kFourCCList = MakeFourCC('L', 'I', 'S', 'T');
constexpr std::uint32_t kFourCCInfo = MakeFourCC('I', 'N', 'F', 'O');
constexpr std::uint32_t kFourCCDisp = MakeFourCC('D', 'I', 'S', 'P');
// The 64-bit form of a RIFF file: "RF64" whose 32-bit sizes are 0xFFFFFFFF and whose true sizes
// are in the "ds64" chunk that comes first.
constexpr std::uint32_t kFourCCRf64 = MakeFourCC('R', 'F', '6', '4');
constexpr std::uint32_t kFourCCDs64 = MakeFourCC('d', 's', '6', '4');
constexpr std::uint32_t kFourCCId3 = MakeFourCC('i', 'd', '3', ' ');

// Result codes of this layer.
constexpr int kRiffOk = 0;
constexpr int kRiffMissingArgument = 2;
constexpr int kRiffIoFailed = 3;
constexpr int kRiffNoMemory = 4;
constexpr int kRiffCannotOpen = 106;

// How a RIFF file is named: by path (read/write as allowed) or by a memory description.
constexpr std::uint32_t kRiffModeNew = 0;
constexpr std::uint32_t kRiffModePath = 1;
constexpr std::uint32_t kRiffModeMemory = 4;

struct InfoTableRow {
  const char* id;
  const char* name;
};
// The 23 classic ids in alphabetical order, then "ITRK" (track number), which the command line
// carries over from a source's tags.
constexpr std::size_t kInfoTableSize = 24;
extern const std::array<InfoTableRow, kInfoTableSize> kInfoTable;

// Item states.
constexpr std::uint16_t kInfoStateRead = 0;
constexpr std::uint16_t kInfoStateCleared = 2;

struct TInfoItem {
  std::uint16_t index = 0;  // row of kInfoTable
  std::uint16_t state = kInfoStateRead;
  std::int32_t offset = 0;  // of the item's zero-terminated text in the raw bytes; 0 = none
  std::optional<std::string> ownText;
};

// One item per table row, in table order, plus the raw bytes of the list as read.
struct TInfoList {
  std::optional<std::vector<char>> raw;
  std::vector<TInfoItem> items;
};

constexpr std::uint32_t kDispText = 1;
constexpr std::uint32_t kDispBitmap = 8;
constexpr std::uint16_t kDispWithdrawn = 1;

struct TDispItem {
  std::uint32_t type = 0;  // clipboard format number
  std::uint16_t state = 0;
  std::vector<char> data;
  std::optional<std::vector<char>> replacement;
};

struct TDispList {
  std::vector<TDispItem> items;
};

// A chunk kept as it is: its id and its body (without header and pad byte).
struct RiffChunk {
  std::uint32_t id = 0;
  std::vector<char> bytes;
};

// Opens `path` (modes 0 and 1) or the memory block that `memory` describes (mode 4) and descends
// into its first chunk, which must be "RIFF" or "RF64" of form `form` (riff.ckid tells which). On
// success `handle` is positioned just after the form type and `riff` is filled; otherwise `handle`
// is null and the result 106.
int OpenRiffFile(HMMIO& handle, MMCKINFO& riff, std::uint32_t mode, std::uint32_t form,
                 const std::string& path, const MMIOINFO* memory);
// Closes `handle` when open and sets it to null. Returns 0, or 3 when buffered data could not
// be written.
int CloseRiffFile(HMMIO& handle);

bool RiffNameValid(const std::string& path);
bool RiffFileExists(const std::string& path);
bool RiffFileDelete(const std::string& path);

int InfoListCreate(std::unique_ptr<TInfoList>& list);
// Reads the body of a "LIST"/"INFO" chunk that `handle` has just descended into.
int InfoListRead(HMMIO handle, const MMCKINFO& chunk, TInfoList* list);
TInfoItem* InfoListFind(TInfoList* list, std::uint32_t code);
// Stores a text (nullopt = none) or an offset in `item`.
void InfoListSetText(TInfoList* list, TInfoItem* item, std::uint16_t state,
                     std::optional<std::string> text, std::int32_t offset);
// The item's text: its own text, else the text at its offset in the raw bytes, else none.
std::optional<std::string> InfoItemText(const TInfoList& list, const TInfoItem& item);
// Writes a "LIST"/"INFO" chunk with every item that has a non-empty text, at the current
// position; writes nothing when no item has one.
int InfoListWrite(HMMIO handle, const TInfoList* list);
// Bytes that InfoListWrite would write.
std::uint64_t InfoListWrittenSize(const TInfoList* list);
int InfoListFree(std::unique_ptr<TInfoList>& list);

int DispListCreate(std::unique_ptr<TDispList>& list);
// Reads one "DISP" chunk that `handle` has just descended into and appends it.
int DispListRead(HMMIO handle, const MMCKINFO& chunk, TDispList* list);
// Writes the kept text and bitmap items as "DISP" chunks at the current position.
int DispListWrite(HMMIO handle, const TDispList* list);
// Bytes that DispListWrite would write.
std::uint64_t DispListWrittenSize(const TDispList* list);
void DispListFree(std::unique_ptr<TDispList>& list, bool freeHead);

// Writes each chunk at the current position: header, body, and a zero pad byte after an odd
// body. kRiffIoFailed when one cannot be written or is too large for its 32-bit size field.
int RiffChunksWrite(HMMIO handle, const std::vector<RiffChunk>& chunks);
// Bytes that RiffChunksWrite would write.
std::uint64_t RiffChunksWrittenSize(const std::vector<RiffChunk>& chunks);

}  // namespace wave
