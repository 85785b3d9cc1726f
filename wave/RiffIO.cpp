#include "wave/RiffIO.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/ByteOrder.h"

namespace wave {

using namespace platform;

const std::array<InfoTableRow, kInfoTableSize> kInfoTable = {{
    {"IARL", "Archival Location"}, {"IART", "Artist"},     {"ICMS", "Commissioned"},
    {"ICMT", "Comments"},          {"ICOP", "Copyright"},  {"ICRD", "Creation date"},
    {"ICRP", "Cropped"},           {"IDIM", "Dimensions"}, {"IDPI", "Dots Per Inch"},
    {"IENG", "Engineer"},          {"IGNR", "Genre"},      {"IKEY", "Keywords"},
    {"ILGT", "Lightness"},         {"IMED", "Medium"},     {"INAM", "Name"},
    {"IPLT", "Palette Setting"},   {"IPRD", "Product"},    {"ISBJ", "Subject"},
    {"ISFT", "Software"},          {"ISHP", "Sharpness"},  {"ISRC", "Source"},
    {"ISRF", "Source Form"},       {"ITCH", "Technician"}, {"ITRK", "Track"},
}};

namespace {

constexpr std::uint32_t kChunkHeaderSize = 8;

bool WriteAll(HMMIO handle, const void* data, std::int64_t count) {
  return mmioWrite(handle, data, count) == count;
}

// The bytes of a DISP item that count when the list is written, or none.
const std::vector<char>* DispDataThatCounts(const TDispItem& item) {
  if (item.replacement) return &*item.replacement;
  if (item.state == kDispWithdrawn) return nullptr;
  return &item.data;
}

// How many bytes of a kept DISP item are written after its type; 0 drops the item. Texts end
// with their terminating zero; bitmaps are header + image + colour table, as the bitmap header
// says, but never more than the item holds.
std::size_t DispWrittenLength(const TDispItem& item) {
  if (item.type != kDispText && item.type != kDispBitmap) return 0;
  const std::vector<char>* data = DispDataThatCounts(item);
  if (data == nullptr || data->empty() || (*data)[0] == 0) return 0;
  if (item.type == kDispText) {
    const auto zero = std::find(data->begin(), data->end(), '\0');
    return zero == data->end() ? data->size() : static_cast<std::size_t>(zero - data->begin()) + 1;
  }
  if (data->size() < 36) return 0;  // not even a whole bitmap header
  const std::uint64_t size = std::uint64_t{platform::ReadU32(data->data())} +
                             platform::ReadU32(data->data() + 20) +
                             4 * std::uint64_t{platform::ReadU32(data->data() + 32)};
  return static_cast<std::size_t>(std::min<std::uint64_t>(size, data->size()));
}

}  // namespace

// ---- files ----

int OpenRiffFile(HMMIO& handle, MMCKINFO& riff, std::uint32_t mode, std::uint32_t form,
                 const std::string& path, const MMIOINFO* memory) {
  handle = nullptr;
  if (mode == kRiffModeMemory) {
    if (memory == nullptr) return kRiffCannotOpen;
    MMIOINFO info = *memory;
    info.fccIOProc = FOURCC_MEM;
    info.adwInfo[0] = 0;  // the block cannot grow
    handle = mmioOpen(nullptr, &info, MMIO_ALLOCBUF);
  } else {
    // A file we may not write is opened for reading only; so is one that refuses writing.
    if (::access(path.c_str(), W_OK) != 0) {
      handle = mmioOpen(path.c_str(), nullptr, MMIO_ALLOCBUF);
    } else {
      handle = mmioOpen(path.c_str(), nullptr, MMIO_ALLOCBUF | MMIO_READWRITE);
      if (handle == nullptr) handle = mmioOpen(path.c_str(), nullptr, MMIO_ALLOCBUF);
    }
  }
  if (handle == nullptr) return kRiffCannotOpen;
  riff = MMCKINFO{};
  bool ok = mmioDescend(handle, &riff, nullptr, 0) == 0;
  if (ok && riff.ckid == kFourCCRf64) {
    // The file layer reads the form type of "RIFF" chunks only.
    char type[4];
    ok = mmioRead(handle, type, 4) == 4;
    riff.fccType = ok ? platform::ReadU32(type) : 0;
  }
  if (!ok || (riff.ckid != kFourCCRiff && riff.ckid != kFourCCRf64) || riff.fccType != form) {
    CloseRiffFile(handle);
    return kRiffCannotOpen;
  }
  return kRiffOk;
}

int CloseRiffFile(HMMIO& handle) {
  if (handle == nullptr) return kRiffOk;
  const int result = mmioClose(handle, 0) == 0 ? kRiffOk : kRiffIoFailed;
  handle = nullptr;
  return result;
}

bool RiffNameValid(const std::string& path) {
  return mmioParseName(path, nullptr);
}
bool RiffFileExists(const std::string& path) {
  return mmioFileExists(path);
}
bool RiffFileDelete(const std::string& path) {
  return mmioDeleteFile(path);
}

// ---- INFO list ----

int InfoListCreate(std::unique_ptr<TInfoList>& list) {
  try {
    list = std::make_unique<TInfoList>();
    list->items.resize(kInfoTableSize);
    for (std::size_t i = 0; i < kInfoTableSize; ++i) {
      list->items[i].index = static_cast<std::uint16_t>(i);
    }
  } catch (const std::bad_alloc&) {
    list.reset();
    return kRiffNoMemory;
  }
  return kRiffOk;
}

int InfoListRead(HMMIO handle, const MMCKINFO& chunk, TInfoList* list) {
  if (handle == nullptr || list == nullptr) return kRiffMissingArgument;
  const std::int64_t n = static_cast<std::int64_t>(chunk.cksize) - 4;
  // Only the first INFO list of a file counts: the offsets of its items point into its bytes.
  if (n <= 0 || list->raw) return kRiffOk;
  std::vector<char> raw;
  try {
    raw.resize(static_cast<std::size_t>(n));
  } catch (const std::bad_alloc&) {
    return kRiffNoMemory;
  }
  if (mmioRead(handle, raw.data(), n) != n) return kRiffIoFailed;
  list->raw = std::move(raw);
  const std::vector<char>& bytes = *list->raw;
  // Sub-chunks: id, size, text, pad byte for odd sizes. A header or a text that runs past the
  // list ends the parse; what was found before it stands.
  std::int64_t o = 0;
  while (o + static_cast<std::int64_t>(kChunkHeaderSize) <= n) {
    const std::uint32_t id = platform::ReadU32(bytes.data() + o);
    const std::uint32_t size = platform::ReadU32(bytes.data() + o + 4);
    o += kChunkHeaderSize;
    if (o + size > n) break;
    if (o > INT32_MAX) break;
    InfoListSetText(list, InfoListFind(list, id), kInfoStateRead, std::nullopt,
                    static_cast<std::int32_t>(o));
    o += size + (size & 1);
  }
  return kRiffOk;
}

TInfoItem* InfoListFind(TInfoList* list, std::uint32_t code) {
  if (list == nullptr) return nullptr;
  for (TInfoItem& item : list->items) {
    if (mmioStringToFOURCC(kInfoTable[item.index].id, 0) == code) return &item;
  }
  return nullptr;
}

std::optional<std::string> InfoItemText(const TInfoList& list, const TInfoItem& item) {
  if (item.ownText) return item.ownText;
  if (item.offset == 0 || !list.raw) return std::nullopt;
  const std::vector<char>& raw = *list.raw;
  if (static_cast<std::size_t>(item.offset) >= raw.size()) return std::string();
  const char* begin = raw.data() + item.offset;
  const char* end = std::find(begin, raw.data() + raw.size(), '\0');
  return std::string(begin, end);
}

void InfoListSetText(TInfoList* list, TInfoItem* item, std::uint16_t state,
                     std::optional<std::string> text, std::int32_t offset) {
  if (list == nullptr || item == nullptr) return;
  if ((state & 0x6) == 0) item->offset = offset;
  if (item->ownText) {
    if (text) {
      if (*text == *item->ownText) return;
      if (text->empty()) {
        item->ownText.reset();
        item->state = kInfoStateCleared;
      } else {
        item->ownText = std::move(text);
      }
    } else if (state & 0x4) {
      item->ownText.reset();
      item->state = state;
    }
    return;
  }
  if (!text) return;
  if (!list->raw || item->offset == 0) {
    if (!text->empty()) {
      item->ownText = std::move(text);
      item->state = state;
    }
    return;
  }
  const std::string rawText = InfoItemText(*list, *item).value_or(std::string());
  if (*text == rawText) return;
  // An empty own text hides the text read from the file when the list is written again.
  if (!text->empty() || !rawText.empty()) item->ownText = std::move(text);
}

namespace {
template <typename Fn>
void ForEachWrittenInfoItem(const TInfoList& list, Fn&& fn) {
  for (const TInfoItem& item : list.items) {
    const std::optional<std::string> text = InfoItemText(list, item);
    if (text && !text->empty()) {
      if (!fn(item, *text)) return;
    }
  }
}
}  // namespace

int InfoListWrite(HMMIO handle, const TInfoList* list) {
  if (handle == nullptr || list == nullptr) return kRiffMissingArgument;
  int result = kRiffOk;
  MMCKINFO listChunk{};
  bool created = false;
  ForEachWrittenInfoItem(*list, [&](const TInfoItem& item, const std::string& text) {
    if (!created) {
      listChunk.fccType = kFourCCInfo;
      listChunk.cksize = 0;
      if (mmioCreateChunk(handle, &listChunk, MMIO_CREATELIST) != 0) {
        result = kRiffIoFailed;
        return false;
      }
      created = true;
    }
    MMCKINFO sub{};
    sub.ckid = mmioStringToFOURCC(kInfoTable[item.index].id, 0);
    sub.cksize = static_cast<std::uint32_t>(text.size() + 1);
    if (mmioCreateChunk(handle, &sub, 0) != 0 ||
        !WriteAll(handle, text.c_str(), static_cast<std::int64_t>(text.size() + 1)) ||
        mmioAscend(handle, &sub, 0) != 0) {
      result = kRiffIoFailed;
      return false;
    }
    return true;
  });
  if (created && result == kRiffOk && mmioAscend(handle, &listChunk, 0) != 0) {
    result = kRiffIoFailed;
  }
  return result;
}

std::uint64_t InfoListWrittenSize(const TInfoList* list) {
  if (list == nullptr) return 0;
  std::uint64_t size = 0;
  ForEachWrittenInfoItem(*list, [&](const TInfoItem&, const std::string& text) {
    const std::uint64_t n = text.size() + 1;
    size += kChunkHeaderSize + n + (n & 1);
    return true;
  });
  return size == 0 ? 0 : size + kChunkHeaderSize + 4;
}

int InfoListFree(std::unique_ptr<TInfoList>& list) {
  if (!list) return kRiffMissingArgument;
  list.reset();
  return kRiffOk;
}

// ---- DISP list ----

int DispListCreate(std::unique_ptr<TDispList>& list) {
  try {
    list = std::make_unique<TDispList>();
  } catch (const std::bad_alloc&) {
    return kRiffNoMemory;
  }
  return kRiffOk;
}

int DispListRead(HMMIO handle, const MMCKINFO& chunk, TDispList* list) {
  if (list == nullptr) return kRiffMissingArgument;
  if (chunk.cksize < 5) return kRiffOk;  // no data after the type: ignored
  TDispItem item;
  char type[4];
  try {
    item.data.resize(chunk.cksize - 4);
  } catch (const std::bad_alloc&) {
    return kRiffNoMemory;
  }
  if (mmioRead(handle, type, 4) != 4) return kRiffIoFailed;
  const auto n = static_cast<std::int64_t>(item.data.size());
  if (mmioRead(handle, item.data.data(), n) != n) return kRiffIoFailed;
  item.type = platform::ReadU32(type);
  list->items.push_back(std::move(item));
  return kRiffOk;
}

int DispListWrite(HMMIO handle, const TDispList* list) {
  if (handle == nullptr || list == nullptr) return kRiffMissingArgument;
  for (const TDispItem& item : list->items) {
    const std::size_t length = DispWrittenLength(item);
    if (length == 0) continue;
    MMCKINFO chunk{};
    chunk.ckid = kFourCCDisp;
    const auto typeBytes = platform::U32Bytes(item.type);
    if (mmioCreateChunk(handle, &chunk, 0) != 0 || !WriteAll(handle, typeBytes.data(), 4) ||
        !WriteAll(handle, DispDataThatCounts(item)->data(), static_cast<std::int64_t>(length)) ||
        mmioAscend(handle, &chunk, 0) != 0) {
      return kRiffIoFailed;
    }
  }
  return kRiffOk;
}

std::uint64_t DispListWrittenSize(const TDispList* list) {
  if (list == nullptr) return 0;
  std::uint64_t size = 0;
  for (const TDispItem& item : list->items) {
    const std::uint64_t length = DispWrittenLength(item);
    if (length == 0) continue;
    size += kChunkHeaderSize + 4 + length + (length & 1);
  }
  return size;
}

void DispListFree(std::unique_ptr<TDispList>& list, bool freeHead) {
  if (!list) return;
  list->items.clear();
  if (freeHead) list.reset();
}

// ---- chunks kept as they are ----

int RiffChunksWrite(HMMIO handle, const std::vector<RiffChunk>& chunks) {
  if (handle == nullptr) return kRiffMissingArgument;
  for (const RiffChunk& chunk : chunks) {
    if (chunk.bytes.size() > 0xFFFFFFFFu) return kRiffIoFailed;
    MMCKINFO ck{};
    ck.ckid = chunk.id;
    ck.cksize = static_cast<std::uint32_t>(chunk.bytes.size());
    if (mmioCreateChunk(handle, &ck, 0) != 0 ||
        !WriteAll(handle, chunk.bytes.data(), static_cast<std::int64_t>(chunk.bytes.size())) ||
        mmioAscend(handle, &ck, 0) != 0) {
      return kRiffIoFailed;
    }
  }
  return kRiffOk;
}

std::uint64_t RiffChunksWrittenSize(const std::vector<RiffChunk>& chunks) {
  std::uint64_t size = 0;
  for (const RiffChunk& chunk : chunks) {
    size += kChunkHeaderSize + chunk.bytes.size() + (chunk.bytes.size() & 1);
  }
  return size;
}

}  // namespace wave
