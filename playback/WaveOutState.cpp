// The output's states and the one place that moves them.
#include "playback/WaveOut.h"

namespace playback {

unsigned TMMWaveOut::ShownFlags(RunState state, bool paused) {
  const unsigned pausedFlag = paused ? wsPaused : 0u;
  switch (state) {
    case RunState::kClosed:
    case RunState::kOpening:
      return wsClosed;
    case RunState::kOpen:
    case RunState::kStarting:
      return wsOpen | pausedFlag;
    case RunState::kStopping:
      return wsOpen;
    case RunState::kPlaying:
    case RunState::kResetting:
    case RunState::kEnding:
      return wsOpen | wsStarted | pausedFlag;
  }
  return wsClosed;
}

bool TMMWaveOut::StartedLocked() const {
  return runState_ == RunState::kPlaying || runState_ == RunState::kResetting ||
         runState_ == RunState::kEnding;
}

bool TMMWaveOut::ChangeStateLocked(Step step) {
  switch (step) {
    case Step::kBeginOpen:
      if (runState_ != RunState::kClosed || closeState_ != CloseState::kNone) return false;
      runState_ = RunState::kOpening;
      paused_ = false;
      break;
    case Step::kDeviceOpened:
      if (runState_ != RunState::kOpening) return false;
      runState_ = RunState::kOpen;
      break;
    case Step::kBeginStart:
      if (runState_ != RunState::kOpen || closeState_ != CloseState::kNone) return false;
      runState_ = RunState::kStarting;
      break;
    case Step::kFinishStart:
      if (runState_ != RunState::kStarting) return false;
      runState_ = RunState::kPlaying;
      break;
    case Step::kPause:
      if (runState_ == RunState::kClosed || runState_ == RunState::kOpening || paused_) {
        return false;
      }
      paused_ = true;
      break;
    case Step::kRestart:
      if (!paused_ || !StartedLocked()) return false;
      paused_ = false;
      break;
    case Step::kBeginReset:
      if (runState_ != RunState::kPlaying && !(runState_ == RunState::kOpen && paused_)) {
        return false;
      }
      runState_ = RunState::kResetting;
      ++resetCount_;
      break;
    case Step::kFinishReset:
      if (runState_ != RunState::kResetting) return false;
      runState_ = RunState::kPlaying;
      break;
    case Step::kEnd:
      if (runState_ != RunState::kPlaying && runState_ != RunState::kStopping) return false;
      runState_ = RunState::kEnding;
      break;
    case Step::kBeginStop:
      if (!StartedLocked() && runState_ != RunState::kStarting &&
          !(runState_ == RunState::kOpen && paused_)) {
        return false;
      }
      runState_ = RunState::kStopping;
      break;
    case Step::kFinishStop:
      if (runState_ != RunState::kStopping) return false;
      runState_ = RunState::kOpen;
      paused_ = false;
      break;
    case Step::kBeginClose:
      if (runState_ == RunState::kClosed || closeState_ == CloseState::kUnderWay) return false;
      closeState_ = CloseState::kUnderWay;
      break;
    case Step::kDeferClose:
      if (closeState_ != CloseState::kUnderWay ||
          (runState_ != RunState::kEnding && runState_ != RunState::kStopping)) {
        return false;
      }
      closeState_ = CloseState::kAfterStop;
      break;
    case Step::kDeviceClosed:
      if (runState_ == RunState::kClosed) return false;
      runState_ = RunState::kClosed;
      paused_ = false;
      break;
    case Step::kClose:
      if (closeState_ != CloseState::kUnderWay) return false;
      runState_ = RunState::kClosed;
      paused_ = false;
      break;
    case Step::kEndClose:
      if (closeState_ != CloseState::kUnderWay) return false;
      closeState_ = CloseState::kNone;
      break;
  }
  shown_ = ShownFlags(runState_, paused_);
  changed_.notify_all();
  return true;
}

bool TMMWaveOut::ChangeState(Step step) {
  std::lock_guard lock(mutex_);
  return ChangeStateLocked(step);
}

bool TMMWaveOut::OwnsRingLocked(const RingOwner& owner) const {
  return runState_ == owner.state && resetCount_ == owner.resetCount;
}

bool TMMWaveOut::OwnsRing(const RingOwner& owner) {
  std::lock_guard lock(mutex_);
  return OwnsRingLocked(owner);
}

bool TMMWaveOut::WaitUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, done);
}

std::int32_t TMMWaveOut::BuffersQueued() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

bool TMMWaveOut::StopPending() const {
  std::lock_guard lock(mutex_);
  return runState_ == RunState::kEnding;
}

}  // namespace playback
