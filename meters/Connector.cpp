#include "meters/Connector.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

#include "meters/Level.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/ExceptionHandler.h"
#include "platform/MainThread.h"
#include "platform/TimerService.h"
#include "sources/AcmChain.h"

namespace meters {

using stream::PWaveHdr;
using stream::TWaveFormatEx;

namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
// The refresh loop runs about once a millisecond; with an idle handler installed it runs
// whenever the event loop has nothing else to do.
constexpr std::chrono::milliseconds kLoopInterval{1};
constexpr std::chrono::milliseconds kIdleLoopInterval{0};
constexpr std::uint8_t kSilence8Bit = 128;
constexpr std::uint8_t kSilence16Bit = 0;

const char* const kRealTimeWhileOpen = "Change to property while device was open";
const char* const kNoTimers = "Not enough timers available";

bool Terminating() {
  return QCoreApplication::instance() == nullptr || QCoreApplication::closingDown();
}

// The header the device is playing now, which an output device links from each header it hands
// back (a byte distance from the header, like lpData); the header itself when there is no link.
PWaveHdr NowPlaying(PWaveHdr hdr) {
  if (hdr->extRingNext == 0) return hdr;
  const auto distance = static_cast<std::int32_t>(hdr->extRingNext);
  return reinterpret_cast<PWaveHdr>(reinterpret_cast<char*>(hdr) + distance);
}

}  // namespace

// What all connectors share: the live list, the hidden window, the refresh loop and its count of
// running auto-triggered connectors, the largest Speed, EnterIdle and the idle handler.
// Threading: main thread, except that the window handle and EnterIdle are read from any thread.
struct ConnectorRegistry {
  std::vector<TMMConnector*> list;  // not owned
  std::atomic<platform::WindowHandle> window{platform::kNoWindow};
  std::int32_t runningAutoTriggered = 0;
  std::int32_t largestSpeed = TMMConnector::kMaxSpeed;
  std::atomic<bool> enterIdle{false};
  // The idle handler: while installed the loop timer fires whenever Qt's loop is idle.
  bool idleHandlerInstalled = false;
  QPointer<QTimer> loop;  // owned by the application object
  std::uint64_t nextId = 1;

  static ConnectorRegistry& Instance() {
    static ConnectorRegistry registry;
    return registry;
  }

  TMMConnector* Find(std::uint64_t id) const {
    for (TMMConnector* c : list) {
      if (c->id_ == id) return c;
    }
    return nullptr;
  }

  void RecomputeLargestSpeed() {
    largestSpeed = TMMConnector::kMinSpeed;
    for (const TMMConnector* c : list) largestSpeed = std::max(largestSpeed, c->speed_);
  }

  std::chrono::milliseconds LoopInterval() const {
    return idleHandlerInstalled ? kIdleLoopInterval : kLoopInterval;
  }

  void InstallIdleHandler() {
    if (idleHandlerInstalled) return;
    idleHandlerInstalled = true;
    if (loop) loop->setInterval(LoopInterval());
  }

  void RemoveIdleHandler() {
    if (!idleHandlerInstalled) return;
    idleHandlerInstalled = false;
    if (loop) loop->setInterval(LoopInterval());
  }

  void StartLoop() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;  // no event loop to run in
    if (!loop) {
      loop = new QTimer(app);
      loop->setTimerType(Qt::PreciseTimer);
      QObject::connect(loop, &QTimer::timeout, app, [] { Instance().LoopPass(); });
    }
    loop->setInterval(LoopInterval());
    if (!loop->isActive()) loop->start();
  }

  void StopLoop() {
    if (loop) loop->stop();
  }

  // One round of the refresh loop.
  void LoopPass() {
    try {
      // Qt's loop serves pending events once between rounds; a lower Speed gives it more turns.
      for (std::int32_t i = largestSpeed; i < TMMConnector::kMaxSpeed; ++i) {
        QCoreApplication::processEvents();
      }
      if (runningAutoTriggered > 0 && !Terminating()) {
        std::vector<std::uint64_t> ids;
        ids.reserve(list.size());
        for (const TMMConnector* c : list) ids.push_back(c->id_);
        // A refresh may run handlers that destroy connectors: look each one up again.
        for (const std::uint64_t id : ids) {
          TMMConnector* c = Find(id);
          if (c != nullptr && c->autoTrigger_ && c->enabled_ &&
              c->state_ == TMMConnector::State::Running) {
            c->Refresh();
          }
        }
      }
    } catch (...) {
      // Like a message handler that failed: reported, and the loop is not continued.
      StopLoop();
      platform::HandleException(std::current_exception());
      return;
    }
    if (runningAutoTriggered <= 0 || Terminating() || list.empty()) StopLoop();
  }

  static void WindowProc(const platform::Message& message) {
    ConnectorRegistry& r = Instance();
    TMMConnector* c = r.Find(static_cast<std::uint64_t>(message.lParam));
    if (c == nullptr) return;  // the connector is gone
    switch (message.id) {
      case TMMConnector::kStartMessage:
        c->HandleStartMessage();
        break;
      case TMMConnector::kTriggerMessage:
        // The count goes down whatever happens, so a dropped request never blocks the next.
        c->pendingTriggers_.fetch_sub(1);
        if (c->enabled_ && c->Running()) c->Refresh();
        break;
      default:
        break;
    }
  }
};

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
    levelPending_ = false;
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
  return clock_ ? clock_() : platform::MicrosecondClock();
}

std::int64_t TMMConnector::LevelSlicesShown() const {
  platform::CriticalSectionLock lock(cs_);
  return levelSlices_;
}

bool TMMConnector::LevelPending() const {
  platform::CriticalSectionLock lock(cs_);
  return levelPending_;
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
  std::vector<std::uint8_t> buffer;
  pcm_ = false;
  converted_ = false;
  if (input->wFormatTag == stream::WAVE_FORMAT_PCM) {
    pcm_ = true;
    format = stream::CopyWaveFormat(input);
    buffer.assign(static_cast<std::size_t>(bufferSize), 0);
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
    levelPending_ = false;
    levelOffset_ = 0;
    levelSlices_ = 0;
    validBytes_ = 0;
    if (!pcm_ && !converted_) return;  // nothing the meters can show: idle for this run
    meterFormat_ = std::move(format);
    conversion_ = std::move(conversion);
    buffer_ = std::move(buffer);
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
}

void TMMConnector::Pause() {
  if (!InState(stream::csDesigning) && state_ != State::Idle && !paused_) {
    paused_ = true;
    {
      platform::CriticalSectionLock lock(cs_);
      FillSilenceLocked();
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
    FillSilenceLocked();
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
      buffer_.clear();
      buffer_.shrink_to_fit();
      validBytes_ = 0;
      levelPending_ = false;
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

void TMMConnector::FillSilenceLocked() {
  std::fill(buffer_.begin(), buffer_.end(), silence_);
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
  // The silence in the buffer is shown again from its start, so the meters fall back to zero.
  arrivalUs_.store(Now());
  platform::CriticalSectionLock lock(cs_);
  if (buffer_.empty()) return;
  if (levels_[0] != nullptr || levels_[1] != nullptr) {
    levelPending_ = true;
    levelOffset_ = 0;
  }
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
  arrivalUs_.store(Now());
  {
    platform::CriticalSectionLock lock(cs_);
    if (state_ == State::Idle) return;
    const std::int32_t bufferSize = GetBufferSize();
    std::int32_t n = std::min(bytes, bufferSize);
    if (conversion_) {
      n = std::min<std::int32_t>(n, static_cast<std::int32_t>(conversion_->ChunkSize()));
      std::memcpy(conversion_->SourceBuffer(), data, static_cast<std::size_t>(n));
      const std::int64_t produced = conversion_->ConvertStep(static_cast<std::uint32_t>(n));
      if (produced <= 0) return;
      if (buffer_.size() < static_cast<std::size_t>(produced)) buffer_.resize(produced);
      std::memcpy(buffer_.data(), conversion_->OutputBuffer(), static_cast<std::size_t>(produced));
      validBytes_ = static_cast<std::int32_t>(produced);
    } else {
      n = std::min<std::int32_t>(n, static_cast<std::int32_t>(buffer_.size()));
      std::memcpy(buffer_.data(), data, static_cast<std::size_t>(n));
      validBytes_ = n;
    }
    if (levels_[0] != nullptr || levels_[1] != nullptr) {
      levelPending_ = true;
      levelOffset_ = 0;
    }
  }
  if (!realTime_ && autoTrigger_) Refresh();
}

bool TMMConnector::RefreshAllowed() const {
  return enabled_ && (state_ == State::Running || (!realTime_ && state_ != State::Idle));
}

void TMMConnector::Refresh() {
  if (!RefreshAllowed()) return;
  QPointer<TMMLevel> feed[2];
  bool haveSlice = false;
  {
    platform::CriticalSectionLock lock(cs_);
    if (levelPending_) {
      std::int32_t window = 0;
      for (const TMMLevel* level : levels_) {
        if (level != nullptr) window = std::max(window, level->WindowSizeBytes());
      }
      if (window <= 0) {
        levelPending_ = false;
      } else {
        bool ready = true;
        const std::int64_t bytesPerSecond = meterFormat_ ? meterFormat_->nAvgBytesPerSec : 0;
        if (synchronize_.load() && bytesPerSecond > 0) {
          dueUs_ = levelOffset_ * kMicrosecondsPerSecond / bytesPerSecond;
          ready = Now() - arrivalUs_.load() >= dueUs_;
        }
        if (ready) {
          const std::int32_t start = levelOffset_;
          levelOffset_ += window;
          if (start + window > validBytes_) {
            levelPending_ = false;
          } else {
            slice_.assign(buffer_.begin() + start, buffer_.begin() + start + window);
            feed[0] = levels_[0];
            feed[1] = levels_[1];
            ++levelSlices_;
            haveSlice = true;
          }
        }
      }
    }
  }
  if (haveSlice) {
    // Each meter reads its own channel from the same window.
    for (const QPointer<TMMLevel>& level : feed) {
      if (level) level->FeedLevel(slice_.data());
    }
  }
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
