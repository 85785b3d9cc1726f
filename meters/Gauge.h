// A progress gauge: shows how far Progress has moved from MinValue to MaxValue as text only, a
// horizontal or vertical bar, a pie or a needle, inside a bevel, with the percentage (and an
// optional caption) written over it. The face is drawn on an off-screen image of the bevel's
// inner rectangle and copied to the screen in one piece.
// Threading: SetProgress from any thread (repaints at once on the main thread, else queues one
// repaint there without waiting); every other call on the main thread.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>

#include "meters/Bevel.h"
#include "meters/Colors.h"

class QPainter;

namespace meters {

enum TMMGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

class TMMCustomGauge : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDefaultWidth = 150;
  static constexpr int kDefaultHeight = 18;
  static constexpr std::int32_t kLowestValue = -2147483647;
  static constexpr std::int32_t kHighestValue = 2147483647;
  static constexpr std::int32_t kDefaultMinValue = 0;
  static constexpr std::int32_t kDefaultMaxValue = 100;
  static constexpr std::int32_t kDefaultProgress = 0;
  static constexpr TMMGaugeKind kDefaultKind = gkHorizontalBar;
  static constexpr bool kDefaultShowText = true;
  static constexpr TColor kDefaultForeColor = clActiveCaption;
  static constexpr TColor kDefaultBackColor = clWhite;
  static constexpr bool kDefaultBWText = false;
  static constexpr TColor kDefaultColor = clBtnFace;

  explicit TMMCustomGauge(QWidget* parent = nullptr);

  TMMGaugeKind Kind() const { return kind_; }
  void SetKind(TMMGaugeKind value);
  bool ShowText() const { return showText_; }
  void SetShowText(bool value);
  TColor ForeColor() const { return foreColor_; }
  void SetForeColor(TColor value);
  TColor BackColor() const { return backColor_; }
  void SetBackColor(TColor value);
  bool BWText() const { return bwText_; }
  void SetBWText(bool value);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& value);
  // The control's own background, shown in the corners of the pie and needle kinds.
  TColor Color() const { return color_; }
  void SetColor(TColor value);

  // MinValue is clamped to kLowestValue..MaxValue, MaxValue to MinValue..kHighestValue; a
  // Progress outside the new range is pulled into it.
  std::int32_t MinValue() const { return minValue_.load(); }
  void SetMinValue(std::int32_t value);
  std::int32_t MaxValue() const { return maxValue_.load(); }
  void SetMaxValue(std::int32_t value);

  // Any thread. Clamped to MinValue..MaxValue and stored at once; repaints only when the
  // whole-number percentage changed. Writers on other threads must have stopped before the
  // gauge is destroyed (a repaint still queued then is dropped with it).
  std::int32_t Progress() const { return progress_.load(); }
  void SetProgress(std::int32_t value);

  // 0..100, truncated; 0 when MinValue equals MaxValue. Any thread.
  int Percent() const;
  // "<Caption> <Percent>%", or "<Percent>%" with an empty caption.
  QString PercentText() const;

  TMMBevel& Bevel() { return bevel_; }
  const TMMBevel& Bevel() const { return bevel_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

  // Drawing operations on the off-screen image; `rect` is the whole image.
  virtual void DrawFace(QPainter& canvas, const QRect& rect);
  virtual void DrawPercentText(QPainter& canvas, const QRect& rect);
  virtual void DrawBar(QPainter& canvas, const QRect& rect, bool horizontal);
  virtual void DrawPie(QPainter& canvas, const QRect& rect);
  virtual void DrawNeedle(QPainter& canvas, const QRect& rect);
  virtual void DrawEmpty(QPainter& canvas, const QRect& rect);

  // The part of a length that `percent` covers, truncated.
  static int Share(int length, int percent);

 private:
  void Changed() { update(); }
  template <typename T>
  void Assign(T& field, const T& value) {
    if (field == value) return;
    field = value;
    Changed();
  }
  // Pulls Progress into MinValue..MaxValue after the range changed.
  void ClampProgress();
  // Repaints now on the main thread; from another thread queues one repaint unless one is
  // already queued.
  void RepaintFromAnyThread();

  std::atomic<std::int32_t> minValue_{kDefaultMinValue};
  std::atomic<std::int32_t> maxValue_{kDefaultMaxValue};
  std::atomic<std::int32_t> progress_{kDefaultProgress};
  TMMGaugeKind kind_ = kDefaultKind;
  bool showText_ = kDefaultShowText;
  TColor foreColor_ = kDefaultForeColor;
  TColor backColor_ = kDefaultBackColor;
  bool bwText_ = kDefaultBWText;
  QString caption_;
  TColor color_ = kDefaultColor;
  TMMBevel bevel_;
  std::atomic<bool> repaintQueued_{false};
};

// The gauge as the windows place it.
class TMMGauge : public TMMCustomGauge {
  Q_OBJECT

 public:
  explicit TMMGauge(QWidget* parent = nullptr) : TMMCustomGauge(parent) {}
};

}  // namespace meters
