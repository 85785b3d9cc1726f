#include "meters/Level.h"

#include <QMetaObject>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

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
    if (enabled_ && Showing()) repaint();
  });
  bevel_.OnChange = [this] {
    ComputeGeometry();
    update();
  };
  ComputeWindowSize();
  ComputeGeometry();
  if (timerService_) {
    peakTimerEntry_ = timerService_->Add(
        kPeakTickPeriod, [this] { PeakTick(); }, !(enabled_ && numPeaks_ > 0));
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
  if (!enabled_ || !Showing() || !data) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
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
  if (peak >= kFullScale) Fire(OnPcmOverflow);
  SetAmplitude(ClampToInt32(peak));
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
    }
    if (spots == level_ && !peakChanged_) return;
    peakChanged_ = false;
  }
  level_ = spots;
  if (enabled_ && Showing()) RepaintLevel();
}

void TMMCustomLevel::RepaintLevel() {
  const auto interval = minRepaintInterval_.count();
  if (interval <= 0 || !sinceLastPaint_.isValid() || sinceLastPaint_.elapsed() >= interval) {
    repaint();
  } else if (!deferredRepaint_.isActive()) {
    deferredRepaint_.start(static_cast<int>(interval - sinceLastPaint_.elapsed()));
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
  }
  level_ = 0;
  lastAmplitude_ = 0;
  ClearDecayHistory();
  repaint();
}

void TMMCustomLevel::PeakTick() {
  {
    std::lock_guard lock(peakMutex_);
    if (peak_ <= 0) return;
    if (--peakCountdown_ > 0) return;
    if (peakSpeed_ > 0) {
      --peak_;
      peakCountdown_ = peakSpeed_;
    } else {
      peak_ = 0;
      peakCountdown_ = 0;
    }
    peakChanged_ = true;
  }
  RepaintPeakFromAnyThread();
}

void TMMCustomLevel::RepaintPeakFromAnyThread() {
  if (QThread::currentThread() == thread()) {
    RepaintPeak();
    return;
  }
  if (repaintQueued_.exchange(true)) return;  // the queued repaint will show this peak too
  QMetaObject::invokeMethod(
      this,
      [this] {
        repaintQueued_.store(false);  // first: a peak moved during this paint queues another
        RepaintPeak();
      },
      Qt::QueuedConnection);
}

void TMMCustomLevel::RepaintPeak() {
  if (!enabled_ || !Showing()) return;  // the next amplitude shows it
  {
    std::lock_guard lock(peakMutex_);
    peakChanged_ = false;
  }
  repaint();
}

// ---- geometry and background ----

void TMMCustomLevel::SyncGeometry() {
  if (size() != geometrySize_) ComputeGeometry();
}

void TMMCustomLevel::ComputeGeometry() {
  geometrySize_ = size();
  innerRect_ = bevel_.InnerRect(rect());
  innerWidth_ = std::max(innerRect_.width(), 1);
  innerHeight_ = std::max(innerRect_.height(), 1);
  background_.SetSize(innerWidth_, innerHeight_);
  lit_.SetSize(innerWidth_, innerHeight_);
  paintCanvas_.SetSize(innerWidth_, innerHeight_);
  spotWidth_ = std::max(spotWidth_, 1);
  const int length = kind_ == lkHorizontal ? innerWidth_ : innerHeight_;
  const int step = spotWidth_ + spotSpace_;
  numSpots_ = std::max((length + spotSpace_) / step, 1);
  margin_ = (spotSpace_ + length - numSpots_ * step) / 2;
  point1Spot_ = point1_ * numSpots_ / 100;
  point2Spot_ = point2_ * numSpots_ / 100;
  RebuildBackground();
  {
    std::lock_guard lock(peakMutex_);
    peak_ = 0;
  }
  level_ = 0;
}

QRect TMMCustomLevel::SpotRect(int spot) const {
  if (spot < 1 || spot > numSpots_) return {};
  const int offset = (spot - 1) * (spotWidth_ + spotSpace_);
  const bool forward = direction_ == dirNormal;
  if (kind_ == lkHorizontal) {
    const int x = forward ? margin_ + offset : innerWidth_ - margin_ - offset - spotWidth_;
    return QRect(x, 0, spotWidth_, innerHeight_);
  }
  // Vertical bars grow upwards unless reversed.
  const int y = forward ? innerHeight_ - margin_ - offset - spotWidth_ : margin_ + offset;
  return QRect(0, y, innerWidth_, spotWidth_);
}

TColor TMMCustomLevel::ZoneColor(const std::array<TColor, 3>& colors, int spot) const {
  if (spot > point2Spot_) return colors[2];
  if (spot > point1Spot_) return colors[1];
  return colors[0];
}

void TMMCustomLevel::DrawSpot(TMMDIBCanvas& canvas, int spot, TColor color, bool dotted) const {
  const QRect area = SpotRect(spot);
  if (area.isEmpty()) return;
  canvas.SetColor(color);
  canvas.FillRect(area, dotted);
}

void TMMCustomLevel::RebuildBackground() {
  if (onDrawBar_) return;  // the handler draws everything
  background_.SetColor(color_);
  background_.Clear();
  for (int spot = 1; spot <= numSpots_; ++spot) {
    DrawSpot(background_, spot, ZoneColor(inactiveColors_, spot), inactiveDoted_);
  }
  // Lit from a copy of the background, so that at 8 bits its palette extends the background's
  // and pixels copied between the two keep their colours.
  lit_.CopyFrom(background_);
  for (int spot = 1; spot <= numSpots_; ++spot) {
    DrawSpot(lit_, spot, ZoneColor(barColors_, spot), activeDoted_);
  }
}

QRect TMMCustomLevel::SpotsRect(int first, int last) const {
  first = std::max(first, 1);
  last = std::min(last, numSpots_);
  if (first > last) return {};
  return SpotRect(first) | SpotRect(last);
}

void TMMCustomLevel::DrawLitSpots(TMMDIBCanvas& canvas, int peak) const {
  const int numPeaks = NumPeaks();
  if (!enabled_) {
    canvas.CopyFrom(background_);
    return;
  }
  if (direction_ == dirSymetric) {
    canvas.CopyFrom(background_);
    // A block of five spots around the level, all in the level's zone colour.
    const int centre = std::clamp(level_, 1, numSpots_);
    const TColor color = ZoneColor(barColors_, centre);
    for (int spot = centre - 2; spot <= centre + 2; ++spot) {
      DrawSpot(canvas, spot, color, activeDoted_);
    }
    if (numPeaks <= 0 || centre >= peak) return;
    for (int i = 0; i < numPeaks; ++i) {
      const int spot = peak + 2 - i;
      DrawSpot(canvas, spot, ZoneColor(barColors_, spot), activeDoted_);
    }
    return;
  }
  // Spots 1..level are lit and the rest dark, each in its zone's colour: two copies of a span.
  canvas.CopyFrom(lit_);
  canvas.CopyRect(background_, SpotsRect(level_ + 1, numSpots_));
  if (numPeaks <= 0 || level_ >= peak) return;
  canvas.CopyRect(lit_, SpotsRect(peak - numPeaks + 1, peak));
}

// ---- painting ----

void TMMCustomLevel::paintEvent(QPaintEvent* /*event*/) {
  sinceLastPaint_.start();
  deferredRepaint_.stop();  // this paint shows the newest level
  if (size() != geometrySize_) ComputeGeometry();
  Fire(OnPaint);
  QPainter painter(this);
  bevel_.Paint(painter, rect());
  const int peak = PeakSpot();
  if (onDrawBar_) {
    onDrawBar_(this, paintCanvas_, QRect(0, 0, innerWidth_, innerHeight_), level_, peak);
  } else {
    DrawLitSpots(paintCanvas_, peak);
  }
  paintCanvas_.DrawTo(painter, QRect(innerRect_.topLeft(), QSize(innerWidth_, innerHeight_)));
}

void TMMCustomLevel::resizeEvent(QResizeEvent* /*event*/) {
  ComputeGeometry();
}

QSize TMMCustomLevel::sizeHint() const {
  return QSize(kDefaultWidth, kDefaultHeight);
}

bool TMMCustomLevel::Showing() const {
  return !isHidden();
}

void TMMCustomLevel::Fire(const TMMLevelNotifyEvent& event) {
  if (event) event(this);
}

// ---- properties ----

void TMMCustomLevel::SetKind(TMMLevelKind value) {
  if (kind_ == value) return;
  kind_ = value;
  if ((value == lkHorizontal && height() > width()) ||
      (value == lkVertical && width() > height())) {
    resize(height(), width());
  }
  ComputeGeometry();
  update();
}

void TMMCustomLevel::SetDirection(TMMLevelDirection value) {
  if (direction_ == value) return;
  direction_ = value;
  RebuildBackground();
  update();
}

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
  if (!timerService_ || peakTimerEntry_ == platform::TimerService::kNoEntry) return;
  if (enabled_ && NumPeaks() > 0) {
    timerService_->Resume(peakTimerEntry_);
  } else {
    timerService_->Suspend(peakTimerEntry_);
  }
}

void TMMCustomLevel::SetColor(TColor value) {
  if (color_ == value) return;
  color_ = value;
  RebuildBackground();
  update();
}

void TMMCustomLevel::SetZoneColor(TColor& field, TColor value) {
  if (field == value) return;
  field = value;
  RebuildBackground();
  update();
}

void TMMCustomLevel::SetInactiveDoted(bool value) {
  if (inactiveDoted_ == value) return;
  inactiveDoted_ = value;
  RebuildBackground();
  update();
}

void TMMCustomLevel::SetActiveDoted(bool value) {
  if (activeDoted_ == value) return;
  activeDoted_ = value;
  RebuildBackground();
  update();
}

void TMMCustomLevel::SetPoint1(int value) {
  value = std::clamp(value, 1, 100);
  if (point1_ == value) return;
  point1_ = value;
  ComputeGeometry();
  update();
}

void TMMCustomLevel::SetPoint2(int value) {
  value = std::clamp(value, 1, 100);
  if (point2_ == value) return;
  point2_ = value;
  ComputeGeometry();
  update();
}

void TMMCustomLevel::SetSpotWidth(int value) {
  SyncGeometry();
  const int length = kind_ == lkHorizontal ? innerWidth_ : innerHeight_;
  value = std::max(std::min(value, length / 3), 1);
  if (spotWidth_ == value) return;
  spotWidth_ = value;
  ComputeGeometry();
  update();
}

void TMMCustomLevel::SetSpotSpace(int value) {
  value = std::clamp(value, 0, kMaxSpotSpace);
  if (spotSpace_ == value) return;
  spotSpace_ = value;
  ComputeGeometry();
  update();
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

void TMMCustomLevel::SetBitsPerPixel(int value) {
  if (value != 8 && value != 24) throw EMMDIBError("Bitlength not supported yet");
  if (paintCanvas_.BitsPerPixel() == value) return;
  background_.SetBitsPerPixel(value);
  lit_.SetBitsPerPixel(value);
  paintCanvas_.SetBitsPerPixel(value);
  RebuildBackground();
  update();
}

void TMMCustomLevel::SetOnDrawBar(TMMLevelDrawBar value) {
  onDrawBar_ = std::move(value);
  RebuildBackground();
  update();
}

}  // namespace meters
