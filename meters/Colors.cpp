#include "meters/Colors.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace meters {
namespace {

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double Luminance(const QColor& color) {
  const auto linear = [](int channel) {
    const double c = channel / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(color.red()) + 0.7152 * linear(color.green()) +
         0.0722 * linear(color.blue());
}

// The palette's highlight, unless its inverse would be illegible on it (a mid-tone).
QColor ActiveCaption(const QPalette& palette) {
  const QColor highlight = palette.color(QPalette::Active, QPalette::Highlight);
  if (ContrastRatio(highlight, Inverse(highlight)) >= kMinimumTextContrast) return highlight;
  return ToQColor(clNavy);
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Inverse(const QColor& color) {
  return QColor(255 - color.red(), 255 - color.green(), 255 - color.blue());
}

QColor ToQColor(TColor color) {
  const auto value = static_cast<std::uint32_t>(color);
  if ((value & 0x80000000u) == 0) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
  }
  const QPalette palette = QApplication::palette();
  switch (value & 0xFF) {
    case 0x02:
      return ActiveCaption(palette);
    case 0x05:
      return palette.color(QPalette::Base);
    case 0x06:
      return palette.color(QPalette::Shadow);
    case 0x08:
      return palette.color(QPalette::Text);
    case 0x0F:
      return palette.color(QPalette::Button);
    case 0x10:
      return palette.color(QPalette::Dark);
    case 0x12:
      return palette.color(QPalette::ButtonText);
    case 0x14:
      return palette.color(QPalette::Light);
    default:
      return palette.color(QPalette::Window);
  }
}

}  // namespace meters
