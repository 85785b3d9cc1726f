#include "platform/WaveOutDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WaveHeaderFlags.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// A backend whose consumer and listener are the test itself: Take plays bytes, Hear says how many
// frames have reached the listener.
class ScriptedOutput : public WaveOutDevice {
 public:
  using WaveOutDevice::WaveOutDevice;
  ~ScriptedOutput() override = default;

  std::size_t Take(std::size_t bytes) { return Consume(nullptr, bytes); }
  void Hear(std::uint64_t frames) {
    heard_.store(frames);
    WakeNotifier();
  }

 protected:
  MMRESULT OpenBackend() override { return MMSYSERR_NOERROR; }
  MMRESULT CloseBackend() override { return MMSYSERR_NOERROR; }
  void SetBackendPaused(bool) override {}
  void WithConsumerHalted(const std::function<void()>& work) override { work(); }
  std::uint64_t BackendHeardFrames() override { return heard_.load(); }
  void ResetBackendPosition() override { heard_.store(0); }

 private:
  std::atomic<std::uint64_t> heard_{0};
};

class DoneList {
 public:
  static void Proc(HWAVEOUT, std::uint32_t message, std::uintptr_t instance, std::uintptr_t,
                   std::uintptr_t header) {
    if (message != MM_WOM_DONE) return;
    auto* self = reinterpret_cast<DoneList*>(instance);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->done_.push_back(reinterpret_cast<WAVEHDR*>(header));
  }
  std::vector<WAVEHDR*> Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }
  // Waits (bounded) until `count` buffers came back.
  bool WaitFor(std::size_t count) {
    for (int i = 0; i < 5000 && Done().size() < count; ++i) std::this_thread::sleep_for(1ms);
    return Done().size() >= count;
  }

 private:
  std::mutex mutex_;
  std::vector<WAVEHDR*> done_;
};

struct Buffer {
  explicit Buffer(std::uint32_t bytes) : storage(sizeof(WAVEHDR) + bytes) {
    Header()->lpData = sizeof(WAVEHDR);
    Header()->dwBufferLength = bytes;
    ChangeWaveHeaderFlags(Header(), WHDR_PREPARED, 0);
  }
  WAVEHDR* Header() { return reinterpret_cast<WAVEHDR*>(storage.data()); }
  std::vector<char> storage;
};

TEST(WaveOutDeviceTest, BuffersComeBackWhenHeardNotWhenTakenAndResetReturnsTheRestAtOnce) {
  const WAVEFORMATEX format{WAVE_FORMAT_PCM_TAG, 2, 44100, 176400, 4, 16, 0};
  DoneList list;
  ScriptedOutput device(
      format, WaveOutTarget{CALLBACK_FUNCTION, reinterpret_cast<std::uintptr_t>(&DoneList::Proc),
                            reinterpret_cast<std::uintptr_t>(&list)});
  ASSERT_EQ(device.Open(), MMSYSERR_NOERROR);
  Buffer buffers[3] = {Buffer(400), Buffer(400), Buffer(400)};  // 100 frames each
  for (Buffer& buffer : buffers) ASSERT_EQ(device.Write(buffer.Header()), MMSYSERR_NOERROR);

  // Everything taken, nothing heard yet: the sound is still on its way, nothing comes back.
  EXPECT_EQ(device.Take(1200), 1200u);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(list.Done().empty());
  EXPECT_EQ(device.HeardFrames(), 0u);

  // Heard up to the middle of the second buffer: the first comes back, done and out of the queue.
  device.Hear(150);
  ASSERT_TRUE(list.WaitFor(1));
  std::this_thread::sleep_for(30ms);
  ASSERT_EQ(list.Done().size(), 1u);
  EXPECT_EQ(list.Done()[0], buffers[0].Header());
  EXPECT_EQ(LoadWaveHeaderFlags(buffers[0].Header()) & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  EXPECT_EQ(device.HeardFrames(), 150u);

  // The listener never hears more than was taken, and the position never goes back.
  device.Hear(100000);
  ASSERT_TRUE(list.WaitFor(3));
  EXPECT_EQ(device.HeardFrames(), 300u);
  device.Hear(10);
  EXPECT_EQ(device.HeardFrames(), 300u);

  // A buffer taken in part and one not taken at all come back at once on a reset, position 0.
  ASSERT_EQ(device.Write(buffers[0].Header()), MMSYSERR_NOERROR);
  ASSERT_EQ(device.Write(buffers[1].Header()), MMSYSERR_NOERROR);
  EXPECT_EQ(device.Take(100), 100u);
  EXPECT_EQ(device.Reset(), MMSYSERR_NOERROR);
  ASSERT_EQ(list.Done().size(), 5u);  // notified before Reset returned
  EXPECT_EQ(list.Done()[3], buffers[0].Header());
  EXPECT_EQ(list.Done()[4], buffers[1].Header());
  EXPECT_FALSE(device.HasQueuedBuffers());
  EXPECT_EQ(device.HeardFrames(), 0u);
  EXPECT_EQ(device.Close(), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace platform
