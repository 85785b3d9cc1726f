#include "platform/WaveOutApi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ThreadMessageQueue.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
constexpr auto kWaitLimit = 10s;

WAVEFORMATEX Pcm(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  return WAVEFORMATEX{WAVE_FORMAT_PCM_TAG, channels, rate, rate * align, align, bits, 0};
}

// One wave buffer: the header followed directly by its data, as the stream components lay it out.
class Block {
 public:
  explicit Block(const std::vector<char>& bytes) : storage_(sizeof(WAVEHDR) + bytes.size()) {
    Header()->lpData = sizeof(WAVEHDR);
    Header()->dwBufferLength = static_cast<std::uint32_t>(bytes.size());
    std::memcpy(Header()->Data(), bytes.data(), bytes.size());
  }
  WAVEHDR* Header() { return reinterpret_cast<WAVEHDR*>(storage_.data()); }
  std::uint32_t Flags() {
    return __atomic_load_n(reinterpret_cast<std::uint32_t*>(storage_.data() + 16),
                           __ATOMIC_ACQUIRE);
  }

 private:
  std::vector<char> storage_;
};

std::vector<std::unique_ptr<Block>> MakeBlocks(int count, std::size_t bytes) {
  std::vector<std::unique_ptr<Block>> blocks;
  for (int i = 0; i < count; ++i) {
    std::vector<char> data(bytes);
    for (std::size_t j = 0; j < bytes; ++j) data[j] = static_cast<char>(i * 31 + j * 7);
    blocks.push_back(std::make_unique<Block>(data));
  }
  return blocks;
}

struct Note {
  std::uint32_t message;
  std::uintptr_t device;
  std::uintptr_t header;
  std::uint32_t flags;  // the header's flags when the notification arrived
};

// Collects notifications from whichever callback kind a test opens with.
class Receiver {
 public:
  explicit Receiver(std::uint32_t kind) : kind_(kind) {
    if (kind_ == CALLBACK_WINDOW) {
      window_ = Dispatcher::Instance().CreateWindow(
          [this](const Message& message) { Add(message.id, message.wParam, message.lParam); });
    }
  }
  ~Receiver() {
    if (window_ != kNoWindow) Dispatcher::Instance().DestroyWindow(window_);
  }

  std::uintptr_t Callback() {
    switch (kind_) {
      case CALLBACK_WINDOW:
        return window_;
      case CALLBACK_FUNCTION:
        return reinterpret_cast<std::uintptr_t>(&Receiver::Proc);
      case CALLBACK_THREAD:
        return reinterpret_cast<std::uintptr_t>(&queue_);
      default:
        return 0;
    }
  }
  std::uintptr_t Instance() { return reinterpret_cast<std::uintptr_t>(this); }

  // Pumps the notifications until `count` arrived; false when they did not within the limit.
  bool WaitForCount(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (Count() < count) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (kind_ == CALLBACK_WINDOW) {
        Dispatcher::Instance().RunUntil([&] { return Count() >= count; }, 20ms);
      } else if (kind_ == CALLBACK_THREAD) {
        Message message;
        if (queue_.Get(message, 20ms)) Add(message.id, message.wParam, message.lParam);
      } else {
        std::this_thread::sleep_for(1ms);
      }
    }
    return true;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_.size();
  }
  std::size_t DoneCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t done = 0;
    for (const Note& note : notes_) done += note.message == MM_WOM_DONE;
    return done;
  }
  std::vector<Note> Notes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
  }

 private:
  static void Proc(HWAVEOUT, std::uint32_t message, std::uintptr_t instance, std::uintptr_t param1,
                   std::uintptr_t param2) {
    reinterpret_cast<Receiver*>(instance)->Add(message, param1, static_cast<std::intptr_t>(param2));
  }
  void Add(std::uint32_t message, std::uintptr_t device, std::intptr_t header) {
    std::uint32_t flags = 0;
    if (message == MM_WOM_DONE && header != 0) {
      flags = __atomic_load_n(reinterpret_cast<std::uint32_t*>(header + 16), __ATOMIC_ACQUIRE);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    notes_.push_back(Note{message, device, static_cast<std::uintptr_t>(header), flags});
  }

  const std::uint32_t kind_;
  WindowHandle window_ = kNoWindow;
  ThreadMessageQueue queue_;
  std::mutex mutex_;
  std::vector<Note> notes_;
};

// Polls the position on its own thread while notifications arrive, checking that it never goes
// back and never passes what was written.
class PositionWatcher {
 public:
  PositionWatcher(HWAVEOUT device, const std::atomic<std::uint64_t>& writtenBytes)
      : thread_([this, device, &writtenBytes] {
          while (!stop_.load()) {
            MMTIME time{TIME_BYTES, {0}};
            if (waveOutGetPosition(device, &time, sizeof(time)) != MMSYSERR_NOERROR) ++failures_;
            const std::uint64_t written = writtenBytes.load();
            if (time.u.cb < last_) ++backwards_;
            if (time.u.cb > written) ++beyondWritten_;
            last_ = time.u.cb;
            ++samples_;
            std::this_thread::sleep_for(1ms);
          }
        }) {}
  ~PositionWatcher() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  int failures_ = 0, backwards_ = 0, beyondWritten_ = 0, samples_ = 0;
  std::uint32_t last_ = 0;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::uint32_t Position(HWAVEOUT device, std::uint32_t type) {
  MMTIME time{type, {0}};
  EXPECT_EQ(waveOutGetPosition(device, &time, sizeof(time)), MMSYSERR_NOERROR);
  EXPECT_EQ(time.wType, type);
  return time.u.cb;
}

class WaveOutApiTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("waveout-test-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    wavePath_ = (dir_ / "played.wav").string();
  }
  void TearDown() override {
    ::unsetenv("QD_WAVE_DEVICE");
    std::filesystem::remove_all(dir_);
  }
  void UseFileDevice() { ::setenv("QD_WAVE_DEVICE", ("file:" + wavePath_).c_str(), 1); }
  void UseNullDevice() { ::setenv("QD_WAVE_DEVICE", "null", 1); }

  std::vector<char> ReadFile() {
    std::ifstream in(wavePath_, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
  std::string wavePath_;
};

std::uint32_t Le32(const std::vector<char>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

TEST_F(WaveOutApiTest, FileDeviceRecordsEveryBufferInOrderThroughEachCallbackKind) {
  UseFileDevice();
  const WAVEFORMATEX format = Pcm(8000, 1, 16);
  constexpr int kBlocks = 6;
  constexpr std::size_t kBlockBytes = 320;  // 20 ms
  for (const std::uint32_t kind : {CALLBACK_FUNCTION, CALLBACK_THREAD, CALLBACK_WINDOW}) {
    SCOPED_TRACE(kind);
    Receiver receiver(kind);
    auto blocks = MakeBlocks(kBlocks, kBlockBytes);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(
        waveOutOpen(&device, WAVE_MAPPER, &format, receiver.Callback(), receiver.Instance(), kind),
        MMSYSERR_NOERROR);
    ASSERT_TRUE(receiver.WaitForCount(1));

    std::atomic<std::uint64_t> written{0};
    PositionWatcher watcher(device, written);
    for (auto& block : blocks) {
      ASSERT_EQ(waveOutPrepareHeader(device, block->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
      ASSERT_EQ(waveOutWrite(device, block->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
      written += kBlockBytes;
    }
    ASSERT_TRUE(receiver.WaitForCount(1 + kBlocks));
    watcher.Stop();
    EXPECT_EQ(Position(device, TIME_BYTES), kBlocks * kBlockBytes);
    EXPECT_EQ(watcher.failures_ + watcher.backwards_ + watcher.beyondWritten_, 0);

    for (auto& block : blocks) {
      EXPECT_EQ(block->Flags() & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
      EXPECT_EQ(waveOutUnprepareHeader(device, block->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(receiver.WaitForCount(2 + kBlocks));

    const std::vector<Note> notes = receiver.Notes();
    const auto handle = reinterpret_cast<std::uintptr_t>(device);
    EXPECT_EQ(notes.front().message, MM_WOM_OPEN);
    EXPECT_EQ(notes.back().message, MM_WOM_CLOSE);
    for (int i = 0; i < kBlocks; ++i) {
      const Note& note = notes[1 + i];
      EXPECT_EQ(note.message, MM_WOM_DONE);
      EXPECT_EQ(note.device, handle);
      EXPECT_EQ(note.header, reinterpret_cast<std::uintptr_t>(blocks[i]->Header())) << i;
      EXPECT_EQ(note.flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE) << i;
    }

    const std::vector<char> file = ReadFile();
    ASSERT_EQ(file.size(), 44 + kBlocks * kBlockBytes);
    EXPECT_EQ(std::string(file.data(), 4), "RIFF");
    EXPECT_EQ(Le32(file, 4), 36 + kBlocks * kBlockBytes);
    EXPECT_EQ(std::string(file.data() + 8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(file, 24), 8000u);
    EXPECT_EQ(Le32(file, 40), kBlocks * kBlockBytes);
    for (int i = 0; i < kBlocks; ++i) {
      EXPECT_EQ(
          std::memcmp(file.data() + 44 + i * kBlockBytes, blocks[i]->Header()->Data(), kBlockBytes),
          0)
          << i;
    }
  }
}

TEST_F(WaveOutApiTest, NullDevicePlaysInRealTimeWithAMonotonicPositionThatReachesTheEnd) {
  UseNullDevice();
  const WAVEFORMATEX format = Pcm(8000, 1, 16);  // 16000 bytes make one second
  constexpr int kBlocks = 10;
  constexpr std::size_t kBlockBytes = 1600;
  Receiver receiver(CALLBACK_FUNCTION);
  auto blocks = MakeBlocks(kBlocks, kBlockBytes);
  HWAVEOUT device = nullptr;
  ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, receiver.Callback(), receiver.Instance(),
                        CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::atomic<std::uint64_t> written{0};
  PositionWatcher watcher(device, written);
  // Like a player: two buffers ahead, then one more each time one comes back.
  int next = 0;
  const auto writeNext = [&] {
    Block& block = *blocks[next++];
    ASSERT_EQ(waveOutPrepareHeader(device, block.Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    written += kBlockBytes;
    ASSERT_EQ(waveOutWrite(device, block.Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  };
  writeNext();
  writeNext();
  while (next < kBlocks) {
    ASSERT_TRUE(receiver.WaitForCount(1 + receiver.DoneCount() + 1));
    writeNext();
  }
  ASSERT_TRUE(receiver.WaitForCount(1 + kBlocks));
  watcher.Stop();
  EXPECT_GT(watcher.samples_, 0);
  EXPECT_EQ(watcher.failures_ + watcher.backwards_ + watcher.beyondWritten_, 0);
  EXPECT_EQ(Position(device, TIME_SAMPLES), 8000u);
  EXPECT_EQ(Position(device, TIME_BYTES), 16000u);
  EXPECT_EQ(Position(device, TIME_MS), 1000u);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOutApiTest, PauseHoldsThePositionAndRestartFinishesThePlay) {
  UseNullDevice();
  const WAVEFORMATEX format = Pcm(8000, 1, 8);
  Receiver receiver(CALLBACK_FUNCTION);
  auto blocks = MakeBlocks(1, 2000);  // a quarter of a second
  HWAVEOUT device = nullptr;
  ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, receiver.Callback(), receiver.Instance(),
                        CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPrepareHeader(device, blocks[0]->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(device, blocks[0]->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (Position(device, TIME_SAMPLES) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
  const std::uint32_t paused = Position(device, TIME_SAMPLES);
  EXPECT_GT(paused, 0u);
  std::this_thread::sleep_for(50ms);  // the clock would have moved 400 samples meanwhile
  EXPECT_EQ(Position(device, TIME_SAMPLES), paused);
  EXPECT_EQ(receiver.DoneCount(), 0u);
  ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
  ASSERT_TRUE(receiver.WaitForCount(2));
  EXPECT_EQ(Position(device, TIME_SAMPLES), 2000u);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST_F(WaveOutApiTest, ResetReturnsEveryQueuedBufferAndQueuedBuffersAreGuarded) {
  UseNullDevice();
  const WAVEFORMATEX format = Pcm(22050, 2, 16);
  Receiver receiver(CALLBACK_FUNCTION);
  auto blocks = MakeBlocks(4, 4096);
  auto spare = MakeBlocks(1, 64);
  HWAVEOUT device = nullptr;
  ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, receiver.Callback(), receiver.Instance(),
                        CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);  // nothing plays: all stay queued
  EXPECT_EQ(waveOutWrite(device, spare[0]->Header(), sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  for (auto& block : blocks) {
    ASSERT_EQ(waveOutPrepareHeader(device, block->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, block->Header(), sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(block->Flags() & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
              WHDR_INQUEUE | WHDR_PREPARED);
  }
  EXPECT_EQ(waveOutWrite(device, blocks[0]->Header(), sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutUnprepareHeader(device, blocks[1]->Header(), sizeof(WAVEHDR)),
            WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);

  ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
  // Every buffer is back, in order, before Reset returns.
  const std::vector<Note> notes = receiver.Notes();
  ASSERT_EQ(notes.size(), 5u);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(notes[1 + i].message, MM_WOM_DONE);
    EXPECT_EQ(notes[1 + i].header, reinterpret_cast<std::uintptr_t>(blocks[i]->Header()));
    EXPECT_EQ(blocks[i]->Flags() & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(device, blocks[i]->Header(), sizeof(WAVEHDR)),
              MMSYSERR_NOERROR);
    EXPECT_EQ(blocks[i]->Flags() & WHDR_PREPARED, 0u);
  }
  EXPECT_EQ(Position(device, TIME_BYTES), 0u);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(device), MMSYSERR_INVALHANDLE);
}

TEST_F(WaveOutApiTest, DeviceNumbersAndTheMapperFollowTheEnvironment) {
  // Without QD_WAVE_DEVICE only PortAudio's outputs are listed; the virtual devices are not.
  ::unsetenv("QD_WAVE_DEVICE");
  const std::uint32_t outputs = waveOutGetNumDevs();
  WAVEOUTCAPS caps{};
  EXPECT_EQ(waveOutGetDevCaps(outputs, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
  const WAVEFORMATEX format = Pcm(44100, 2, 16);
  HWAVEOUT device = nullptr;
  if (outputs == 0) {
    // No sound device: the mapper has nothing to fall back on.
    EXPECT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutMissingDeviceText(WAVE_MAPPER), "No wave output device is available");
  }

  // A virtual device asked for is the only one.
  UseNullDevice();
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  ASSERT_EQ(waveOutGetDevCaps(0, &caps, sizeof(caps)), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Saída nula");
  UseFileDevice();
  EXPECT_EQ(waveOutGetNumDevs(), 1u);
  ASSERT_EQ(waveOutGetDevCaps(WAVE_MAPPER, &caps, sizeof(caps)), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Saída em arquivo WAV");
  EXPECT_EQ(waveOutGetDevCaps(1, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);

  // A number names a device; one that does not exist is refused with words that say so.
  ::setenv("QD_WAVE_DEVICE", std::to_string(outputs + 7).c_str(), 1);
  EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(&device, outputs + 3, &format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(device, nullptr);
  const std::string many = outputs == 0 ? ": there is none."
                           : outputs == 1
                               ? ": there is one, number 0."
                               : ": there are " + std::to_string(outputs) + ", numbered 0 to " +
                                     std::to_string(outputs - 1) + ".";
  EXPECT_EQ(waveOutMissingDeviceText(WAVE_MAPPER), "QD_WAVE_DEVICE=" + std::to_string(outputs + 7) +
                                                       " names no wave output device" + many);
  EXPECT_EQ(waveOutMissingDeviceText(outputs + 3),
            "There is no wave output device number " + std::to_string(outputs + 3) + many);
}

TEST_F(WaveOutApiTest, FormatQueryAcceptsPlayablePcmAndRefusesTheRest) {
  UseNullDevice();
  struct Row {
    const char* name;
    WAVEFORMATEX format;
    MMRESULT expected;
  };
  WAVEFORMATEX adpcm = Pcm(22050, 1, 16);
  adpcm.wFormatTag = 2;
  WAVEFORMATEX badAlign = Pcm(22050, 2, 16);
  badAlign.nBlockAlign = 2;
  WAVEFORMATEX badRate = Pcm(22050, 2, 16);
  badRate.nAvgBytesPerSec = 1000;
  const Row rows[] = {
      {"cd stereo", Pcm(44100, 2, 16), MMSYSERR_NOERROR},
      {"8-bit mono", Pcm(11025, 1, 8), MMSYSERR_NOERROR},
      {"odd rate", Pcm(12345, 1, 16), MMSYSERR_NOERROR},
      {"not pcm", adpcm, WAVERR_BADFORMAT},
      {"12 bits", Pcm(22050, 1, 12), WAVERR_BADFORMAT},
      {"no channels", Pcm(22050, 0, 16), WAVERR_BADFORMAT},
      {"more channels than the device", Pcm(22050, 6, 16), WAVERR_BADFORMAT},
      {"block align disagrees", badAlign, WAVERR_BADFORMAT},
      {"byte rate disagrees", badRate, WAVERR_BADFORMAT},
  };
  for (const Row& row : rows) {
    HWAVEOUT untouched = reinterpret_cast<HWAVEOUT>(0x1234);
    EXPECT_EQ(waveOutOpen(&untouched, WAVE_MAPPER, &row.format, 0, 0, WAVE_FORMAT_QUERY),
              row.expected)
        << row.name;
    EXPECT_EQ(untouched, reinterpret_cast<HWAVEOUT>(0x1234)) << row.name;
  }
  const WAVEFORMATEX format = Pcm(44100, 2, 16);
  HWAVEOUT device = nullptr;
  EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, 0x00070000), MMSYSERR_INVALFLAG);
  EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_FUNCTION),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
}

TEST_F(WaveOutApiTest, FileDeviceIsExclusiveAndInvalidHandlesAreRefused) {
  UseFileDevice();
  const WAVEFORMATEX format = Pcm(8000, 1, 8);
  HWAVEOUT first = nullptr;
  HWAVEOUT second = nullptr;
  ASSERT_EQ(waveOutOpen(&first, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutOpen(&second, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
  EXPECT_EQ(waveOutClose(first), MMSYSERR_NOERROR);
  EXPECT_EQ(ReadFile().size(), 44u);  // an empty but complete WAV file

  MMTIME time{TIME_BYTES, {0}};
  auto blocks = MakeBlocks(1, 8);
  EXPECT_EQ(waveOutGetPosition(first, &time, sizeof(time)), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutWrite(first, blocks[0]->Header(), sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveOutReset(nullptr), MMSYSERR_INVALHANDLE);

  ::setenv("QD_WAVE_DEVICE", ("file:" + (dir_ / "missing" / "x.wav").string()).c_str(), 1);
  EXPECT_EQ(waveOutOpen(&first, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
}

TEST(WaveOutErrorText, StatesEachCodeAndRefusesUnknownOnes) {
  char text[256];
  const std::pair<MMRESULT, const char*> samples[] = {
      {MMSYSERR_BADDEVICEID, "A device ID has been used that is out of range for your system."},
      {MMSYSERR_INVALHANDLE, "The specified device handle is invalid."},
      {WAVERR_BADFORMAT, "An attempt was made to open with an unsupported waveform-audio format."},
  };
  for (const auto& [code, expected] : samples) {
    ASSERT_EQ(waveOutGetErrorText(code, text, sizeof(text)), MMSYSERR_NOERROR);
    EXPECT_STREQ(text, expected);
  }
  for (MMRESULT code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 32u, 33u, 34u, 35u}) {
    ASSERT_EQ(waveOutGetErrorText(code, text, sizeof(text)), MMSYSERR_NOERROR) << code;
    EXPECT_GT(std::strlen(text), 10u) << code;
  }
  EXPECT_EQ(waveOutGetErrorText(12, text, sizeof(text)), MMSYSERR_BADERRNUM);
  EXPECT_EQ(waveOutGetErrorText(999, text, sizeof(text)), MMSYSERR_BADERRNUM);
  char shortText[8];
  ASSERT_EQ(waveOutGetErrorText(MMSYSERR_INVALHANDLE, shortText, sizeof(shortText)),
            MMSYSERR_NOERROR);
  EXPECT_STREQ(shortText, "The spe");
}

TEST(ThreadMessageQueue, DeliversInOrderAcrossThreadsAndRemovesById) {
  ThreadMessageQueue queue;
  Message message;
  EXPECT_FALSE(queue.Get(message, 1ms));
  std::thread([&] {
    for (std::uint32_t id = 1; id <= 5; ++id) queue.Post(0x3BB + id % 3, id, -static_cast<int>(id));
  }).join();
  EXPECT_EQ(queue.RemoveMessages(0x3BB, 0x3BB), 1u);  // id 3
  std::vector<std::uintptr_t> order;
  while (queue.TryGet(message)) order.push_back(message.wParam);
  EXPECT_EQ(order, (std::vector<std::uintptr_t>{1, 2, 4, 5}));
  EXPECT_FALSE(queue.MessagesPending().IsSet());

  std::thread poster([&] {
    std::this_thread::sleep_for(5ms);
    queue.Post(MM_WOM_DONE, 7, 8);
  });
  ASSERT_TRUE(queue.Get(message, kWaitLimit));
  EXPECT_EQ(message.id, MM_WOM_DONE);
  EXPECT_EQ(message.lParam, 8);
  poster.join();
}

}  // namespace
}  // namespace platform
