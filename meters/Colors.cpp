#include "meters/Colors.h"

#include <QApplication>
#include <QPalette>

namespace meters {

QColor ToQColor(TColor color) {
  const auto value = static_cast<std::uint32_t>(color);
  if ((value & 0x80000000u) == 0) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
  }
  const QPalette palette = QApplication::palette();
  switch (value & 0xFF) {
    case 0x02:
      return palette.color(QPalette::Active, QPalette::Highlight);
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
