#include "platform/Mmio.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
Bytes U32(std::uint32_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

class MmioTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        fs::temp_directory_path() / ("qd-mmio-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "file.bin").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  Bytes Disk() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void SetDisk(const Bytes& bytes) const {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  static void Put(HMMIO h, const Bytes& bytes) {
    ASSERT_EQ(mmioWrite(h, bytes.data(), std::int64_t(bytes.size())), std::int64_t(bytes.size()));
  }
  static Bytes Get(HMMIO h, std::int64_t count) {
    Bytes out(count);
    const std::int64_t n = mmioRead(h, out.data(), count);
    out.resize(n < 0 ? 0 : n);
    return out;
  }

  fs::path dir_;
  std::string path_;
};

// RIFF "WAVE" { "fmt " "abc" + pad, LIST "INFO" { "INAM" "hello" + pad } }, 50 bytes.
const Bytes kRiff = Cat({ToBytes("RIFF"),
                         U32(42),
                         ToBytes("WAVEfmt "),
                         U32(3),
                         ToBytes("abc"),
                         {0},
                         ToBytes("LIST"),
                         U32(18),
                         ToBytes("INFOINAM"),
                         U32(5),
                         ToBytes("hello"),
                         {0}});

TEST_F(MmioTest, CreateChunkAndAscendWriteExactRiff) {
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  MMCKINFO riff{.fccType = mmioStringToFOURCC("WAVE", 0)},
      fmt{.ckid = mmioStringToFOURCC("fmt ", 0)};
  MMCKINFO list{.fccType = mmioStringToFOURCC("INFO", 0)},
      name{.ckid = mmioStringToFOURCC("INAM", 0)};
  ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), 0);
  EXPECT_EQ(riff.ckid, FOURCC_RIFF);
  EXPECT_EQ(riff.dwDataOffset, 8u);
  EXPECT_EQ(riff.dwFlags, MMIO_DIRTY);
  ASSERT_EQ(mmioCreateChunk(h, &fmt, 0), 0);
  Put(h, ToBytes("abc"));
  ASSERT_EQ(mmioAscend(h, &fmt, 0), 0);
  EXPECT_EQ(fmt.cksize, 3u);
  EXPECT_EQ(fmt.dwFlags, 0u);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_CURRENT), 24);  // past the pad byte
  ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), 0);
  EXPECT_EQ(list.ckid, FOURCC_LIST);
  name.cksize = 5;  // already right: ascend must not need to rewrite it
  ASSERT_EQ(mmioCreateChunk(h, &name, 0), 0);
  Put(h, ToBytes("hello"));
  ASSERT_EQ(mmioAscend(h, &name, 0), 0);
  ASSERT_EQ(mmioAscend(h, &list, 0), 0);
  ASSERT_EQ(mmioAscend(h, &riff, 0), 0);
  EXPECT_EQ(riff.cksize, 42u);
  ASSERT_EQ(mmioClose(h, 0), 0);
  EXPECT_EQ(Disk(), kRiff);
}

TEST_F(MmioTest, DescendAndAscendWalkChunksAndStopAtBoundaries) {
  SetDisk(Cat({kRiff, ToBytes("junk5")}));  // a partial header after the form
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_READ);
  ASSERT_NE(h, nullptr);
  MMCKINFO riff, chunk, list, inner;
  ASSERT_EQ(mmioDescend(h, &riff, nullptr, 0), 0);
  EXPECT_EQ(riff.ckid, FOURCC_RIFF);
  EXPECT_EQ(riff.cksize, 42u);
  EXPECT_EQ(riff.fccType, mmioStringToFOURCC("WAVE", 0));
  EXPECT_EQ(riff.dwDataOffset, 8u);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_CURRENT), 12);
  ASSERT_EQ(mmioDescend(h, &chunk, &riff, 0), 0);
  EXPECT_EQ(chunk.cksize, 3u);
  EXPECT_EQ(chunk.dwDataOffset, 20u);
  EXPECT_EQ(Get(h, 2), ToBytes("ab"));
  ASSERT_EQ(mmioAscend(h, &chunk, 0), 0);  // skips the rest and the pad
  ASSERT_EQ(mmioDescend(h, &list, &riff, 0), 0);
  EXPECT_EQ(list.fccType, mmioStringToFOURCC("INFO", 0));
  ASSERT_EQ(mmioDescend(h, &inner, &list, 0), 0);
  EXPECT_EQ(Get(h, 5), ToBytes("hello"));
  ASSERT_EQ(mmioAscend(h, &inner, 0), 0);
  EXPECT_NE(mmioDescend(h, &inner, &list, 0), 0);  // at the end of the list
  ASSERT_EQ(mmioSeek(h, 50, SEEK_FROM_START), 50);
  EXPECT_NE(mmioDescend(h, &inner, &riff, 0), 0);  // would read "junk5" past the form
  ASSERT_EQ(mmioSeek(h, 50, SEEK_FROM_START), 50);
  EXPECT_NE(mmioDescend(h, &inner, nullptr, 0), 0);  // only 5 bytes left
  EXPECT_EQ(mmioClose(h, 0), 0);
}

TEST_F(MmioTest, DescendTakesHeaderEndingExactlyAtParentEndButNotATruncatedType) {
  SetDisk(Cat({ToBytes("LIST"), U32(12), ToBytes("INFOabcd"), U32(0), ToBytes("RIFF"), U32(4),
               ToBytes("WA")}));
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_READ);
  ASSERT_NE(h, nullptr);
  MMCKINFO list, empty, riff;
  ASSERT_EQ(mmioDescend(h, &list, nullptr, 0), 0);
  ASSERT_EQ(mmioDescend(h, &empty, &list, 0), 0);
  EXPECT_EQ(empty.cksize, 0u);
  ASSERT_EQ(mmioAscend(h, &empty, 0), 0);
  ASSERT_EQ(mmioAscend(h, &list, 0), 0);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_CURRENT), 20);
  EXPECT_NE(mmioDescend(h, &riff, nullptr, 0), 0);
  mmioClose(h, 0);
}

TEST_F(MmioTest, ReadsSeeUnflushedWritesAndFileDataAroundThem) {
  Bytes model(20000);
  for (std::size_t i = 0; i < model.size(); ++i) model[i] = std::uint8_t(i * 7);
  SetDisk(model);
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_READWRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  mmioSeek(h, 5000, SEEK_FROM_START);
  Put(h, Bytes(10, 0xEE));
  std::fill(model.begin() + 5000, model.begin() + 5010, 0xEE);
  mmioSeek(h, 4990, SEEK_FROM_START);
  EXPECT_EQ(Get(h, 40), Bytes(model.begin() + 4990, model.begin() + 5030));
  mmioSeek(h, 19995, SEEK_FROM_START);
  Put(h, Bytes(10, 0xAB));  // extends the file, still buffered
  model.resize(20005, 0xAB);
  std::fill(model.begin() + 19995, model.end(), 0xAB);
  EXPECT_EQ(fs::file_size(path_), 20000u);
  EXPECT_EQ(mmioSeek(h, -8, SEEK_FROM_END), 19997);
  EXPECT_EQ(Get(h, 100), Bytes(model.end() - 8, model.end()));
  ASSERT_EQ(mmioClose(h, 0), 0);
  EXPECT_EQ(Disk(), model);
}

TEST_F(MmioTest, LargeWritesBypassTheBufferWithoutLeavingItStale) {
  SetDisk(Bytes(100, 1));
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_READWRITE | MMIO_ALLOCBUF);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Get(h, 10), Bytes(10, 1));  // the window now holds the old bytes
  mmioSeek(h, 0, SEEK_FROM_START);
  Put(h, ToBytes("head"));
  const Bytes big(20000, 2);
  Put(h, big);
  mmioSeek(h, 0, SEEK_FROM_START);
  EXPECT_EQ(Get(h, 8), ToBytes("head\2\2\2\2"));
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_END), 20004);
  Put(h, ToBytes("tail"));
  mmioSeek(h, 0, SEEK_FROM_START);
  EXPECT_EQ(Get(h, 20008), Cat({ToBytes("head"), big, ToBytes("tail")}));  // a large direct read
  ASSERT_EQ(mmioClose(h, 0), 0);
  EXPECT_EQ(Disk(), Cat({ToBytes("head"), big, ToBytes("tail")}));
}

// The same fixed-seed sequence of seeks, writes, reads and flushes, against a plain byte model.
TEST_F(MmioTest, RandomOperationsMatchAModelForEveryBufferSize) {
  for (std::int64_t bufferSize : {std::int64_t(0), std::int64_t(1), std::int64_t(7),
                                  std::int64_t(512), kMmioDefaultBufferSize, std::int64_t(32768)}) {
    SCOPED_TRACE(bufferSize);
    HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, bufferSize, 0), 0);
    EXPECT_EQ(mmioBufferSize(h), bufferSize);
    std::mt19937 rng(1234);
    auto below = [&](std::int64_t n) { return std::int64_t(rng() % std::uint64_t(n)); };
    Bytes model;
    std::int64_t pos = 0;
    for (int op = 0; op < 600; ++op) {
      const std::int64_t size = std::int64_t(model.size());
      const std::int64_t length = below(10) == 0 ? below(40000) : below(300);
      switch (below(7)) {
        case 0:
          pos = below(size + 100);
          ASSERT_EQ(mmioSeek(h, pos, SEEK_FROM_START), pos);
          break;
        case 1:
          pos = size - below(size + 1);
          ASSERT_EQ(mmioSeek(h, pos - size, SEEK_FROM_END), pos);
          break;
        case 2:
        case 3: {
          Bytes data(length);
          for (auto& b : data) b = std::uint8_t(rng());
          Put(h, data);
          if (length > 0 && pos + length > size) model.resize(pos + length);
          std::copy(data.begin(), data.end(), model.begin() + pos);
          pos += length;
          break;
        }
        case 4:
        case 5: {
          const std::int64_t from = std::min(pos, size);
          const std::int64_t to = std::max(from, std::min(pos + length, size));
          ASSERT_EQ(Get(h, length), Bytes(model.begin() + from, model.begin() + to));
          pos += to - from;
          break;
        }
        default:
          ASSERT_EQ(mmioFlush(h, 0), 0);
      }
    }
    ASSERT_EQ(mmioClose(h, 0), 0);
    ASSERT_EQ(Disk(), model);
  }
}

TEST_F(MmioTest, ChunkSizesUse64BitOffsets) {
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
  ASSERT_NE(h, nullptr);
  MMCKINFO data{.ckid = mmioStringToFOURCC("data", 0)};
  ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0);
  ASSERT_EQ(mmioSeek(h, 0x100000008LL, SEEK_FROM_START), 0x100000008LL);
  EXPECT_NE(mmioAscend(h, &data, 0), 0);      // 4 GiB does not fit the size field
  const std::int64_t end = 8 + 0xC0000001LL;  // 3 GiB + 1: sparse on disk
  ASSERT_EQ(mmioSeek(h, end - 1, SEEK_FROM_START), end - 1);
  Put(h, {9});
  ASSERT_EQ(mmioAscend(h, &data, 0), 0);
  EXPECT_EQ(data.cksize, 0xC0000001u);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_CURRENT), end + 1);
  ASSERT_EQ(mmioSeek(h, 0, SEEK_FROM_START), 0);
  EXPECT_EQ(Get(h, 8), Cat({ToBytes("data"), U32(0xC0000001u)}));
  ASSERT_EQ(mmioClose(h, 0), 0);
  EXPECT_EQ(fs::file_size(path_), std::uintmax_t(end + 1));
}

TEST_F(MmioTest, MemoryFilesAreFixedSizeBlocks) {
  char block[10];
  std::memcpy(block, "0123456789", 10);
  MMIOINFO info{.fccIOProc = FOURCC_MEM, .pchBuffer = block, .cchBuffer = 10};
  HMMIO h = mmioOpen(nullptr, &info, MMIO_READWRITE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Get(h, 4), ToBytes("0123"));
  mmioSeek(h, 8, SEEK_FROM_START);
  EXPECT_EQ(Get(h, 4), ToBytes("89"));
  mmioSeek(h, 8, SEEK_FROM_START);
  EXPECT_EQ(mmioWrite(h, "abcd", 4), 2);
  EXPECT_EQ(mmioWrite(h, "x", 1), 0);
  EXPECT_EQ(mmioSeek(h, 0, SEEK_FROM_END), 10);
  EXPECT_EQ(std::string(block, 10), "01234567ab");
  EXPECT_EQ(mmioSetBuffer(h, nullptr, 100, 0), 0);
  MMIOINFO got;
  ASSERT_EQ(mmioGetInfo(h, &got, 0), 0);
  EXPECT_EQ(got.dwFlags, MMIO_READWRITE);
  EXPECT_EQ(got.fccIOProc, FOURCC_MEM);
  EXPECT_EQ(got.pchBuffer, block);
  EXPECT_EQ(got.cchBuffer, 10);
  EXPECT_EQ(mmioClose(h, 0), 0);

  h = mmioOpen(nullptr, &info, MMIO_READ);
  EXPECT_EQ(mmioWrite(h, "x", 1), -1);  // opened for reading only
  mmioClose(h, 0);
  info.adwInfo[0] = 64;  // growing blocks are not supported
  EXPECT_EQ(mmioOpen(nullptr, &info, MMIO_READWRITE), nullptr);
}

TEST_F(MmioTest, OpenModesAndBufferSettings) {
  SetDisk(ToBytes("0123456789"));
  HMMIO h = mmioOpen(path_.c_str(), nullptr, MMIO_WRITE);  // no truncation without MMIO_CREATE
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioBufferSize(h), kMmioDefaultBufferSize);
  Put(h, ToBytes("ab"));
  EXPECT_NE(mmioSetBuffer(h, nullptr, -1, 0), 0);
  EXPECT_EQ(mmioSetBuffer(h, nullptr, 16, 0), 0);  // flushes first
  EXPECT_EQ(mmioBufferSize(h), 16);
  EXPECT_EQ(Disk(), ToBytes("ab23456789"));
  ASSERT_EQ(mmioClose(h, 0), 0);

  h = mmioOpen(path_.c_str(), nullptr, MMIO_CREATE);  // truncates and implies write access
  ASSERT_NE(h, nullptr);
  Put(h, ToBytes("new"));
  MMIOINFO info;
  ASSERT_EQ(mmioGetInfo(h, &info, 0), 0);
  EXPECT_EQ(info.dwFlags, MMIO_CREATE);
  ASSERT_EQ(mmioClose(h, 0), 0);
  EXPECT_EQ(Disk(), ToBytes("new"));

  EXPECT_EQ(mmioOpen((dir_ / "missing").c_str(), nullptr, MMIO_READ), nullptr);
  EXPECT_EQ(mmioOpen((dir_ / "no/dir").c_str(), nullptr, MMIO_CREATE | MMIO_WRITE), nullptr);
  EXPECT_EQ(mmioOpen(dir_.c_str(), nullptr, MMIO_READ), nullptr);

  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  h = mmioOpen(path_.c_str(), nullptr, MMIO_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Get(h, 10), ToBytes("new"));
  EXPECT_EQ(mmioWrite(h, "x", 1), -1);
  EXPECT_EQ(mmioClose(h, 0), 0);
}

TEST_F(MmioTest, ReadOnlyFileCannotBeOpenedForWriting) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
  SetDisk(ToBytes("x"));
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  EXPECT_EQ(mmioOpen(path_.c_str(), nullptr, MMIO_READWRITE), nullptr);
}

TEST_F(MmioTest, WriteErrorsAreReportedUpToClose) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  HMMIO h = mmioOpen("/dev/full", nullptr, MMIO_WRITE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(mmioWrite(h, "abc", 3), 3);  // buffered
  EXPECT_NE(mmioFlush(h, 0), 0);
  EXPECT_NE(mmioClose(h, 0), 0);

  h = mmioOpen("/dev/full", nullptr, MMIO_WRITE);
  ASSERT_NE(h, nullptr);
  const Bytes big(2 * kMmioDefaultBufferSize);
  EXPECT_LT(mmioWrite(h, big.data(), std::int64_t(big.size())), std::int64_t(big.size()));
  EXPECT_NE(mmioClose(h, 0), 0);
}

TEST_F(MmioTest, NameHelpers) {
  EXPECT_EQ(mmioStringToFOURCC("fmt", 0), MakeFourCC('f', 'm', 't', ' '));
  EXPECT_EQ(mmioStringToFOURCC("wave!", 0), MakeFourCC('w', 'a', 'v', 'e'));
  EXPECT_EQ(mmioStringToFOURCC("", 0), MakeFourCC(' ', ' ', ' ', ' '));

  std::string qualified;
  ASSERT_TRUE(mmioParseName((dir_ / "sub/../x.wav").string(), &qualified));
  EXPECT_EQ(qualified, (dir_ / "x.wav").string());
  ASSERT_TRUE(mmioParseName("rel.wav", &qualified));
  EXPECT_EQ(qualified, (fs::current_path() / "rel.wav").string());
  EXPECT_FALSE(mmioParseName("", &qualified));
  EXPECT_FALSE(mmioParseName((dir_ / "missing/x.wav").string(), &qualified));
  EXPECT_FALSE(mmioParseName(dir_.string() + "/", &qualified));
  EXPECT_FALSE(mmioParseName((dir_ / ".").string(), &qualified));

  SetDisk(ToBytes("x"));
  EXPECT_TRUE(mmioFileExists(path_));
  EXPECT_FALSE(mmioFileExists(dir_.string()));
  EXPECT_TRUE(mmioDeleteFile(path_));
  EXPECT_FALSE(mmioFileExists(path_));
  EXPECT_FALSE(mmioDeleteFile(path_));
}

}  // namespace
}  // namespace platform
