#include "meters/DibCanvas.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
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
  if (color == color_) return;  // the spots of a zone share one colour
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
  const int left = firstOnGrid(area.left(), whole.left());
  // Rows are written through one pointer: the meters fill spots hundreds of times a second.
  std::uint8_t* const bits = image_.bits();
  const qsizetype stride = image_.bytesPerLine();
  const auto index = static_cast<std::uint8_t>(index_);
  const std::uint8_t rgb[3] = {static_cast<std::uint8_t>(qRed(rgb_)),
                               static_cast<std::uint8_t>(qGreen(rgb_)),
                               static_cast<std::uint8_t>(qBlue(rgb_))};
  for (int y = firstOnGrid(area.top(), whole.top()); y <= area.bottom(); y += step) {
    std::uint8_t* const row = bits + y * stride;
    if (bitsPerPixel_ == 8) {
      if (step == 1) {
        std::memset(row + left, index, static_cast<std::size_t>(area.right() - left + 1));
      } else {
        for (int x = left; x <= area.right(); x += step) row[x] = index;
      }
    } else {
      for (int x = left; x <= area.right(); x += step) std::memcpy(row + 3 * x, rgb, 3);
    }
  }
}

void TMMDIBCanvas::CheckSameShape(const TMMDIBCanvas& source) const {
  if (source.image_.size() != image_.size() || source.bitsPerPixel_ != bitsPerPixel_) {
    throw std::logic_error("TMMDIBCanvas: canvases differ in size or depth");
  }
}

void TMMDIBCanvas::CopyFrom(const TMMDIBCanvas& source) {
  CheckSameShape(source);
  image_ = source.image_;  // shared until the next write detaches it
  if (bitsPerPixel_ == 8) index_ = PaletteIndex(rgb_);
}

void TMMDIBCanvas::CopyRect(const TMMDIBCanvas& source, const QRect& rect) {
  CheckSameShape(source);
  const QRect area = rect.normalized() & image_.rect();
  if (area.isEmpty()) return;
  const int bytesPerPixel = bitsPerPixel_ / 8;
  const auto bytes = static_cast<std::size_t>(area.width() * bytesPerPixel);
  std::uint8_t* const bits = image_.bits();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    std::memcpy(bits + y * image_.bytesPerLine() + area.left() * bytesPerPixel,
                source.image_.constScanLine(y) + area.left() * bytesPerPixel, bytes);
  }
}

void TMMDIBCanvas::DrawTo(QPainter& painter, const QRect& target) const {
  // Expanded to 32 bits through the palette here, row by row: the meters paint hundreds of
  // times a second, and drawing an indexed or 24-bit image makes Qt convert it in general code.
  if (screen_.size() != image_.size()) screen_ = QImage(image_.size(), QImage::Format_RGB32);
  const int width = image_.width();
  const int height = image_.height();
  std::array<QRgb, kPaletteSize> palette{};
  if (bitsPerPixel_ == 8) {
    const QList<QRgb> table = image_.colorTable();
    std::copy_n(table.begin(), std::min<qsizetype>(table.size(), kPaletteSize), palette.begin());
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = image_.constScanLine(y);
    auto* dst = reinterpret_cast<QRgb*>(screen_.scanLine(y));
    if (bitsPerPixel_ == 8) {
      for (int x = 0; x < width; ++x) dst[x] = palette[src[x]];
    } else {
      for (int x = 0; x < width; ++x, src += 3) dst[x] = qRgb(src[0], src[1], src[2]);
    }
  }
  if (target.size() == screen_.size()) {
    painter.drawImage(target.topLeft(), screen_);
  } else {
    painter.drawImage(target, screen_);
  }
}

}  // namespace meters
