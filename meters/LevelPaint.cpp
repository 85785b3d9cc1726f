// The level meter's geometry and painting: the spots and their zones, the background and lit
// bitmaps, the paint and its rate limit, and the properties that change the look. The level,
// decay and peak arithmetic is in Level.cpp.
#include "meters/Level.h"

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

namespace meters {

// ---- the repaint limit ----

void TMMCustomLevel::SetClock(TMMMicroClock clock) {
  clock_ = std::move(clock);
  lastPaintUs_ = kNoPaint;
}

void TMMCustomLevel::RepaintBar(bool atOnce) {
  // Only the bar changes; the bevel around it stays as painted.
  if (atOnce) {
    repaint(BarRect());
  } else {
    update(BarRect());
  }
}

void TMMCustomLevel::RepaintLevel(bool atOnce) {
  const std::int64_t intervalUs =
      std::chrono::duration_cast<std::chrono::microseconds>(minRepaintInterval_).count();
  const std::int64_t sinceUs = ReadClock(clock_) - lastPaintUs_;
  if (intervalUs <= 0 || lastPaintUs_ == kNoPaint || sinceUs >= intervalUs) {
    RepaintBar(atOnce);
  } else if (!deferredRepaint_.isActive()) {
    const std::int64_t waitMs = (intervalUs - sinceUs + 999) / 1000;
    deferredRepaint_.start(
        static_cast<int>(std::min<std::int64_t>(waitMs, std::numeric_limits<int>::max())));
  }
}

bool TMMCustomLevel::FlushRepaint() {
  if (!deferredRepaint_.isActive()) return false;
  deferredRepaint_.stop();
  if (enabled_ && Showing()) RepaintBar(true);
  return true;
}

// ---- the peak timer's repaint ----

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
  RepaintBar(true);
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

void TMMCustomLevel::paintEvent(QPaintEvent* event) {
  lastPaintUs_ = ReadClock(clock_);
  deferredRepaint_.stop();  // this paint shows the newest level
  if (size() != geometrySize_) ComputeGeometry();
  Fire(OnPaint);
  QPainter painter(this);
  if (!BarRect().contains(event->rect())) bevel_.Paint(painter, rect());
  const int peak = PeakSpot();
  if (onDrawBar_) {
    onDrawBar_(this, paintCanvas_, QRect(0, 0, innerWidth_, innerHeight_), level_, peak);
  } else {
    DrawLitSpots(paintCanvas_, peak);
  }
  paintCanvas_.DrawTo(painter, BarRect());
}

void TMMCustomLevel::resizeEvent(QResizeEvent* /*event*/) {
  ComputeGeometry();
}

QSize TMMCustomLevel::sizeHint() const {
  return QSize(kDefaultWidth, kDefaultHeight);
}

// ---- properties of the look ----

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
