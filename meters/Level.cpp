#include "meters/Level.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace meters {

namespace {

constexpr char kInvalidWaveFormat[] = "Invalid WaveFormat";
constexpr float kDecayBase = 0.0001f;
constexpr float kLowestRatio = 0.000001f;

// Rounds to the nearest, halves to even.
std::int64_t RoundEven(double value) {
  return static_cast<std::int64_t>(std::nearbyint(value));
}

std::int32_t Sample16(const std::uint8_t* bytes) {
  std::int16_t sample;
  std::memcpy(&sample, bytes, sizeof sample);
  return sample;
}

std::int32_t ClampToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

TMMCustomLevel::TMMCustomLevel(QWidget* parent, platform::TimerService* peakTimer)
    : QWidget(parent), timerService_(peakTimer) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the bevel and the bitmap cover every pixel
  resize(kDefaultWidth, kDefaultHeight);
  deferredRepaint_.setSingleShot(true);
  deferredRepaint_.setTimerType(Qt::PreciseTimer);
  connect(&deferredRepaint_, &QTimer::timeout, this, [this] {
    if (enabled_ && Showing()) RepaintBar(true);
  });
  feedWatch_.setSingleShot(true);
  connect(&feedWatch_, &QTimer::timeout, this, [this] { ReturnPeakToTimer(); });
  bevel_.OnChange = [this] {
    ComputeGeometry();
    update();
  };
  ComputeWindowSize();
  ComputeGeometry();
  if (timerService_) {
    // Suspended until a peak is held.
    peakTimerEntry_ = timerService_->Add(
        kPeakTickPeriod, [this] { PeakTick(); }, true);
  }
}

TMMCustomLevel::~TMMCustomLevel() {
  if (timerService_ && peakTimerEntry_ != platform::TimerService::kNoEntry) {
    timerService_->Remove(peakTimerEntry_);
  }
}

// ---- the connector's side ----

void TMMCustomLevel::SetLevelFormat(const stream::TWaveFormatEx* format) {
  const bool valid = format && format->wFormatTag == stream::WAVE_FORMAT_PCM &&
                     (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) &&
                     (format->nChannels == 1 || format->nChannels == 2 || format->nChannels == 4) &&
                     format->nSamplesPerSec >= 4000 && format->nSamplesPerSec <= 100000;
  if (!valid) throw EMMLevelError(kInvalidWaveFormat);
  bitLength_ = static_cast<stream::TMMBits>(format->wBitsPerSample / 8 - 1);
  channels_ = format->nChannels;
  ComputeWindowSize();
}

void TMMCustomLevel::FeedLevel(const void* data) {
  if (!enabled_ || !Showing() || data == nullptr) return;
  TakePeakFromFeed();  // a move shows in this window's paint (peakChanged_)
  const std::int64_t peak = WindowPeak(static_cast<const std::uint8_t*>(data));
  if (peak >= kFullScale) Fire(OnPcmOverflow);
  SetAmplitude(ClampToInt32(peak));
}

void TMMCustomLevel::FeedLevels(const void* first, int count, int stride) {
  if (first == nullptr) return;
  const auto* bytes = static_cast<const std::uint8_t*>(first);
  if (count > 0 && enabled_ && Showing()) TakePeakFromFeed();
  holdRepaint_ = true;
  try {
    for (int i = 0; i < count && enabled_ && Showing(); ++i) {
      const std::int64_t peak = WindowPeak(bytes + static_cast<std::ptrdiff_t>(i) * stride);
      if (peak >= kFullScale) Fire(OnPcmOverflow);
      SetAmplitude(ClampToInt32(peak));
    }
  } catch (...) {
    holdRepaint_ = false;
    if (std::exchange(repaintHeld_, false)) update();
    throw;
  }
  holdRepaint_ = false;
  if (std::exchange(repaintHeld_, false) && enabled_ && Showing()) RepaintLevel(false);
}

std::int64_t TMMCustomLevel::WindowPeak(const std::uint8_t* bytes) const {
  const bool wide = bitLength_ == stream::b16Bit;
  const int sampleBytes = wide ? 2 : 1;
  const int frameBytes = sampleBytes * channels_;
  auto read = [&](const std::uint8_t* at) -> std::int64_t {
    return wide ? Sample16(at) : static_cast<std::int64_t>(*at);
  };
  std::int64_t peak = 0;
  for (int frame = 0; frame < samples_; ++frame) {
    const std::uint8_t* at = bytes + static_cast<std::ptrdiff_t>(frame) * frameBytes;
    std::int64_t value;
    if (channels_ == 1) {
      value = read(at) + negDCOffsetL_;
    } else if (channel_ == stream::chLeft) {
      value = read(at) + negDCOffsetL_;
    } else if (channel_ == stream::chRight) {
      value = read(at + sampleBytes) + negDCOffsetR_;
    } else {
      value = (read(at) + negDCOffsetL_ + read(at + sampleBytes) + negDCOffsetR_) / 2;
    }
    if (!wide) value = (value - 128) * 256;
    peak = std::max(peak, std::abs(value));
  }
  return peak;
}

void TMMCustomLevel::SetAmplitude(std::int32_t amplitude) {
  SyncGeometry();
  std::int64_t b = std::abs(static_cast<std::int64_t>(amplitude));
  lastAmplitude_ = ClampToInt32(b);
  {
    std::lock_guard lock(peakMutex_);
    if (b == 0 && level_ == 0 && !peakChanged_) return;
  }
  if (decayMode_ != dmNone)
    b = DecayedAmplitude(
        static_cast<int>(std::min<std::int64_t>(b, std::numeric_limits<int>::max())));
  const std::int64_t gained = b * gainFactor_ / 8;
  int spots = SpotsFor(gained);
  if (direction_ == dirSymetric) spots /= 2;
  if (spots > numSpots_) {
    Fire(OnGainOverflow);
    spots = numSpots_;
  }
  {
    std::lock_guard lock(peakMutex_);
    if (spots >= peak_ && spots > 0 && numPeaks_ > 0) {
      peakChanged_ = true;
      peak_ = spots;
      peakCountdown_ = peakDelay_ * 2 + 1;
      RunPeakTimerLocked(enabled_);
    }
    if (spots == level_ && !peakChanged_) return;
    peakChanged_ = false;
  }
  level_ = spots;
  if (!enabled_ || !Showing()) return;
  if (holdRepaint_) {
    repaintHeld_ = true;
  } else {
    RepaintLevel();
  }
}

int TMMCustomLevel::DecayedAmplitude(int amplitude) {
  if (++decayIndex_ >= decayWindow_) decayIndex_ = 0;
  decayCount_ = std::min(decayCount_ + 1, decayWindow_);
  switch (decayMode_) {
    case dmStepUp:
      decayed_ = decayed_ * decayFactor_;
      if (static_cast<double>(amplitude) > static_cast<double>(decayed_)) {
        decayed_ = static_cast<float>(amplitude);
        return amplitude;
      }
      return static_cast<int>(decayed_);  // truncates
    case dmExponential:
      decayed_ = static_cast<float>(static_cast<double>(decayed_) * decayFactor_ +
                                    (1.0 - static_cast<double>(decayFactor_)) * amplitude);
      return static_cast<int>(std::floor(decayed_));
    case dmUniform:
      decaySum_ += amplitude - decayRing_[decayIndex_];
      decayRing_[decayIndex_] = amplitude;
      return static_cast<int>(decaySum_ / decayCount_);
    case dmNone:
      break;
  }
  return amplitude;
}

int TMMCustomLevel::SpotsFor(std::int64_t gained) const {
  const int n = numSpots_;
  double spots;
  if (logAmp_) {
    const double ratio =
        std::max(static_cast<double>(gained) / kFullScale, static_cast<double>(kLowestRatio));
    const float db = static_cast<float>(20.0 * std::log10(ratio));
    spots = (static_cast<double>(db) - sensitivy_) * n / -sensitivy_;
  } else {
    const float threshold = static_cast<float>(kFullScale / std::pow(10.0, -sensitivy_ / 20.0));
    spots = (static_cast<double>(gained) - threshold) * n / (kFullScale - threshold);
  }
  // Anything past twice the bar is past the end either way (also after halving).
  spots = std::min(spots, 4.0 * n + 4.0);
  return static_cast<int>(std::max<std::int64_t>(RoundEven(spots), 0));
}

void TMMCustomLevel::ResetLevel() {
  {
    std::lock_guard lock(peakMutex_);
    peak_ = 0;
    peakCountdown_ = 0;
    peakChanged_ = false;
    RunPeakTimerLocked(false);
  }
  level_ = 0;
  lastAmplitude_ = 0;
  ClearDecayHistory();
  repaint();
}

void TMMCustomLevel::PeakTick() {
  {
    std::lock_guard lock(peakMutex_);
    if (peakFromFeed_ || !PeakTickLocked()) return;
  }
  RepaintPeakFromAnyThread();
}

bool TMMCustomLevel::PeakTickLocked() {
  if (peak_ <= 0) {
    RunPeakTimerLocked(false);
    return false;
  }
  if (--peakCountdown_ > 0) return false;
  if (peakSpeed_ > 0) {
    --peak_;
    peakCountdown_ = peakSpeed_;
  } else {
    peak_ = 0;
    peakCountdown_ = 0;
  }
  if (peak_ == 0) RunPeakTimerLocked(false);
  peakChanged_ = true;
  return true;
}

bool TMMCustomLevel::TakePeakFromFeed() {
  if (!timerService_ || peakTimerEntry_ == platform::TimerService::kNoEntry) return false;
  const std::int64_t nowUs = ReadClock(clock_);
  bool moved = false;
  {
    std::lock_guard lock(peakMutex_);
    if (!peakFromFeed_) {
      peakFromFeed_ = true;
      RunPeakTimerLocked(false);
      nextPeakTickUs_ = nowUs + kPeakTickUs;
    }
    moved = CatchUpPeakLocked(nowUs);
  }
  feedWatch_.start(kFeedWatch);
  return moved;
}

bool TMMCustomLevel::CatchUpPeakLocked(std::int64_t nowUs) {
  // The ticks due since the last feed; a peak that is gone restarts the count, as the timer
  // restarts from zero when a new peak resumes it.
  bool moved = false;
  while (nowUs >= nextPeakTickUs_) {
    if (peak_ <= 0) {
      nextPeakTickUs_ = nowUs + kPeakTickUs;
      break;
    }
    moved = PeakTickLocked() || moved;
    nextPeakTickUs_ += kPeakTickUs;
  }
  return moved;
}

void TMMCustomLevel::FeedNothing() {
  if (enabled_ && Showing() && TakePeakFromFeed()) RepaintPeak();
}

void TMMCustomLevel::ReturnPeakToTimer() {
  bool moved;
  {
    std::lock_guard lock(peakMutex_);
    if (!peakFromFeed_) return;
    moved = CatchUpPeakLocked(ReadClock(clock_));
    peakFromFeed_ = false;
    RunPeakTimerLocked(enabled_ && numPeaks_ > 0 && peak_ > 0);
  }
  if (moved) RepaintPeak();
}

bool TMMCustomLevel::Showing() const {
  return !isHidden();
}

void TMMCustomLevel::Fire(const TMMLevelNotifyEvent& event) {
  if (event) event(this);
}

// ---- properties ----

void TMMCustomLevel::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  if (value) {
    ComputeGeometry();
    update();
  } else {
    ResetLevel();
  }
  UpdatePeakTimer();
}

void TMMCustomLevel::UpdatePeakTimer() {
  std::lock_guard lock(peakMutex_);
  RunPeakTimerLocked(enabled_ && numPeaks_ > 0 && peak_ > 0);
}

void TMMCustomLevel::RunPeakTimerLocked(bool run) {
  if (!timerService_ || peakTimerEntry_ == platform::TimerService::kNoEntry) return;
  run = run && !peakFromFeed_;
  if (run == peakTimerRunning_) return;
  peakTimerRunning_ = run;
  if (run) {
    timerService_->Resume(peakTimerEntry_);
  } else {
    timerService_->Suspend(peakTimerEntry_);
  }
}

void TMMCustomLevel::ComputeWindowSize() {
  windowBytes_ = (bitLength_ + 1) * channels_ * samples_;
}

void TMMCustomLevel::SetBitLength(stream::TMMBits value) {
  bitLength_ = value;
  ComputeWindowSize();
}

stream::TMMMode TMMCustomLevel::Mode() const {
  if (channels_ == 1) return stream::mMono;
  if (channels_ == 2) return stream::mStereo;
  return stream::mMultiChannel;
}

void TMMCustomLevel::SetMode(stream::TMMMode value) {
  channels_ = value + 1;
  ComputeWindowSize();
}

void TMMCustomLevel::SetChannel(stream::TMMChannel value) {
  channel_ = value;
  ComputeWindowSize();
}

void TMMCustomLevel::SetSamples(int value) {
  samples_ = std::max(value, 1);
  ComputeWindowSize();
}

void TMMCustomLevel::SetGain(int value) {
  if (value < kMinGain || value > kMaxGain) return;
  gainFactor_ = value + 8;
}

void TMMCustomLevel::SetSensitivy(int value) {
  sensitivy_ = std::clamp(value, kMinSensitivy, kMaxSensitivy);
}

void TMMCustomLevel::SetLogAmp(bool value) {
  logAmp_ = value;
}

int TMMCustomLevel::NumPeaks() const {
  std::lock_guard lock(peakMutex_);
  return numPeaks_;
}

void TMMCustomLevel::SetNumPeaks(int value) {
  value = std::clamp(value, 0, kMaxNumPeaks);
  {
    std::lock_guard lock(peakMutex_);
    numPeaks_ = value;
    peakCountdown_ = 0;
  }
  UpdatePeakTimer();
  update();
}

int TMMCustomLevel::PeakDelay() const {
  std::lock_guard lock(peakMutex_);
  return peakDelay_;
}

void TMMCustomLevel::SetPeakDelay(int value) {
  std::lock_guard lock(peakMutex_);
  peakDelay_ = std::clamp(value, 0, kMaxPeakTiming);
  peakCountdown_ = 0;
}

int TMMCustomLevel::PeakSpeed() const {
  std::lock_guard lock(peakMutex_);
  return peakSpeed_;
}

void TMMCustomLevel::SetPeakSpeed(int value) {
  std::lock_guard lock(peakMutex_);
  peakSpeed_ = std::clamp(value, 0, kMaxPeakTiming);
  peakCountdown_ = 0;
}

int TMMCustomLevel::PeakSpot() const {
  std::lock_guard lock(peakMutex_);
  return peak_;
}

int TMMCustomLevel::PeakCountdown() const {
  std::lock_guard lock(peakMutex_);
  return peakCountdown_;
}

void TMMCustomLevel::SetDecayMode(TMMDecayMode value) {
  if (decayMode_ == value) return;
  decayMode_ = value;
  ClearDecayHistory();
}

void TMMCustomLevel::SetDecay(int value) {
  value = std::clamp(value, 1, kMaxDecay);
  if (decay_ == value) return;
  decay_ = value;
  // 0.0001 to the power 1 / 2^Decay, one square root at a time in single precision.
  float factor = kDecayBase;
  for (int i = 0; i < value; ++i) factor = std::sqrt(factor);
  decayFactor_ = factor;
  decayWindow_ = std::clamp(2 * value - 2, 1, kDecayRingSize);
  if (decayMode_ == dmUniform) ClearDecayHistory();
}

void TMMCustomLevel::ClearDecayHistory() {
  decayIndex_ = 0;
  decayCount_ = 0;
  decaySum_ = 0;
  decayed_ = 0.0f;
  decayRing_.fill(0);
}

int TMMCustomLevel::Value() const {
  if (level_ == 0) return 0;
  if (logAmp_) {
    const double ratio = 1.0 - static_cast<double>(level_) / numSpots_;
    return static_cast<int>(
        RoundEven(100.0 * std::pow(10.0, sensitivy_ * ratio / 20.0) * 8.0 / gainFactor_));
  }
  return static_cast<int>(RoundEven(level_ * 100.0 / numSpots_));
}

void TMMCustomLevel::SetValue(int value) {
  value = std::clamp(value, 0, 100);
  SetAmplitude(static_cast<std::int32_t>(RoundEven(value * static_cast<double>(kFullScale) / 100)));
}

void TMMCustomLevel::SetDCOffsetL(int value) {
  negDCOffsetL_ = -value;
}

void TMMCustomLevel::SetDCOffsetR(int value) {
  negDCOffsetR_ = -value;
}

}  // namespace meters
