#include "meters/DibCanvas.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace meters {

namespace {

constexpr char kBitLengthNotSupported[] = "Bitlength not supported yet";

int ColourDistance(QRgb a, QRgb b) {
  const int dr = qRed(a) - qRed(b);
  const int dg = qGreen(a) - qGreen(b);
  const int db = qBlue(a) - qBlue(b);
  return dr * dr + dg * dg + db * db;
}

}  // namespace

TMMDIBCanvas::TMMDIBCanvas() {
  SetSize(1, 1);
}

QImage::Format TMMDIBCanvas::FormatFor(int bits) {
  return bits == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB888;
}

void TMMDIBCanvas::SetSize(int width, int height) {
  image_ = QImage(std::max(width, 1), std::max(height, 1), FormatFor(bitsPerPixel_));
  Clear();
}

void TMMDIBCanvas::SetBitsPerPixel(int bits) {
  if (bits != 8 && bits != 24) throw EMMDIBError(kBitLengthNotSupported);
  if (bits == bitsPerPixel_) return;
  bitsPerPixel_ = bits;
  if (bits == 24) {
    image_ = image_.convertToFormat(QImage::Format_RGB888);
    return;
  }
  // Down to 8 bits: a palette of the colours in use, exact while there are at most 256 of them.
  const QImage rgb = image_;
  image_ = QImage(rgb.size(), QImage::Format_Indexed8);
  image_.setColorCount(0);
  for (int y = 0; y < rgb.height(); ++y) {
    for (int x = 0; x < rgb.width(); ++x) {
      image_.setPixel(x, y, static_cast<uint>(PaletteIndex(rgb.pixel(x, y))));
    }
  }
  index_ = PaletteIndex(rgb_);
}

void TMMDIBCanvas::SetColor(TColor color) {
  color_ = color;
  rgb_ = ToQColor(color).rgb();
  if (bitsPerPixel_ == 8) index_ = PaletteIndex(rgb_);
}

int TMMDIBCanvas::PaletteIndex(QRgb rgb) {
  const int count = image_.colorCount();
  int nearest = 0;
  int nearestDistance = std::numeric_limits<int>::max();
  for (int i = 0; i < count; ++i) {
    const int distance = ColourDistance(image_.color(i), rgb);
    if (distance == 0) return i;
    if (distance < nearestDistance) {
      nearestDistance = distance;
      nearest = i;
    }
  }
  if (count >= kPaletteSize) return nearest;
  image_.setColorCount(count + 1);
  image_.setColor(count, rgb);
  return count;
}

void TMMDIBCanvas::Clear() {
  if (bitsPerPixel_ == 8) {
    image_.setColorCount(1);
    image_.setColor(0, rgb_);
    index_ = 0;
    image_.fill(0);
  } else {
    image_.fill(QColor(rgb_));
  }
}

void TMMDIBCanvas::SetPixelRaw(int x, int y) {
  if (bitsPerPixel_ == 8) {
    image_.scanLine(y)[x] = static_cast<std::uint8_t>(index_);
    return;
  }
  std::uint8_t* pixel = image_.scanLine(y) + 3 * x;
  pixel[0] = static_cast<std::uint8_t>(qRed(rgb_));
  pixel[1] = static_cast<std::uint8_t>(qGreen(rgb_));
  pixel[2] = static_cast<std::uint8_t>(qBlue(rgb_));
}

void TMMDIBCanvas::FillRect(const QRect& rect, bool dotted) {
  const QRect area = rect.normalized() & image_.rect();
  if (area.isEmpty()) return;
  const int step = dotted ? 2 : 1;
  // The dots keep their grid from the rectangle's own corner when clipping cuts it.
  const QRect whole = rect.normalized();
  auto firstOnGrid = [step](int from, int origin) {
    const int offset = (from - origin) % step;
    return offset == 0 ? from : from + step - offset;
  };
  for (int y = firstOnGrid(area.top(), whole.top()); y <= area.bottom(); y += step) {
    for (int x = firstOnGrid(area.left(), whole.left()); x <= area.right(); x += step) {
      SetPixelRaw(x, y);
    }
  }
}

void TMMDIBCanvas::CopyFrom(const TMMDIBCanvas& source) {
  if (source.image_.size() != image_.size() || source.bitsPerPixel_ != bitsPerPixel_) {
    throw std::logic_error("TMMDIBCanvas::CopyFrom: canvases differ in size or depth");
  }
  image_ = source.image_;  // shared until the next write detaches it
  if (bitsPerPixel_ == 8) index_ = PaletteIndex(rgb_);
}

void TMMDIBCanvas::DrawTo(QPainter& painter, const QRect& target) const {
  painter.drawImage(target, image_);
}

}  // namespace meters
