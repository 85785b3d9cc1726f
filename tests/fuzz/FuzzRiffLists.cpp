// The INFO and DISP list readers on arbitrary bytes. The input is a sequence of chunks (a RIFF
// chunk is entered, so whole WAVE files serve as inputs too); each "LIST"/"INFO" and "DISP"
// chunk is read into the lists from a memory handle, as the WAVE reader does. The lists are then
// written into a memory block of the size they announce and read back, which must give the same
// texts and display items.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wave/RiffIO.h"

namespace {

using namespace wave;

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_riff_lists: %s\n", what);
  std::abort();
}

HMMIO OpenMemory(const void* block, std::int64_t size, std::uint32_t flags) {
  MMIOINFO info{};
  info.fccIOProc = platform::FOURCC_MEM;
  info.pchBuffer = static_cast<char*>(const_cast<void*>(block));
  info.cchBuffer = size;
  return platform::mmioOpen(nullptr, &info, flags);
}

// Walks the chunks of `file` and reads the lists; false when a reader failed.
bool ReadLists(HMMIO file, std::int64_t size, TInfoList* info, TDispList* disp) {
  // Every chunk header moves the position on by 8 bytes at least.
  for (std::int64_t chunks = size / 8 + 1; chunks > 0; --chunks) {
    MMCKINFO ck{};
    if (platform::mmioDescend(file, &ck, nullptr, 0) != 0) return true;
    if (ck.ckid == kFourCCRiff) continue;  // the chunks inside follow the form type
    // A size that runs past the end is cut to the bytes there, as the WAVE reader does.
    if (ck.dwDataOffset + ck.cksize > static_cast<std::uint64_t>(size)) {
      ck.cksize = static_cast<std::uint32_t>(size - static_cast<std::int64_t>(ck.dwDataOffset));
    }
    int code = kRiffOk;
    if (ck.ckid == kFourCCList && ck.fccType == kFourCCInfo) {
      code = InfoListRead(file, ck, info);
    } else if (ck.ckid == kFourCCDisp) {
      code = DispListRead(file, ck, disp);
    }
    if (code != kRiffOk) return false;
    if (platform::mmioAscend(file, &ck, 0) != 0) return true;
  }
  return true;
}

std::string TextOf(const TInfoList& list, const TInfoItem& item) {
  return InfoItemText(list, item).value_or(std::string());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<TInfoList> info;
  std::unique_ptr<TDispList> disp;
  if (InfoListCreate(info) != kRiffOk || DispListCreate(disp) != kRiffOk) Fail("create failed");
  const auto length = static_cast<std::int64_t>(size);
  HMMIO in = OpenMemory(data, length, platform::MMIO_READ);
  if (in == nullptr) return 0;
  const bool read = ReadLists(in, length, info.get(), disp.get());
  platform::mmioClose(in, 0);
  if (!read) return 0;

  // Write both lists into a block of exactly the announced size, then read that block back.
  const std::uint64_t infoBytes = InfoListWrittenSize(info.get());
  const std::uint64_t dispBytes = DispListWrittenSize(disp.get());
  const std::uint64_t bytes = infoBytes + dispBytes;
  // Each of the 23 INFO texts and each DISP item is at most what was read, plus its headers.
  if (bytes > 24 * (std::uint64_t{size} + 24)) Fail("lists announce more bytes than were read");
  std::vector<std::uint8_t> image(static_cast<std::size_t>(bytes));
  HMMIO out = OpenMemory(image.data(), static_cast<std::int64_t>(bytes), platform::MMIO_READWRITE);
  if (out == nullptr) return 0;
  if (DispListWrite(out, disp.get()) != kRiffOk) Fail("DISP write failed");
  if (platform::mmioSeek(out, 0, platform::SEEK_FROM_CURRENT) !=
      static_cast<std::int64_t>(dispBytes)) {
    Fail("DISP list size differs from the announced size");
  }
  if (InfoListWrite(out, info.get()) != kRiffOk) Fail("INFO write failed");
  if (platform::mmioSeek(out, 0, platform::SEEK_FROM_CURRENT) != static_cast<std::int64_t>(bytes)) {
    Fail("INFO list size differs from the announced size");
  }
  platform::mmioClose(out, 0);

  std::unique_ptr<TInfoList> info2;
  std::unique_ptr<TDispList> disp2;
  InfoListCreate(info2);
  DispListCreate(disp2);
  HMMIO back = OpenMemory(image.data(), static_cast<std::int64_t>(bytes), platform::MMIO_READ);
  if (back == nullptr ||
      !ReadLists(back, static_cast<std::int64_t>(bytes), info2.get(), disp2.get())) {
    Fail("the written lists cannot be read");
  }
  platform::mmioClose(back, 0);

  for (std::size_t i = 0; i < kInfoTableSize; ++i) {
    if (TextOf(*info, info->items[i]) != TextOf(*info2, info2->items[i])) {
      Fail("an INFO text changed on the way through a file");
    }
  }
  std::size_t kept = 0;
  for (const TDispItem& item : disp->items) {
    TDispList single;
    single.items.push_back(item);
    if (DispListWrittenSize(&single) == 0) continue;  // not written
    if (kept >= disp2->items.size()) Fail("a DISP item was lost");
    const TDispItem& copy = disp2->items[kept++];
    const std::size_t n = copy.data.size();
    if (copy.type != item.type || n > item.data.size() ||
        std::memcmp(copy.data.data(), item.data.data(), n) != 0) {
      Fail("a DISP item changed on the way through a file");
    }
  }
  if (kept != disp2->items.size()) Fail("DISP items appeared on the way through a file");
  InfoListFree(info);
  DispListFree(disp, true);
  return 0;
}
