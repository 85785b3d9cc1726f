#include "platform/ClockOutput.h"

#include <algorithm>

namespace platform {

namespace {

constexpr auto kTick = std::chrono::milliseconds(5);
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

void ClockOutput::SetBackendPaused(bool paused) {
  std::lock_guard<std::mutex> lock(clockMutex_);
  if (paused_ == paused) return;
  if (!paused) {
    // Catch up to now first so the pause takes effect exactly at the current position.
    RebaseLocked();
  } else {
    TickLocked();
  }
  paused_ = paused;
}

void ClockOutput::WithConsumerHalted(const std::function<void()>& work) {
  std::lock_guard<std::mutex> lock(clockMutex_);
  work();
}

std::uint64_t ClockOutput::BackendHeardFrames() {
  return ConsumedBytes() / format_.nBlockAlign;
}

void ClockOutput::ResetBackendPosition() {
  RebaseLocked();  // runs inside WithConsumerHalted, under clockMutex_
}

void ClockOutput::RebaseLocked() {
  baseBytes_ = ConsumedBytes();
  baseTime_ = Clock::now();
}

void ClockOutput::ClockMain() {
  std::unique_lock<std::mutex> lock(clockMutex_);
  while (!stop_) {
    wake_.wait_for(lock, kTick, [this] { return stop_; });
    if (stop_) break;
    if (!paused_) TickLocked();
  }
}

void ClockOutput::TickLocked() {
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
      RebaseLocked();  // the queue ran dry: the clock waits for new data instead of running ahead
      break;
    }
  }
}

}  // namespace platform
