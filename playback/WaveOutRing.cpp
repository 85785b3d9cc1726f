// The ring of device buffers: filling and writing them, the completion handler that hands each
// returned buffer on and refills it, and taking them all back for a reset.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/GlobalMemory.h"
#include "platform/Thread.h"
#include "platform/WaveHeaderFlags.h"
#include "playback/WaveOut.h"
#include "playback/WaveOutTexts.h"

namespace playback {
namespace {

using stream::PWaveHdr;
namespace text = waveout_text;

// A returned buffer has its done flag already; a polled wait covers a device that is late.
constexpr int kDonePolls = 65000;
constexpr long kDonePollMs = 2;

platform::WAVEHDR* AsWaveHdr(PWaveHdr header) {
  return reinterpret_cast<platform::WAVEHDR*>(header);
}

}  // namespace

void SetRingLink(PWaveHdr header, PWaveHdr next) {
  const std::ptrdiff_t distance = reinterpret_cast<char*>(next) - reinterpret_cast<char*>(header);
  const bool fits = next != nullptr && distance >= INT32_MIN && distance <= INT32_MAX;
  header->extRingNext = fits ? static_cast<std::uint32_t>(static_cast<std::int32_t>(distance)) : 0;
}

PWaveHdr RingLink(PWaveHdr header) {
  const auto distance = static_cast<std::int32_t>(header->extRingNext);
  if (distance == 0) return nullptr;
  return reinterpret_cast<PWaveHdr>(reinterpret_cast<char*>(header) + distance);
}

// ---- filling and writing ----

PWaveHdr TMMWaveOut::AllocateHeader() {
  const auto size = static_cast<std::size_t>(GetBufferSize());
  void* block = allocator_.AllocBuffer(platform::kGHnd, stream::kWaveHdrSize + size);
  if (block == nullptr) Error(text::kNoMemory);
  std::memset(block, 0, stream::kWaveHdrSize + size);  // reused blocks start zero-filled too
  auto* header = static_cast<PWaveHdr>(block);
  header->SetData(static_cast<char*>(block) + stream::kWaveHdrSize);
  header->dwBufferLength = static_cast<std::uint32_t>(size);
  return header;
}

void TMMWaveOut::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const auto capacity = static_cast<std::uint32_t>(GetBufferSize());
  const bool looping = looping_;
  lpWaveHdr->dwBufferLength = capacity;
  lpWaveHdr->dwBytesRecorded = 0;
  lpWaveHdr->Looping = looping ? -1 : 0;
  if (looping) {
    lpWaveHdr->LoopCount = loopCount_;
    lpWaveHdr->LoopsLeft = loopsLeft_;
    lpWaveHdr->LoopMark = 0;
  }
  TMMCustomWaveOutComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  // A source never makes the device play past the block.
  if (lpWaveHdr->dwBytesRecorded > capacity) lpWaveHdr->dwBytesRecorded = capacity;
  lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
  if (looping) loopsLeft_ = lpWaveHdr->LoopsLeft;
}

std::int32_t TMMWaveOut::LoadHeader(PWaveHdr hdr) {
  moreData_ = false;
  bool more = false;
  BufferLoad(hdr, more);
  const auto bytes = static_cast<std::int32_t>(hdr->dwBytesRecorded);
  moreData_ = more && bytes > 0;
  return bytes;
}

void TMMWaveOut::WriteHeader(PWaveHdr hdr, const RingOwner& owner) {
  if (OnBufferFilled) OnBufferFilled(this, hdr);
  platform::WAVEHDR* header = AsWaveHdr(hdr);
  // Under the lock, so that a stop or reset either sees the buffer queued (and takes it back)
  // or keeps it from the device.
  std::unique_lock lock(mutex_);
  if (!OwnsRingLocked(owner)) {
    platform::ChangeWaveHeaderFlags(header, platform::WHDR_DONE, 0);  // never reaches the device
    return;
  }
  platform::ChangeWaveHeaderFlags(header, platform::WHDR_PREPARED, platform::WHDR_DONE);
  hdr->extBytesPlayed = hdr->dwBytesRecorded;
  ++queued_;
  const platform::MMRESULT result = platform::waveOutWrite(device_, header, sizeof(*header));
  if (result == platform::MMSYSERR_NOERROR) return;
  --queued_;
  platform::ChangeWaveHeaderFlags(header, platform::WHDR_DONE, 0);
  lock.unlock();
  Check(result, text::kPrefixWrite);
}

bool TMMWaveOut::WaitForDoneFlag(PWaveHdr hdr) {
  for (int i = 0; i < kDonePolls; ++i) {
    if ((platform::LoadWaveHeaderFlags(AsWaveHdr(hdr)) & platform::WHDR_DONE) != 0) return true;
    platform::SleepMs(kDonePollMs);
  }
  return (platform::LoadWaveHeaderFlags(AsWaveHdr(hdr)) & platform::WHDR_DONE) != 0;
}

void TMMWaveOut::ReleaseHeaders() {
  // Every allocated header is unprepared before it is freed, also one that was prepared but
  // never written because its first load came back empty.
  for (PWaveHdr& slot : ring_) {
    if (slot == nullptr) continue;
    if (device_ != nullptr) {
      if (!WaitForDoneFlag(slot)) {
        platform::ChangeWaveHeaderFlags(AsWaveHdr(slot), platform::WHDR_DONE, 0);
      }
      platform::waveOutUnprepareHeader(device_, AsWaveHdr(slot), sizeof(platform::WAVEHDR));
    }
    void* block = slot;
    allocator_.FreeBuffer(block);
    slot = nullptr;
  }
}

// ---- completions ----

void TMMWaveOut::CompletionHandler(const RingOwner& owner) {
  try {
    try {
      // Buffers come back in the order they were written.
      PWaveHdr hdr = ring_[playIndex_];
      playIndex_ = (playIndex_ + 1) % buffersInUse_;
      hdr->dwBytesRecorded = hdr->extBytesPlayed;
      PWaveHdr playing = ring_[playIndex_];
      playing->dwBytesRecorded = playing->extBytesPlayed;
      SetRingLink(hdr, playing);
      TMMCustomWaveOutComponent::BufferReady(hdr);

      const std::uint32_t position = DevicePosition();
      NotePosition(position);
      if (moreData_ && OwnsRing(owner)) Refill(hdr, owner, position);
    } catch (...) {
      FireError();
      throw;
    }
  } catch (...) {
    LeaveHandler(true);
    throw;
  }
  LeaveHandler(false);
}

void TMMWaveOut::Refill(PWaveHdr hdr, const RingOwner& owner, std::uint32_t position) {
  if (looping_ && hdr->LoopMark != 0) {
    {
      std::lock_guard lock(mutex_);
      loopStart_ = position;
    }
    hdr->LoopMark = 0;
    NotifyLoop();
    if (OnLooping) OnLooping(this);
  }
  WaitForDoneFlag(hdr);
  // A stop or reset that came meanwhile owns the ring now: an empty load is no failure then.
  if (LoadHeader(hdr) <= 0 && OwnsRing(owner)) Error(text::kFillError);
  WriteHeader(hdr, owner);
}

void TMMWaveOut::LeaveHandler(bool failed) {
  {
    std::lock_guard lock(mutex_);
    --handlerDepth_;
    if (handlerDepth_ != 0) return;
    // Either a stop came while the handler ran, or the last buffer is back: the main thread
    // stops. A reset under way decides for itself.
    const bool drained = runState_ == RunState::kPlaying && queued_ == 0 && forwarded_ == 0;
    if (drained) ChangeStateLocked(Step::kEnd);
    if (runState_ != RunState::kEnding) return;
  }
  const platform::MMRESULT result =
      device_ != nullptr ? platform::waveOutPause(device_) : platform::MMSYSERR_NOERROR;
  PostToWindow(kStopMessage);
  if (!failed) Check(result, text::kPrefixPause);
}

// ---- taking the buffers back ----

void TMMWaveOut::ResetDevice() {
  // The device notifies every queued buffer before it returns; the lock must not be held.
  if (device_ == nullptr) return;
  const platform::MMRESULT result = platform::waveOutReset(device_);
  if (result > platform::MMSYSERR_NOERROR) Check(result, text::kPrefixReset);
}

void TMMWaveOut::ResetBuffers() {
  RingOwner owner;
  {
    std::lock_guard lock(mutex_);
    if (!ChangeStateLocked(Step::kBeginReset)) return;
    owner = RingOwner{RunState::kResetting, resetCount_};
  }
  try {
    Check(platform::waveOutPause(device_), text::kPrefixPause);
    if (!FlushCompletions()) Error(std::string(text::kPrefixReset) + text::kThreadStuck);
    ResetDevice();
    WaitUntil(kResetWait, [this] { return queued_ <= 0; });
    Check(platform::waveOutRestart(device_), text::kPrefixRestart);
    Check(platform::waveOutPause(device_), text::kPrefixPause);
    RewriteRing(owner);
  } catch (...) {
    FireError();
    Close();
    throw;
  }
}

void TMMWaveOut::RewriteRing(const RingOwner& owner) {
  playIndex_ = 0;
  {
    std::lock_guard lock(mutex_);
    queued_ = 0;
    ClearPositionLocked();
  }
  Reset();
  moreData_ = true;
  std::int32_t rewritten = 0;
  for (std::int32_t i = 0; i < numBuffers_ && ring_[i] != nullptr && moreData_ && OwnsRing(owner);
       ++i) {
    if (LoadHeader(ring_[i]) < 1) break;
    WriteHeader(ring_[i], owner);
    ++rewritten;
  }
  {
    std::lock_guard lock(mutex_);
    // A Stop or Close from a handler of the reload has taken over.
    if (!OwnsRingLocked(owner)) return;
    buffersInUse_ = rewritten;
    ChangeStateLocked(Step::kFinishReset);
  }
  if (!HasState(wsPaused)) Check(platform::waveOutRestart(device_), text::kPrefixRestart);
  if (rewritten == 0) Stop();
}

void TMMWaveOut::PauseForUpstreamDriver() {
  // The driver upstream goes on delivering from where it is: give the queued buffers back and
  // keep the position heard so far.
  const std::uint32_t heard = DevicePosition();
  {
    std::lock_guard lock(mutex_);
    if (!ChangeStateLocked(Step::kBeginReset)) return;
    positionOffset_ += heard;
  }
  if (!FlushCompletions()) Error(std::string(text::kPrefixReset) + text::kThreadStuck);
  ResetDevice();
  playIndex_ = 0;
  std::lock_guard lock(mutex_);
  queued_ = 0;
  ChangeStateLocked(Step::kFinishReset);
}

}  // namespace playback
