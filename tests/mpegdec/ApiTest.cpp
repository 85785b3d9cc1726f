// The contract of the C interface: refusals, the change callback, handles and states, error
// texts, the rarely used entry points, and instances on several threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

struct ChangeLog {
  MPEG_HANDLE handle = nullptr;
  int calls = 0;
  bool emptyAtCall = true;
  int32_t framesAtCall = 0;
};

void recordChange(intptr_t, void* data) {
  auto* log = static_cast<ChangeLog*>(data);
  ++log->calls;
  log->emptyAtCall = mpeg_GetEmpty(log->handle);
  TMpegFileInfo info{};
  mpeg_GetFileInfo(log->handle, &info);
  log->framesAtCall = info.Frames;
}

TEST(MpegDecApi, BindingCallsBackReadyAndRefusalsLeaveTheInstanceEmpty) {
  ChangeLog log;
  Instance instance(recordChange, &log);
  log.handle = instance.get();
  ASSERT_EQ(mpeg_SetFileName(instance.get(), fixture("vbr44_joint.mp3").c_str()), MPEG_OK);
  EXPECT_EQ(log.calls, 1);
  EXPECT_FALSE(log.emptyAtCall);
  EXPECT_EQ(log.framesAtCall, 78);
  char name[512];
  ASSERT_EQ(mpeg_GetFileName(instance.get(), name, sizeof name), MPEG_OK);
  EXPECT_EQ(std::string(name), fixture("vbr44_joint.mp3"));

  const std::pair<std::string, int32_t> refused[] = {
      {fixture("random.mp3"), MPEG_ERR_NOT_MPEG},
      {fixture("text.mp3"), MPEG_ERR_NOT_MPEG},
      {fixture("pcm.wav"), MPEG_ERR_NOT_MPEG},
      {fixture("empty.mp3"), MPEG_ERR_NOT_MPEG},
      {fixture("sync_noise.mp3"), MPEG_ERR_NOT_MPEG},  // three frame headers are not enough
      {fixture("missing.mp3"), MPEG_ERR_OPEN_FAILED},
      {fixture(""), MPEG_ERR_OPEN_FAILED},  // the folder
      {"RESOURCE://MP3_DATA", MPEG_ERR_UNSUPPORTED_NAME},
      {"pointer://0x1234", MPEG_ERR_UNSUPPORTED_NAME},
  };
  for (const auto& [file, error] : refused) {
    EXPECT_EQ(mpeg_SetFileName(instance.get(), file.c_str()), error) << file;
    EXPECT_TRUE(mpeg_GetEmpty(instance.get())) << file;
    TMpegFileInfo info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(mpeg_GetFileInfo(instance.get(), &info), MPEG_ERR_NO_FILE);
    EXPECT_EQ(int(info.Frames), 0);
    EXPECT_EQ(mpeg_OpenFile(instance.get()), MPEG_ERR_NO_FILE);
  }
  EXPECT_EQ(log.calls, 2);  // the bind, then the first refusal that unbound it
  EXPECT_TRUE(log.emptyAtCall);
  EXPECT_EQ(mpeg_GetFileName(instance.get(), name, sizeof name), MPEG_ERR_NO_FILE);
  EXPECT_EQ(mpeg_SetFileName(instance.get(), nullptr), MPEG_ERR_BAD_ARGUMENT);
}

TEST(MpegDecApi, HandlesAndStatesAreChecked) {
  MPEG_HANDLE none = nullptr;
  char buffer[16];
  EXPECT_EQ(mpeg_Done(&none), MPEG_ERR_NO_HANDLE);
  EXPECT_EQ(mpeg_Done(nullptr), MPEG_ERR_NO_HANDLE);
  EXPECT_EQ(mpeg_SetFileName(none, "x.mp3"), MPEG_ERR_NO_HANDLE);
  EXPECT_EQ(mpeg_ReadDataBytes(none, buffer, 16), -MPEG_ERR_NO_HANDLE);
  EXPECT_TRUE(mpeg_GetEmpty(none));
  EXPECT_EQ(mpeg_GetPosition(none), -1);

  int32_t code = -1;
  MPEG_HANDLE handle = mpeg_Init(&code, nullptr, nullptr);
  ASSERT_EQ(code, MPEG_OK);
  EXPECT_EQ(mpeg_ReadDataBytes(handle, buffer, 16), -MPEG_ERR_NOT_OPEN);
  EXPECT_EQ(mpeg_ResetFile(handle), MPEG_ERR_NOT_OPEN);
  EXPECT_EQ(mpeg_OpenFile(handle), MPEG_ERR_NO_FILE);
  ASSERT_EQ(mpeg_SetFileName(handle, fixture("cbr22_joint.mp3").c_str()), MPEG_OK);
  ASSERT_EQ(mpeg_OpenFile(handle), MPEG_OK);
  EXPECT_EQ(mpeg_OpenFile(handle), MPEG_ERR_ALREADY_OPEN);
  EXPECT_EQ(mpeg_SetFileName(handle, fixture("cbr44_joint.mp3").c_str()), MPEG_ERR_ALREADY_OPEN);
  MPEG_HANDLE stale = handle;
  EXPECT_EQ(mpeg_Done(&handle), MPEG_OK);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(mpeg_Done(&stale), MPEG_ERR_NO_HANDLE);
  EXPECT_EQ(mpeg_GetFileInfo(stale, nullptr), MPEG_ERR_NO_HANDLE);
}

TEST(MpegDecApi, EveryErrorNumberHasItsOwnText) {
  std::set<std::string> texts;
  char text[128], negated[128];
  for (int32_t code = MPEG_OK; code <= MPEG_ERR_ABORTED; ++code) {
    ASSERT_EQ(mpeg_GetErrorText(code, text, sizeof text), MPEG_OK) << code;
    ASSERT_EQ(mpeg_GetErrorText(-code, negated, sizeof negated), MPEG_OK) << code;
    EXPECT_STREQ(negated, text);
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), size_t(MPEG_ERR_ABORTED + 1));
  EXPECT_FALSE(texts.count(""));
  EXPECT_EQ(mpeg_GetErrorText(99, text, sizeof text), MPEG_ERR_BAD_ARGUMENT);
  EXPECT_STRNE(text, "");
  EXPECT_EQ(mpeg_GetErrorText(MPEG_ERR_NOT_MPEG, text, 5), MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(std::strlen(text), 4u);
}

int32_t abortAtOnce(void*, int32_t) {
  return 1;
}

TEST(MpegDecApi, RarelyUsedEntryPointsDoSomethingSimple) {
  unsigned char tag[128];
  EXPECT_EQ(mpeg_ReadID3Tag(fixture("ape_id3v1.mp3").c_str(), tag), MPEG_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(tag), 8), "TAGTitle");
  EXPECT_EQ(mpeg_ReadID3Tag(fixture("cbr44_joint.mp3").c_str(), tag), MPEG_ERR_NOT_MPEG);
  EXPECT_EQ(mpeg_EncryptFile("a", "b", 1), MPEG_ERR_UNSUPPORTED);

  Instance instance;
  MPEG_HANDLE h = instance.get();
  EXPECT_EQ(mpeg_ScanFile(h), MPEG_ERR_NO_FILE);
  EXPECT_EQ(mpeg_SetDecodeMode(h, 1), MPEG_ERR_UNSUPPORTED);
  EXPECT_EQ(mpeg_SetExactPosition(h, 1), MPEG_OK);
  // With the last 1000 bytes declared a trailer the stream ends before them.
  ASSERT_EQ(mpeg_SetTrailingHeader(h, 1000), MPEG_OK);
  ASSERT_EQ(mpeg_SetFileName(h, fixture("cbr44_joint.mp3").c_str()), MPEG_OK);
  EXPECT_LT(int(instance.info().Frames), 78);
  EXPECT_EQ(mpeg_ScanFile(h), MPEG_OK);

  ASSERT_EQ(mpeg_OpenFile(h), MPEG_OK);
  char buffer[4096];
  ASSERT_EQ(mpeg_AbortReadData(h), MPEG_OK);
  EXPECT_EQ(mpeg_ReadDataBytes(h, buffer, sizeof buffer), -MPEG_ERR_ABORTED);
  EXPECT_EQ(mpeg_ReadDataBytes(h, buffer, sizeof buffer), int32_t(sizeof buffer));
  ASSERT_EQ(mpeg_SetDecodeCallback(h, abortAtOnce, nullptr), MPEG_OK);
  EXPECT_EQ(mpeg_ReadDataBytes(h, buffer, sizeof buffer), -MPEG_ERR_ABORTED);
}

TEST(MpegDecApi, InstancesDecodeIndependentlyOnSeveralThreads) {
  const char* files[] = {"cbr44_joint.mp3", "vbr16_mono.mp3", "layer2_48.mp2", "rate_switch.mp3"};
  std::vector<std::vector<int16_t>> expected, got(4);
  for (const char* file : files) expected.push_back(decodeFixture(file));
  std::vector<std::thread> threads;
  for (size_t i = 0; i < 4; ++i) threads.emplace_back([&, i] { got[i] = decodeFixture(files[i]); });
  for (auto& thread : threads) thread.join();
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(got[i] == expected[i]) << files[i];
}

}  // namespace
}  // namespace mpegdec_test
