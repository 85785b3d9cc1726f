#include "meters/Gauge.h"

#include <QFontMetrics>
#include <QMetaObject>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace meters {

namespace {

int PercentOf(std::int32_t progress, std::int32_t minValue, std::int32_t maxValue) {
  if (maxValue <= minValue) return 0;
  const double percent = (static_cast<double>(progress) - minValue) * 100.0 /
                         (static_cast<double>(maxValue) - minValue);
  return std::clamp(static_cast<int>(percent), 0, 100);  // the cast truncates toward zero
}

// Rounds halves to even, as the classic drawing code did.
int RoundEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

// Qt places pie angles on the ellipse's own parameter, so the angle of the radial through a
// point is taken from its offsets divided by the semi-axes. Degrees, counter-clockwise from
// three o'clock.
double EllipseAngle(int dx, int dy, int semiX, int semiY) {
  return std::atan2(-static_cast<double>(dy) / semiY, static_cast<double>(dx) / semiX) * 180.0 /
         std::numbers::pi;
}

int Sixteenths(double degrees) {
  return RoundEven(degrees * 16.0);
}

// The font of the gauge's texts: no smoothing, so the inverted text stays two colours.
QFont TextFont(const QFont& font) {
  QFont result = font;
  result.setStyleStrategy(QFont::NoAntialias);
  return result;
}

}  // namespace

TMMCustomGauge::TMMCustomGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // the bevel and the face cover every pixel
  resize(kDefaultWidth, kDefaultHeight);
  bevel_.OnChange = [this] { Changed(); };
}

void TMMCustomGauge::SetKind(TMMGaugeKind value) {
  Assign(kind_, value);
}
void TMMCustomGauge::SetShowText(bool value) {
  Assign(showText_, value);
}
void TMMCustomGauge::SetForeColor(TColor value) {
  Assign(foreColor_, value);
}
void TMMCustomGauge::SetBackColor(TColor value) {
  Assign(backColor_, value);
}
void TMMCustomGauge::SetBWText(bool value) {
  Assign(bwText_, value);
}
void TMMCustomGauge::SetCaption(const QString& value) {
  Assign(caption_, value);
}
void TMMCustomGauge::SetColor(TColor value) {
  Assign(color_, value);
}

void TMMCustomGauge::SetMinValue(std::int32_t value) {
  value = std::clamp(value, kLowestValue, maxValue_.load());
  if (minValue_.exchange(value) == value) return;
  ClampProgress();
  Changed();
}

void TMMCustomGauge::SetMaxValue(std::int32_t value) {
  value = std::clamp(value, minValue_.load(), kHighestValue);
  if (maxValue_.exchange(value) == value) return;
  ClampProgress();
  Changed();
}

void TMMCustomGauge::ClampProgress() {
  std::int32_t current = progress_.load();
  std::int32_t clamped;
  do {
    clamped = std::clamp(current, minValue_.load(), maxValue_.load());
  } while (clamped != current && !progress_.compare_exchange_weak(current, clamped));
}

void TMMCustomGauge::SetProgress(std::int32_t value) {
  const std::int32_t minValue = minValue_.load();
  // The range is read field by field; a reader racing a range change must not see max < min.
  const std::int32_t maxValue = std::max(minValue, maxValue_.load());
  value = std::clamp(value, minValue, maxValue);
  const std::int32_t previous = progress_.exchange(value);
  if (previous == value) return;
  if (PercentOf(previous, minValue, maxValue) == PercentOf(value, minValue, maxValue)) return;
  RepaintFromAnyThread();
}

void TMMCustomGauge::RepaintFromAnyThread() {
  if (QThread::currentThread() == thread()) {
    repaint();
    return;
  }
  if (repaintQueued_.exchange(true)) return;  // the queued repaint will show this value too
  QMetaObject::invokeMethod(
      this,
      [this] {
        // Cleared first: a value written while this paint runs queues the next one.
        repaintQueued_.store(false);
        repaint();
      },
      Qt::QueuedConnection);
}

int TMMCustomGauge::Percent() const {
  return PercentOf(progress_.load(), minValue_.load(), maxValue_.load());
}

QString TMMCustomGauge::PercentText() const {
  const QString percent = QString::number(Percent()) + QLatin1Char('%');
  return caption_.isEmpty() ? percent : caption_ + QLatin1Char(' ') + percent;
}

QSize TMMCustomGauge::sizeHint() const {
  return QSize(kDefaultWidth, kDefaultHeight);
}

int TMMCustomGauge::Share(int length, int percent) {
  return static_cast<int>(length * (percent * 0.01));
}

void TMMCustomGauge::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect inner = bevel_.Paint(painter, rect());
  if (inner.isEmpty()) return;
  const qreal ratio = devicePixelRatioF();
  QImage face(inner.size() * ratio, QImage::Format_RGB32);
  face.setDevicePixelRatio(ratio);
  {
    QPainter canvas(&face);
    const QRect faceRect(QPoint(0, 0), inner.size());
    DrawFace(canvas, faceRect);
    if (showText_) DrawPercentText(canvas, faceRect);
  }
  painter.drawImage(inner.topLeft(), face);
}

void TMMCustomGauge::DrawFace(QPainter& canvas, const QRect& rect) {
  switch (kind_) {
    case gkHorizontalBar:
      DrawBar(canvas, rect, true);
      return;
    case gkVerticalBar:
      DrawBar(canvas, rect, false);
      return;
    case gkPie:
      DrawPie(canvas, rect);
      return;
    case gkNeedle:
      DrawNeedle(canvas, rect);
      return;
    case gkText:
      break;
  }
  DrawEmpty(canvas, rect);
}

void TMMCustomGauge::DrawEmpty(QPainter& canvas, const QRect& rect) {
  canvas.fillRect(rect, ToQColor(backColor_));
}

void TMMCustomGauge::DrawBar(QPainter& canvas, const QRect& rect, bool horizontal) {
  canvas.fillRect(rect, ToQColor(backColor_));
  const int percent = Percent();
  const QColor fore = ToQColor(foreColor_);
  if (horizontal) {
    const int done = Share(rect.width(), percent);
    if (done > 0) canvas.fillRect(QRect(rect.left(), rect.top(), done, rect.height()), fore);
  } else {
    const int done = Share(rect.height(), percent);
    if (done > 0) {
      canvas.fillRect(QRect(rect.left(), rect.bottom() + 1 - done, rect.width(), done), fore);
    }
  }
}

void TMMCustomGauge::DrawPie(QPainter& canvas, const QRect& rect) {
  canvas.fillRect(rect, ToQColor(color_));
  const int w = rect.width();
  const int h = rect.height();
  if (w < 2 || h < 2) return;
  const QColor fore = ToQColor(foreColor_);
  // A one-pixel pen draws on the rectangle's edges, so the ellipse spans w - 1 by h - 1.
  const QRect ellipse(rect.left(), rect.top(), w - 1, h - 1);
  canvas.save();
  canvas.setPen(QPen(fore, 1));
  canvas.setBrush(ToQColor(backColor_));
  canvas.drawEllipse(ellipse);
  const int percent = Percent();
  if (percent > 0) {
    // The slice runs counter-clockwise from the point of the percentage to twelve o'clock, so
    // it grows clockwise from the top as the percentage rises.
    const int mx = w / 2;
    const int my = h / 2;
    const double a = std::numbers::pi * (percent / 50.0 + 0.5);
    const int startX = RoundEven(mx * (1 - std::cos(a)));
    const int startY = RoundEven(my * (1 - std::sin(a)));
    const double start = EllipseAngle(startX - mx, startY - my, mx, my);
    double span = 90.0 - start;
    while (span <= 0) span += 360.0;
    while (span > 360.0) span -= 360.0;
    // Start and end on the same point: a whole ellipse near 100 %, nothing near 0 %.
    if (startX == mx && startY == 0) span = percent >= 50 ? 360.0 : 0.0;
    if (span > 0) {
      canvas.setBrush(fore);
      canvas.drawPie(ellipse, Sixteenths(start), Sixteenths(span));
    }
  }
  canvas.restore();
}

void TMMCustomGauge::DrawNeedle(QPainter& canvas, const QRect& rect) {
  canvas.fillRect(rect, ToQColor(color_));
  const int w = rect.width();
  const int h = rect.height();
  if (w < 2 || h < 2) return;
  const QColor fore = ToQColor(foreColor_);
  canvas.save();
  canvas.setPen(QPen(fore, 1));
  // The dial: the upper half of an ellipse whose centre lies on the bottom row. Its two radii
  // draw the base line along that row.
  canvas.setBrush(ToQColor(backColor_));
  canvas.drawPie(QRect(rect.left(), rect.top(), w - 1, 2 * h - 2), 0, 180 * 16);
  const int percent = Percent();
  if (percent > 0) {
    // The needle turns about the middle of the whole control, flat left at 0 %, flat right at
    // 100 %.
    const double b = std::numbers::pi * percent / 100.0;
    const int half = width() / 2;
    const QPoint base(rect.left() + half, rect.top() + h - 1);
    const QPoint tip(rect.left() + RoundEven(half * (1 - std::cos(b))),
                     rect.top() + RoundEven((h - 1) * (1 - std::sin(b))));
    canvas.drawLine(base, tip);
  }
  canvas.restore();
}

void TMMCustomGauge::DrawPercentText(QPainter& canvas, const QRect& rect) {
  const QString text = PercentText();
  const QFont font = TextFont(this->font());
  const QFontMetrics metrics(font, canvas.device());
  const int textWidth = metrics.horizontalAdvance(text);
  const int textHeight = metrics.height();
  const int x = (rect.width() - textWidth) / 2;
  const int y = (rect.height() - textHeight) / 2;

  if (!bwText_ || (kind_ != gkHorizontalBar && kind_ != gkVerticalBar)) {
    // White text on black, combined with the face by exclusive or: the text shows as the
    // inverse of whatever lies beneath it.
    const qreal ratio = canvas.device()->devicePixelRatioF();
    QImage layer(rect.size() * ratio, QImage::Format_RGB32);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::black);
    {
      QPainter layerCanvas(&layer);
      layerCanvas.setFont(font);
      layerCanvas.setPen(Qt::white);
      layerCanvas.drawText(x, y + metrics.ascent(), text);
    }
    canvas.save();
    canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    canvas.drawImage(rect.topLeft(), layer);
    canvas.restore();
    return;
  }

  // Two tones: the font colour over the undone part, its inverse over the bar.
  const int percent = Percent();
  QRect undone;
  QRect done;
  if (kind_ == gkHorizontalBar) {
    const int barEnd = rect.left() + Share(rect.width(), percent);
    undone = QRect(QPoint(barEnd, rect.top()), QPoint(rect.right(), rect.bottom()));
    done = QRect(QPoint(rect.left() + x, rect.top()), QPoint(barEnd - 1, rect.bottom()));
  } else {
    const int barEnd = rect.bottom() + 1 - Share(rect.height(), percent);
    undone = QRect(QPoint(rect.left(), rect.top()), QPoint(rect.right(), barEnd - 1));
    done = QRect(QPoint(rect.left(), barEnd), QPoint(rect.right(), rect.bottom()));
  }
  const QColor fontColor = palette().color(QPalette::WindowText);
  const QColor inverse(fontColor.rgb() ^ 0x00FFFFFFu);
  const QPoint origin(rect.left() + x, rect.top() + y + metrics.ascent());
  canvas.save();
  canvas.setFont(font);
  canvas.setBrush(Qt::NoBrush);
  for (const auto& [clip, color] : {std::pair{undone, fontColor}, std::pair{done, inverse}}) {
    if (clip.isEmpty()) continue;
    canvas.setClipRect(clip);
    canvas.setPen(color);
    canvas.drawText(origin, text);
  }
  canvas.restore();
}

}  // namespace meters
