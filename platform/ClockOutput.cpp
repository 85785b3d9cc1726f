#include "platform/ClockOutput.h"

#include <algorithm>

namespace platform {

namespace {

// The longest sleep while a buffer plays, so a very long buffer still goes to the file in parts.
constexpr auto kLongestWait = std::chrono::milliseconds(100);
constexpr auto kShortestWait = std::chrono::microseconds(200);
// Buffers shorter than this are played a few at a time (one wake-up per batch).
constexpr auto kBatch = std::chrono::milliseconds(80);
constexpr std::size_t kScratchMs = 100;  // most bytes copied to the file per Consume call

}  // namespace

ClockOutput::ClockOutput(const WAVEFORMATEX& format, const WaveOutTarget& target, std::string path)
    : WaveOutDevice(format, target), path_(std::move(path)) {}

ClockOutput::~ClockOutput() {
  StopClock();
}

MMRESULT ClockOutput::OpenBackend() {
  if (!path_.empty()) {
    recorder_ = std::make_unique<WaveRecorder>();
    if (!recorder_->Open(path_, format_)) return MMSYSERR_ERROR;
    const std::size_t bytes = std::max<std::size_t>(
        format_.nBlockAlign, std::size_t{format_.nAvgBytesPerSec} * kScratchMs / 1000);
    scratch_.resize(bytes - bytes % format_.nBlockAlign);
  }
  {
    std::lock_guard<std::mutex> lock(clockMutex_);
    RebaseLocked();
  }
  clock_ = std::thread([this] { ClockMain(); });
  return MMSYSERR_NOERROR;
}

MMRESULT ClockOutput::CloseBackend() {
  StopClock();
  if (recorder_ && !recorder_->Finish()) return MMSYSERR_ERROR;
  return MMSYSERR_NOERROR;
}

void ClockOutput::StopClock() {
  {
    std::lock_guard<std::mutex> lock(clockMutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (clock_.joinable()) clock_.join();
}

void ClockOutput::BufferQueued() {
  {
    std::lock_guard<std::mutex> lock(clockMutex_);
    if (!dry_) return;  // the clock thread is already timing a buffer
    kicked_ = true;
  }
  wake_.notify_all();
}

void ClockOutput::SetBackendPaused(bool paused) {
  {
    std::lock_guard<std::mutex> lock(clockMutex_);
    if (paused_ == paused) return;
    if (!paused) {
      RebaseLocked();
    } else {
      TickLocked();  // catch up to now, so the pause takes effect exactly at the current position
    }
    paused_ = paused;
    kicked_ = true;
  }
  wake_.notify_all();
}

void ClockOutput::WithConsumerHalted(const std::function<void()>& work) {
  std::lock_guard<std::mutex> lock(clockMutex_);
  work();
}

std::uint64_t ClockOutput::BackendHeardFrames() {
  return ConsumedBytes() / format_.nBlockAlign;
}

void ClockOutput::ResetBackendPosition() {
  // Runs inside WithConsumerHalted, under clockMutex_. The queue is empty now.
  RebaseLocked();
  dry_ = true;
  kicked_ = true;
  wake_.notify_all();
}

void ClockOutput::RebaseLocked() {
  baseBytes_ = ConsumedBytes();
  baseTime_ = Clock::now();
}

void ClockOutput::ClockMain() {
  std::unique_lock<std::mutex> lock(clockMutex_);
  while (!stop_) {
    if (!paused_) TickLocked();
    const Clock::duration wait = NextWaitLocked();
    const auto woken = [this] { return stop_ || kicked_; };
    if (wait == Clock::duration::zero()) {
      wake_.wait(lock, woken);
    } else {
      wake_.wait_for(lock, wait, woken);
    }
    kicked_ = false;
  }
}

ClockOutput::Clock::duration ClockOutput::NextWaitLocked() {
  if (paused_ || dry_) return Clock::duration::zero();
  const std::uint64_t byteRate = std::uint64_t{format_.nSamplesPerSec} * format_.nBlockAlign;
  // Wake at a buffer's end, at least kBatch from now, so short buffers come back a few at a time.
  const std::size_t left =
      BytesToBufferEnd(static_cast<std::size_t>(byteRate * kBatch.count() / 1000));
  if (left == 0) {
    dry_ = true;  // everything queued was played: wait for the next buffer
    return Clock::duration::zero();
  }
  // Rounded up, so that the wake finds the whole buffer due rather than all but a few bytes.
  const std::uint64_t target = ConsumedBytes() + left - baseBytes_;
  const auto due =
      baseTime_ + std::chrono::microseconds((target * 1000000 + byteRate - 1) / byteRate);
  return std::clamp<Clock::duration>(due - Clock::now(), kShortestWait, kLongestWait);
}

void ClockOutput::TickLocked() {
  if (dry_) {
    if (BytesToBufferEnd() == 0) return;
    RebaseLocked();  // data again after a dry spell: the clock starts from now
    dry_ = false;
  }
  const auto now = Clock::now();
  const auto elapsedUs =
      std::chrono::duration_cast<std::chrono::microseconds>(now - baseTime_).count();
  const std::uint64_t byteRate = std::uint64_t{format_.nSamplesPerSec} * format_.nBlockAlign;
  std::uint64_t due = baseBytes_ + byteRate * static_cast<std::uint64_t>(elapsedUs) / 1000000;
  due -= due % format_.nBlockAlign;
  const std::uint64_t consumed = ConsumedBytes();
  std::uint64_t want = due > consumed ? due - consumed : 0;
  while (want > 0) {
    const std::size_t chunk =
        recorder_ ? std::min<std::uint64_t>(want, scratch_.size()) : static_cast<std::size_t>(want);
    const std::size_t got = Consume(recorder_ ? scratch_.data() : nullptr, chunk);
    if (recorder_ && got > 0) recorder_->Append(scratch_.data(), got);
    want -= got;
    if (got < chunk) {
      dry_ = true;  // the queue ran dry: the clock waits for new data instead of running ahead
      break;
    }
  }
}

}  // namespace platform
