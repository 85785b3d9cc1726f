#include "meters/Bevel.h"

#include <QPainter>
#include <algorithm>

namespace meters {

namespace {

// A frame of `width` nested one-pixel rectangles: top and left edges in `top`, bottom and right
// edges in `bottom` (which thus owns the top-right and bottom-left corners). Returns the
// rectangle inside it.
QRect Frame(QPainter* canvas, QRect rect, int width, TColor top, TColor bottom) {
  if (width <= 0 || rect.isEmpty()) return rect;
  const QColor topColor = canvas ? ToQColor(top) : QColor();
  const QColor bottomColor = canvas ? ToQColor(bottom) : QColor();
  for (int i = 0; i < width && !rect.isEmpty(); ++i) {
    if (canvas) {
      canvas->fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), topColor);
      canvas->fillRect(QRect(rect.left(), rect.top(), 1, rect.height() - 1), topColor);
      canvas->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottomColor);
      canvas->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottomColor);
    }
    rect.adjust(1, 1, -1, -1);
  }
  return rect;
}

QRect Bevel(QPainter* canvas, const QRect& rect, TMMBevelKind kind, int width, TColor shadow,
            TColor light) {
  switch (kind) {
    case bvLowered:
      return Frame(canvas, rect, width, shadow, light);
    case bvRaised:
      return Frame(canvas, rect, width, light, shadow);
    case bvNone:
    case bvSpace:
      break;
  }
  return rect;
}

}  // namespace

QRect TMMBevel::Layout(QPainter* canvas, QRect rect) const {
  if (borderStyle_ == bsSingle) rect = Frame(canvas, rect, 1, clWindowFrame, clWindowFrame);
  rect = Bevel(canvas, rect, bevelOuter_, bevelOuterWidth_, outerShadowColor_, outerLightColor_);
  rect = Frame(canvas, rect, borderWidth_, borderColor_, borderColor_);
  rect = Bevel(canvas, rect, bevelInner_, bevelInnerWidth_, innerShadowColor_, innerLightColor_);
  rect = Frame(canvas, rect, borderSpace_, borderSpaceColor_, borderSpaceColor_);
  return QRect(rect.topLeft(), QSize(std::max(rect.width(), 0), std::max(rect.height(), 0)));
}

QRect TMMBevel::Paint(QPainter& canvas, const QRect& client) const {
  return Layout(&canvas, client);
}

QRect TMMBevel::InnerRect(const QRect& client) const {
  return Layout(nullptr, client);
}

}  // namespace meters
