#include "meters/Connector.h"

#include <QPointer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include "meters/ConnectorRegistry.h"
#include "meters/Level.h"
#include "platform/Dispatcher.h"
#include "platform/MainThread.h"
#include "platform/TimerService.h"
#include "sources/AcmChain.h"

namespace meters {

using stream::PWaveHdr;
using stream::TWaveFormatEx;

namespace {

constexpr std::uint8_t kSilence8Bit = 128;
constexpr std::uint8_t kSilence16Bit = 0;

const char* const kRealTimeWhileOpen = "Change to property while device was open";
const char* const kNoTimers = "Not enough timers available";

// The header the device is playing now, which an output device links from each header it hands
// back (a byte distance from the header, like lpData); the header itself when there is no link.
PWaveHdr NowPlaying(PWaveHdr hdr) {
  if (hdr->extRingNext == 0) return hdr;
  const auto distance = static_cast<std::int32_t>(hdr->extRingNext);
  return reinterpret_cast<PWaveHdr>(reinterpret_cast<char*>(hdr) + distance);
}

}  // namespace

// ---- construction ----

TMMConnector::TMMConnector(stream::TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
  Register();
}

TMMConnector::~TMMConnector() {
  Destroying();
  Stop();
  StopPauseTimer();
  for (QMetaObject::Connection& watch : levelWatch_) QObject::disconnect(watch);
  Unregister();
}

void TMMConnector::Register() {
  if (registered_) return;
  ConnectorRegistry& r = ConnectorRegistry::Instance();
  if (r.list.empty()) {
    r.window.store(platform::Dispatcher::Instance().CreateWindow(&ConnectorRegistry::WindowProc));
  }
  id_ = r.nextId++;
  r.list.push_back(this);
  r.RecomputeLargestSpeed();
  registered_ = true;
}

void TMMConnector::Unregister() {
  if (!registered_) return;
  registered_ = false;
  ConnectorRegistry& r = ConnectorRegistry::Instance();
  std::erase(r.list, this);
  // Messages still queued for this connector find it gone and are dropped; those of the other
  // connectors stay.
  if (r.list.empty()) {
    platform::Dispatcher::Instance().DestroyWindow(r.window.exchange(platform::kNoWindow));
    r.StopLoop();
    r.runningAutoTriggered = 0;
    r.RemoveIdleHandler();
  } else {
    r.RecomputeLargestSpeed();
  }
}

void TMMConnector::ApplyDesigning(bool value) {
  TMMDSPComponent::ApplyDesigning(value);
  if (!value) Register();
}

// ---- properties ----

void TMMConnector::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (InState(stream::csDesigning)) return;
  if (!value) {
    LeaveRunning();
    ResetLevels();
  } else if (state_ != State::Idle && realTime_) {
    BeginRunning();
  }
}

void TMMConnector::SetAutoTrigger(bool value) {
  if (value == autoTrigger_) return;
  if (!value) {
    LeaveRunning();
    autoTrigger_ = false;
    return;
  }
  autoTrigger_ = true;
  if (state_ != State::Idle && enabled_ && realTime_) BeginRunning();
}

void TMMConnector::SetSpeed(std::int32_t value) {
  speed_ = std::clamp(value, kMinSpeed, kMaxSpeed);
  if (registered_) ConnectorRegistry::Instance().RecomputeLargestSpeed();
}

void TMMConnector::SetRealTime(bool value) {
  if (Opened()) throw EMMConnectorError(kRealTimeWhileOpen);
  realTime_ = value;
}

bool TMMConnector::EnterIdle() const {
  return ConnectorRegistry::Instance().enterIdle.load();
}

void TMMConnector::SetEnterIdle(bool value) {
  ConnectorRegistry::Instance().enterIdle.store(value);
}

TMMLevel* TMMConnector::Level1() const {
  platform::CriticalSectionLock lock(cs_);
  return levels_[0];
}

TMMLevel* TMMConnector::Level2() const {
  platform::CriticalSectionLock lock(cs_);
  return levels_[1];
}

void TMMConnector::SetLevel1(TMMLevel* value) {
  SetLevelSlot(0, value);
}

void TMMConnector::SetLevel2(TMMLevel* value) {
  SetLevelSlot(1, value);
}

void TMMConnector::SetLevelSlot(int slot, TMMLevel* value) {
  {
    platform::CriticalSectionLock lock(cs_);
    if (value == levels_[slot]) return;
    // Only a meter is refused for sitting in the other slot: clearing a slot always works.
    if (value != nullptr && value == levels_[1 - slot]) return;
    levels_[slot] = value;
    slices_.DropPending();
  }
  QObject::disconnect(levelWatch_[slot]);
  if (value == nullptr) return;
  levelWatch_[slot] =
      QObject::connect(value, &QObject::destroyed, [this](QObject* gone) { LevelDestroyed(gone); });
  FormatToMeters();
}

void TMMConnector::LevelDestroyed(QObject* level) {
  platform::CriticalSectionLock lock(cs_);
  for (TMMLevel*& slot : levels_) {
    if (slot != nullptr && static_cast<QObject*>(slot) == level) slot = nullptr;
  }
}

void TMMConnector::SetClock(TMMMicroClock clock) {
  clock_ = std::move(clock);
}

std::int64_t TMMConnector::Now() const {
  return ReadClock(clock_);
}

std::int64_t TMMConnector::LevelSlicesShown() const {
  platform::CriticalSectionLock lock(cs_);
  return levelSlices_;
}

bool TMMConnector::LevelPending() const {
  platform::CriticalSectionLock lock(cs_);
  return slices_.Pending();
}

bool TMMConnector::RefreshLoopActive() {
  const ConnectorRegistry& r = ConnectorRegistry::Instance();
  return r.loop && r.loop->isActive();
}

std::chrono::milliseconds TMMConnector::RefreshLoopInterval() {
  const ConnectorRegistry& r = ConnectorRegistry::Instance();
  return r.loop ? r.loop->intervalAsDuration() : r.LoopInterval();
}

// ---- format ----

void TMMConnector::SetPWaveFormat(const TWaveFormatEx* format) {
  TMMDSPComponent::SetPWaveFormat(format);
  FormatToMeters();
}

void TMMConnector::FormatToMeters() {
  const TWaveFormatEx* input = GetPWaveFormat();
  if (input == nullptr) return;
  TWaveFormatEx format{};
  if (state_ != State::Idle && meterFormat_) {
    format = *meterFormat_;
  } else if (input->wFormatTag == stream::WAVE_FORMAT_PCM) {
    pcm_ = true;
    format = *input;
  } else {
    pcm_ = false;
    converted_ = false;
    if (!autoConvert_) return;
    format = sources::SuggestPCM(input);
    if (format.wFormatTag == 0) return;
    converted_ = sources::CanConvertChain(input, &format, sources::cqLow);
    if (!converted_) return;
  }
  silence_ = format.wBitsPerSample == 8 ? kSilence8Bit : kSilence16Bit;
  TMMLevel* levels[2];
  {
    platform::CriticalSectionLock lock(cs_);
    std::copy(std::begin(levels_), std::end(levels_), levels);
  }
  for (TMMLevel* level : levels) {
    if (level != nullptr) level->SetLevelFormat(&format);
  }
}

// ---- lifecycle ----

void TMMConnector::Start() {
  TMMDSPComponent::Start();
  const TWaveFormatEx* input = GetPWaveFormat();
  if (InState(stream::csDesigning) || input == nullptr || state_ != State::Idle) return;

  const std::int32_t bufferSize = std::max(GetBufferSize(), 1);
  stream::WaveFormatPtr format;
  std::unique_ptr<sources::AcmChain> conversion;
  pcm_ = false;
  converted_ = false;
  if (input->wFormatTag == stream::WAVE_FORMAT_PCM) {
    pcm_ = true;
    format = stream::CopyWaveFormat(input);
  } else if (autoConvert_) {
    const TWaveFormatEx suggested = sources::SuggestPCM(input);
    if (suggested.wFormatTag != 0) {
      conversion = sources::AcmChain::Build(input, &suggested, sources::cqLow,
                                            static_cast<std::uint32_t>(bufferSize));
    }
    if (conversion) {
      converted_ = true;
      format = stream::CopyWaveFormat(&suggested);
    }
  }

  {
    platform::CriticalSectionLock lock(cs_);
    slices_.Clear();
    levelSlices_ = 0;
    if (!pcm_ && !converted_) return;  // nothing the meters can show: idle for this run
    meterFormat_ = std::move(format);
    conversion_ = std::move(conversion);
    blockLimit_ = bufferSize;
    state_ = State::Started;
  }
  if (registered_) ConnectorRegistry::Instance().RecomputeLargestSpeed();
  FormatToMeters();
  BeginRunning();
}

void TMMConnector::BeginRunning() {
  if (!enabled_ || !realTime_) return;
  ConnectorRegistry& r = ConnectorRegistry::Instance();
  if (autoTrigger_ && r.enterIdle.load()) r.InstallIdleHandler();
  platform::Dispatcher::Instance().PostMessage(r.window.load(), kStartMessage, 0,
                                               static_cast<std::intptr_t>(id_));
}

void TMMConnector::HandleStartMessage() {
  if (state_ == State::Idle) return;
  pendingTriggers_.store(0);
  state_ = State::Running;
  if (!autoTrigger_) return;
  ConnectorRegistry& r = ConnectorRegistry::Instance();
  if (!countedInLoop_) {
    countedInLoop_ = true;
    ++r.runningAutoTriggered;
  }
  r.StartLoop();
}

void TMMConnector::LeaveRunning() {
  if (state_ == State::Running) state_ = State::Started;
  ConnectorRegistry& r = ConnectorRegistry::Instance();
  if (countedInLoop_) {
    countedInLoop_ = false;
    --r.runningAutoTriggered;
  }
  if (r.runningAutoTriggered <= 0) r.RemoveIdleHandler();
  r.StopLoopWhenIdle();  // no timer runs while no connector does
}

void TMMConnector::Pause() {
  if (!InState(stream::csDesigning) && state_ != State::Idle && !paused_) {
    paused_ = true;
    {
      platform::CriticalSectionLock lock(cs_);
      slices_.Fill(silence_);
    }
    if (realTime_) StartPauseTimer();
  }
  TMMDSPComponent::Pause();
}

void TMMConnector::Restart() {
  if (!InState(stream::csDesigning) && paused_) {
    paused_ = false;
    StopPauseTimer();
  }
  TMMDSPComponent::Restart();
}

void TMMConnector::Reset() {
  if (!InState(stream::csDesigning) && state_ != State::Idle) {
    platform::CriticalSectionLock lock(cs_);
    slices_.Fill(silence_);
  }
  TMMDSPComponent::Reset();
}

void TMMConnector::Stop() {
  if (!InState(stream::csDesigning) && state_ != State::Idle) {
    LeaveRunning();
    state_ = State::Idle;
    paused_ = false;
    StopPauseTimer();  // outside the lock: a tick that runs now takes it
    {
      platform::CriticalSectionLock lock(cs_);
      conversion_.reset();
      converted_ = false;
      meterFormat_.reset();
      slices_.Clear();
    }
    if (refreshOnStop_) ResetLevels();
  }
  TMMDSPComponent::Stop();
}

void TMMConnector::ResetLevels() {
  TMMLevel* levels[2];
  {
    platform::CriticalSectionLock lock(cs_);
    std::copy(std::begin(levels_), std::end(levels_), levels);
  }
  for (TMMLevel* level : levels) {
    if (level != nullptr) level->ResetLevel();
  }
}

// ---- pause timer ----

void TMMConnector::StartPauseTimer() {
  if (pauseTimer_ != 0) return;
  std::int32_t periodMs = kMinPauseIntervalMs;
  const std::int64_t bufferSize = GetBufferSize();
  const std::int64_t bytesPerSecond = meterFormat_ ? meterFormat_->nAvgBytesPerSec : 0;
  if (bufferSize <= kMaxTimedPauseBuffer && bytesPerSecond > 0) {
    // The buffer's duration, rounded to the nearest millisecond (halves up).
    periodMs = static_cast<std::int32_t>((bufferSize * 1000 + bytesPerSecond / 2) / bytesPerSecond);
  }
  periodMs = std::max(periodMs, kMinPauseIntervalMs);
  try {
    pauseTimer_ = static_cast<std::int64_t>(platform::TimerService::Instance().Add(
        std::chrono::milliseconds(periodMs), [this] { PauseTick(); }));
  } catch (const std::system_error&) {
    throw EOutOfResources(kNoTimers);
  }
}

void TMMConnector::StopPauseTimer() {
  if (pauseTimer_ == 0) return;
  platform::TimerService::Instance().Remove(
      static_cast<platform::TimerService::EntryId>(pauseTimer_));
  pauseTimer_ = 0;
}

void TMMConnector::PauseTick() {
  // The silent block is shown again from its start, so the meters fall back to zero.
  const std::int64_t now = Now();
  platform::CriticalSectionLock lock(cs_);
  slices_.Repeat(now, synchronize_.load());
  if (!HasLevelsLocked()) slices_.DropPending();
}

// ---- data path ----

void TMMConnector::BufferReady(PWaveHdr lpWaveHdr) {
  if (lpWaveHdr != nullptr) {
    // With Synchronize the meters follow the buffer the device has just begun to play.
    PWaveHdr shown = lpWaveHdr;
    if (synchronize_.load() && lpWaveHdr->dwBytesRecorded != 0) shown = NowPlaying(lpWaveHdr);
    DataArrived(shown->Data(), static_cast<std::int32_t>(shown->dwBytesRecorded));
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  if (lpWaveHdr != nullptr) {
    DataArrived(lpWaveHdr->Data(), static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded));
  }
}

void TMMConnector::DataArrived(const void* data, std::int32_t bytes) {
  if (!enabled_ || paused_ || !(pcm_ || converted_) || data == nullptr || bytes <= 0) return;
  const std::int64_t now = Now();
  {
    platform::CriticalSectionLock lock(cs_);
    if (state_ == State::Idle) return;
    std::int32_t n = std::min(bytes, GetBufferSize());
    if (conversion_) {
      n = std::min<std::int32_t>(n, static_cast<std::int32_t>(conversion_->ChunkSize()));
      std::memcpy(conversion_->SourceBuffer(), data, static_cast<std::size_t>(n));
      const std::int64_t produced = conversion_->ConvertStep(static_cast<std::uint32_t>(n));
      if (produced <= 0) return;
      n = static_cast<std::int32_t>(produced);
      std::memcpy(slices_.NextBlock(static_cast<std::size_t>(n)), conversion_->OutputBuffer(),
                  static_cast<std::size_t>(n));
    } else {
      n = std::min(n, blockLimit_);
      std::memcpy(slices_.NextBlock(static_cast<std::size_t>(n)), data,
                  static_cast<std::size_t>(n));
    }
    // Synchronized, the slices of the previous block that fell due before this one arrived
    // are still shown: a refresh may come several slices after the last.
    slices_.Arrived(n, now, synchronize_.load());
    if (!HasLevelsLocked()) slices_.DropPending();
  }
  if (!realTime_ && autoTrigger_) Refresh();
}

bool TMMConnector::RefreshAllowed() const {
  return enabled_ && (state_ == State::Running || (!realTime_ && state_ != State::Idle));
}

void TMMConnector::Refresh() {
  if (!RefreshAllowed()) return;
  QPointer<TMMLevel> feed[2];
  std::int32_t window = 0;
  int count = 0;
  // Taken out while the meters read it, so that a refresh from one of their handlers has its
  // own; kept for the next round, so a round allocates nothing.
  std::vector<std::uint8_t> slices = std::move(feed_);
  slices.clear();
  {
    platform::CriticalSectionLock lock(cs_);
    if (slices_.Pending()) {
      for (const TMMLevel* level : levels_) {
        if (level != nullptr) window = std::max(window, level->WindowSizeBytes());
      }
      const std::int64_t bytesPerSecond =
          synchronize_.load() && meterFormat_ ? meterFormat_->nAvgBytesPerSec : 0;
      count = slices_.Take(Now(), window, bytesPerSecond, slices);
      feed[0] = levels_[0];
      feed[1] = levels_[1];
      levelSlices_ += count;
    }
  }
  // Each meter reads its own channel from the same windows, one after another; with sound in
  // flight but no window due yet, a held peak still moves (the meters are set only then).
  for (const QPointer<TMMLevel>& level : feed) {
    if (!level) continue;
    if (count > 0) {
      level->FeedLevels(slices.data(), count, window);
    } else {
      level->FeedNothing();
    }
  }
  feed_ = std::move(slices);
  if (OnTrigger) OnTrigger(this);
}

void TMMConnector::Trigger() {
  if (autoTrigger_ || !RefreshAllowed()) return;
  if (platform::IsMainThread()) {
    if (pendingTriggers_.load() == 0) Refresh();
    return;
  }
  std::int32_t none = 0;
  if (!pendingTriggers_.compare_exchange_strong(none, 1)) return;  // one request at a time
  platform::Dispatcher::Instance().PostMessage(ConnectorRegistry::Instance().window.load(),
                                               kTriggerMessage, 0, static_cast<std::intptr_t>(id_));
}

}  // namespace meters
