// The results mpegdec.h documents for each entry point, in each state of an instance: empty,
// bound, open, and for a handle that is not a live instance.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

enum State { kEmpty, kBound, kOpen, kNotAnInstance, kStates };

struct Row {
  const char* call;
  std::function<int32_t(MPEG_HANDLE)> run;
  int32_t expected[kStates];  // by State
};

constexpr int32_t OK = MPEG_OK, NO_HANDLE = MPEG_ERR_NO_HANDLE, NO_FILE = MPEG_ERR_NO_FILE,
                  NOT_OPEN = MPEG_ERR_NOT_OPEN, ALREADY_OPEN = MPEG_ERR_ALREADY_OPEN,
                  BAD = MPEG_ERR_BAD_ARGUMENT;

TEST(MpegDecContract, EveryEntryPointAnswersAsDocumentedInEachState) {
  char buffer[4096];
  int32_t value = 0;
  const Row rows[] = {
      {"SetFileName(null)",
       [](MPEG_HANDLE h) { return mpeg_SetFileName(h, nullptr); },
       {BAD, BAD, ALREADY_OPEN, NO_HANDLE}},
      {"GetFileInfo(null)",
       [](MPEG_HANDLE h) { return mpeg_GetFileInfo(h, nullptr); },
       {BAD, BAD, BAD, NO_HANDLE}},
      {"GetFileName(1 byte)",
       [&](MPEG_HANDLE h) { return mpeg_GetFileName(h, buffer, 1); },
       {NO_FILE, BAD, BAD, NO_HANDLE}},
      {"OpenFile", mpeg_OpenFile, {NO_FILE, OK, ALREADY_OPEN, NO_HANDLE}},
      {"CloseFile", mpeg_CloseFile, {NOT_OPEN, NOT_OPEN, OK, NO_HANDLE}},
      {"ResetFile", mpeg_ResetFile, {NOT_OPEN, NOT_OPEN, OK, NO_HANDLE}},
      {"Clear", mpeg_Clear, {OK, OK, OK, NO_HANDLE}},
      {"ScanFile", mpeg_ScanFile, {NO_FILE, OK, OK, NO_HANDLE}},
      {"SetPosition(0)",
       [](MPEG_HANDLE h) { return mpeg_SetPosition(h, 0); },
       {NO_FILE, OK, OK, NO_HANDLE}},
      {"SetPosition(-1)",
       [](MPEG_HANDLE h) { return mpeg_SetPosition(h, -1); },
       {NO_FILE, BAD, BAD, NO_HANDLE}},
      {"SetChannelMode(left)",
       [](MPEG_HANDLE h) { return mpeg_SetChannelMode(h, 0x100); },
       {OK, OK, ALREADY_OPEN, NO_HANDLE}},
      {"SetChannelMode(both)",
       [](MPEG_HANDLE h) { return mpeg_SetChannelMode(h, 2); },
       {OK, OK, OK, NO_HANDLE}},
      {"SetChannelMode(4)",
       [](MPEG_HANDLE h) { return mpeg_SetChannelMode(h, 4); },
       {BAD, BAD, BAD, NO_HANDLE}},
      {"GetChannelMode(null)",
       [](MPEG_HANDLE h) { return mpeg_GetChannelMode(h, nullptr); },
       {BAD, BAD, BAD, NO_HANDLE}},
      {"SetTrailingHeader(-1)",
       [](MPEG_HANDLE h) { return mpeg_SetTrailingHeader(h, -1); },
       {BAD, BAD, BAD, NO_HANDLE}},
      {"SetFileOffset(-1)",
       [](MPEG_HANDLE h) { return mpeg_SetFileOffset(h, -1); },
       {BAD, BAD, BAD, NO_HANDLE}},
      {"SetDecodeMode(1)",
       [](MPEG_HANDLE h) { return mpeg_SetDecodeMode(h, 1); },
       {MPEG_ERR_UNSUPPORTED, MPEG_ERR_UNSUPPORTED, MPEG_ERR_UNSUPPORTED, NO_HANDLE}},
      {"AbortReadData", mpeg_AbortReadData, {OK, OK, OK, NO_HANDLE}},
      {"ReadDataBytes(4096)",
       [&](MPEG_HANDLE h) { return mpeg_ReadDataBytes(h, buffer, sizeof buffer); },
       {-NOT_OPEN, -NOT_OPEN, 4096, -NO_HANDLE}},
      {"ReadDataBytes(-1)",
       [&](MPEG_HANDLE h) { return mpeg_ReadDataBytes(h, buffer, -1); },
       {-NOT_OPEN, -NOT_OPEN, -BAD, -NO_HANDLE}},
      {"ReadDataBytesEx frame",
       [&](MPEG_HANDLE h) {
         value = 77;
         mpeg_ReadDataBytesEx(h, buffer, 4, &value);
         return value;
       },
       {-1, 0, 0, 77}},
      {"GetPosition", mpeg_GetPosition, {-1, 0, 0, -1}},
      {"GetEmpty", mpeg_GetEmpty, {1, 0, 0, 1}},
      {"GetDone", mpeg_GetDone, {1, 1, 0, 1}},
  };
  int notAnInstance = 0;
  for (const Row& row : rows) {
    for (int state = kEmpty; state < kStates; ++state) {
      Instance instance;
      MPEG_HANDLE h = instance.get();
      if (state == kNotAnInstance) h = reinterpret_cast<MPEG_HANDLE>(&notAnInstance);
      if (state == kBound || state == kOpen) {
        ASSERT_EQ(mpeg_SetFileName(h, fixture("cbr44_joint.mp3").c_str()), OK);
      }
      if (state == kOpen) {
        ASSERT_EQ(mpeg_OpenFile(h), OK);
      }
      EXPECT_EQ(row.run(h), row.expected[state]) << row.call << " in state " << state;
    }
  }
}

// Aborts asked for on another thread, also while a read is decoding, each stop one read; the
// reader goes on after them and loses or repeats nothing.
TEST(MpegDecContract, AbortsFromAnotherThreadStopOneReadEach) {
  const auto whole = decodeFixture("cbr44_joint.mp3");
  Instance instance;
  ASSERT_EQ(instance.open("cbr44_joint.mp3"), MPEG_OK);
  std::atomic<bool> finished{false};
  std::promise<void> firstAbort;
  std::thread aborter([&, h = instance.get()] {
    EXPECT_EQ(mpeg_AbortReadData(h), MPEG_OK);
    firstAbort.set_value();
    for (int i = 0; i < 100000 && !finished; ++i) {
      EXPECT_EQ(mpeg_AbortReadData(h), MPEG_OK);
      std::this_thread::yield();
    }
  });
  ASSERT_EQ(firstAbort.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  std::vector<int16_t> samples;
  std::vector<char> buffer(4096);
  int aborted = 0, reads = 0;
  for (; !mpeg_GetDone(instance.get()) && reads < 1000000; ++reads) {
    const int32_t got = mpeg_ReadDataBytes(instance.get(), buffer.data(), 4096);
    if (got == -MPEG_ERR_ABORTED) {
      ++aborted;
      continue;
    }
    ASSERT_GT(got, 0);
    const auto* pcm = reinterpret_cast<const int16_t*>(buffer.data());
    samples.insert(samples.end(), pcm, pcm + got / 2);
  }
  finished = true;
  aborter.join();
  EXPECT_GE(aborted, 1);  // the first read at least
  EXPECT_LT(aborted, reads);
  EXPECT_TRUE(samples == whole) << "an aborted read lost or repeated samples";
}

}  // namespace
}  // namespace mpegdec_test
