// The off-screen bitmap the meters draw into: a device-independent bitmap of 8 bits per pixel
// (an indexed image with its own palette) or 24 bits per pixel, filled with a current colour in
// solid or dotted rectangles and copied onto the screen in one operation.
// Threading: main thread (system colours resolve through the application palette).
#pragma once

#include <QImage>
#include <QRect>

#include "meters/Colors.h"
#include "stream/MMError.h"

class QPainter;

namespace meters {

class EMMDIBError : public stream::EMMError {
 public:
  using stream::EMMError::EMMError;
};

class TMMDIBCanvas {
 public:
  static constexpr int kDefaultBitsPerPixel = 8;
  static constexpr int kPaletteSize = 256;

  // A 1 × 1 bitmap of kDefaultBitsPerPixel, black, current colour black.
  TMMDIBCanvas();

  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  // Sizes below 1 are taken as 1. A new size clears the bitmap to the current colour.
  void SetSize(int width, int height);

  // 8 or 24; anything else raises EMMDIBError "Bitlength not supported yet". The picture is
  // kept across a change of depth.
  int BitsPerPixel() const { return bitsPerPixel_; }
  void SetBitsPerPixel(int bits);

  // The colour that Clear and FillRect use. At 8 bits a colour gets a palette entry; once all
  // 256 entries are taken, the nearest entry stands in for a new colour.
  TColor Color() const { return color_; }
  void SetColor(TColor color);

  // Fills the whole bitmap with the current colour (and, at 8 bits, starts a fresh palette).
  void Clear();
  // Fills `rect` (clipped to the bitmap) with the current colour; dotted sets only every second
  // pixel of every second row, counting from the rectangle's top-left corner.
  void FillRect(const QRect& rect, bool dotted = false);
  // Copies the bits of `source`, which must have the same size and depth (std::logic_error
  // otherwise).
  void CopyFrom(const TMMDIBCanvas& source);
  // Copies the pixels of `rect` (clipped) from `source`, which has this canvas's size and depth;
  // with 8 bits the two share their palette up to the colours of `source`.
  void CopyRect(const TMMDIBCanvas& source, const QRect& rect);
  // Copies the bitmap onto `painter` at `target` (scaled when the sizes differ).
  void DrawTo(QPainter& painter, const QRect& target) const;

  QRgb Pixel(int x, int y) const { return image_.pixel(x, y); }
  const QImage& Image() const { return image_; }

 private:
  static QImage::Format FormatFor(int bits);
  // Throws std::logic_error unless `source` has this canvas's size and depth.
  void CheckSameShape(const TMMDIBCanvas& source) const;
  // The palette index standing for `rgb`, added to the palette when there is room.
  int PaletteIndex(QRgb rgb);

  int bitsPerPixel_ = kDefaultBitsPerPixel;
  TColor color_ = clBlack;
  QRgb rgb_ = qRgb(0, 0, 0);
  int index_ = 0;  // palette entry of rgb_ at 8 bits
  QImage image_;
  mutable QImage screen_;  // image_ expanded to 32 bits for drawing
};

}  // namespace meters
