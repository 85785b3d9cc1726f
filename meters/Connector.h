// The connector: a pass-through stream component that keeps a copy of each block going by and
// feeds it to its level meters slice by slice, each slice at the moment it is heard. Non-PCM
// streams are converted to PCM for the meters. All connectors share one hidden dispatcher window
// and one refresh loop on the main thread that runs while any of them plays and feeds each
// meter every slice that has fallen due since its previous round, about 60 rounds a second; a
// paused connector keeps feeding silence from the shared 25 ms timer.
// Threading: construction, destruction, properties, linking and the lifecycle operations on the
// main thread; BufferReady, BufferLoad and DataArrived on the thread that moves the blocks (the
// main thread in this program); Refresh, the meter feeding and OnTrigger on the main thread;
// Trigger from any thread; the pause timer's tick on the timer thread. The connector's lock
// guards its copies of the blocks and the slice state.
#pragma once

#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "meters/MicroClock.h"
#include "meters/SliceQueue.h"
#include "platform/CriticalSection.h"
#include "stream/DSPComponent.h"
#include "stream/MMError.h"
#include "stream/MMTypes.h"

namespace sources {
class AcmChain;
}

namespace meters {

class TMMLevel;

class EMMConnectorError : public stream::EMMError {
 public:
  using EMMError::EMMError;
};

class EOutOfResources : public stream::EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

class TMMConnector : public stream::TMMDSPComponent {
 public:
  // Messages of the shared hidden window; the connector's id travels in lParam. The loop's
  // rounds come from a Qt timer instead of a re-posted message, so Qt's loop never blocks.
  static constexpr std::uint32_t kStartMessage = 0xB1F5;
  static constexpr std::uint32_t kTriggerMessage = 0xB1F6;

  static constexpr bool kDefaultEnabled = true;
  static constexpr bool kDefaultAutoConvert = true;
  static constexpr bool kDefaultAutoTrigger = true;
  static constexpr bool kDefaultSynchronize = true;
  static constexpr std::int32_t kMinSpeed = 1;
  static constexpr std::int32_t kMaxSpeed = 5000;
  static constexpr std::int32_t kDefaultSpeed = kMaxSpeed;
  static constexpr bool kDefaultRealTime = true;
  static constexpr bool kDefaultRefreshOnStop = true;
  static constexpr TMMTriggerMode kDefaultTriggerMode = tmNone;
  static constexpr std::int32_t kDefaultTriggerLevel = 0;
  static constexpr std::int32_t kMinPauseIntervalMs = 25;
  // Buffers longer than this are not timed by their duration while paused.
  static constexpr std::int32_t kMaxTimedPauseBuffer = 8191;

  explicit TMMConnector(stream::TComponent* owner = nullptr);
  ~TMMConnector() override;

  // ---- properties ----
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoConvert() const { return autoConvert_; }
  void SetAutoConvert(bool value) { autoConvert_ = value; }
  bool AutoTrigger() const { return autoTrigger_; }
  void SetAutoTrigger(bool value);
  bool Synchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool value) { synchronize_.store(value); }
  std::int32_t Speed() const { return speed_; }
  void SetSpeed(std::int32_t value);
  bool RealTime() const { return realTime_; }
  // Throws EMMConnectorError while the connector is opened.
  void SetRealTime(bool value);
  bool RefreshOnStop() const { return refreshOnStop_; }
  void SetRefreshOnStop(bool value) { refreshOnStop_ = value; }
  // Kept for the oscilloscope slots, which this build does not have.
  TMMTriggerMode TriggerMode() const { return triggerMode_; }
  void SetTriggerMode(TMMTriggerMode value) { triggerMode_ = value; }
  std::int32_t TriggerLevel() const { return triggerLevel_; }
  void SetTriggerLevel(std::int32_t value) { triggerLevel_ = value; }
  // One value shared by all connectors: while a connector runs auto-triggered, the refresh
  // loop runs whenever the event loop is idle instead of at its own pace.
  bool EnterIdle() const;
  void SetEnterIdle(bool value);

  // The level meters fed by this connector (not owned). A meter already in one slot is not
  // taken by the other; a destroyed meter leaves its slot empty.
  TMMLevel* Level1() const;
  void SetLevel1(TMMLevel* value);
  TMMLevel* Level2() const;
  void SetLevel2(TMMLevel* value);

  // The clock that times the slices and stamps each block's arrival (any thread). The default
  // is the platform's microsecond clock; tests set their own.
  void SetClock(TMMMicroClock clock);

  stream::TNotifyEvent OnTrigger;  // after every refresh, on the main thread

  // ---- stream model ----
  void SetPWaveFormat(const stream::TWaveFormatEx* format) override;
  void ApplyDesigning(bool value) override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void Reset() override;
  void BufferReady(stream::PWaveHdr lpWaveHdr) override;
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // Copies a block for the meters (at most BufferSize bytes).
  virtual void DataArrived(const void* data, std::int32_t bytes);
  // Refreshes once, for connectors with AutoTrigger off. From another thread the refresh is
  // passed to the main thread (one request outstanding at a time).
  // A refresh feeds the meters every slice that has fallen due by the clock since the previous
  // one, in order, also those of a block a newer one has replaced; without Synchronize it feeds
  // the next slice of the newest block.
  virtual void Trigger();

  // ---- run-time state, for callers and tests ----
  // Started for the meters: a PCM or convertible stream and a copy buffer.
  bool MetersStarted() const { return state_ != State::Idle; }
  // Served by the refresh loop (or by Trigger).
  bool Running() const { return state_ == State::Running; }
  bool MetersPaused() const { return paused_; }
  // The PCM format the meters get (a copy of the input, or the converted format); null when
  // not started.
  const stream::TWaveFormatEx* MeterFormat() const { return meterFormat_.get(); }
  // Level slices fed since Start.
  std::int64_t LevelSlicesShown() const;
  // Whether the level group still has slices to show.
  bool LevelPending() const;
  // The shared refresh loop: whether its timer runs, and the pause between its rounds.
  static bool RefreshLoopActive();
  static std::chrono::milliseconds RefreshLoopInterval();

 protected:
  // Feeds the level group the slices that may be shown now (see Trigger).
  void Refresh();

 private:
  friend struct ConnectorRegistry;
  enum class State { Idle, Started, Running };

  void Register();
  void Unregister();
  void FormatToMeters();
  void BeginRunning();  // Start step 5: install the idle handler, ask the window to run
  void LeaveRunning();  // running off, loop count and idle handler as Stop does
  void HandleStartMessage();
  void StartPauseTimer();
  void StopPauseTimer();
  void PauseTick();  // timer thread
  void SetLevelSlot(int slot, TMMLevel* value);
  void LevelDestroyed(QObject* level);
  void ResetLevels();
  bool RefreshAllowed() const;
  bool HasLevelsLocked() const { return levels_[0] != nullptr || levels_[1] != nullptr; }
  std::int64_t Now() const;

  mutable platform::CriticalSection cs_;

  // Format and blocks, guarded by cs_ once started.
  stream::WaveFormatPtr meterFormat_;              // the PCM format in use
  std::unique_ptr<sources::AcmChain> conversion_;  // when converting
  TMMSliceQueue slices_;                           // the copies of the blocks going by
  std::int32_t blockLimit_ = 0;                    // bytes copied of a PCM block

  bool enabled_ = kDefaultEnabled;
  bool autoTrigger_ = kDefaultAutoTrigger;
  TMMTriggerMode triggerMode_ = kDefaultTriggerMode;
  std::int32_t triggerLevel_ = kDefaultTriggerLevel;
  std::atomic<bool> synchronize_{kDefaultSynchronize};
  std::atomic<State> state_{State::Idle};
  bool countedInLoop_ = false;  // this connector adds one to the running auto-triggered count
  std::atomic<bool> paused_{false};
  std::uint8_t silence_ = 0;  // 128 for 8-bit PCM
  bool pcm_ = false;
  bool converted_ = false;
  bool autoConvert_ = kDefaultAutoConvert;
  std::int32_t speed_ = kDefaultSpeed;
  bool refreshOnStop_ = kDefaultRefreshOnStop;
  bool realTime_ = kDefaultRealTime;
  std::atomic<std::int32_t> pendingTriggers_{0};

  // Level group, guarded by cs_.
  TMMLevel* levels_[2] = {nullptr, nullptr};  // not owned
  QMetaObject::Connection levelWatch_[2];
  std::int64_t levelSlices_ = 0;
  std::vector<std::uint8_t> feed_;  // main thread: the slices handed to the meters

  TMMMicroClock clock_;
  std::int64_t pauseTimer_ = 0;  // the pause timer's entry, 0 when none
  std::uint64_t id_ = 0;         // names this connector in the hidden window's messages
  bool registered_ = false;
};

}  // namespace meters
