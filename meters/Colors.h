// Colours as the classic controls store them: a 32-bit value 0x00BBGGRR, or a system colour
// (high bit set, low byte the index of the system colour), resolved through Qt's palette.
// Threading: any thread for the plain colours; system colours read the application palette, so
// resolve them on the main thread.
#pragma once

#include <QColor>
#include <cstdint>

namespace meters {

using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clCream = 13693693;  // 0x00D0F2FD, the highlight of the window's lists
constexpr TColor clNavy = 0x800000;   // the classic colour of an active window's caption

// System colours (index | 0x80000000).
constexpr TColor clActiveCaption = static_cast<TColor>(0x80000002u);
constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
constexpr TColor clWindowFrame = static_cast<TColor>(0x80000006u);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008u);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);
constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010u);
constexpr TColor clBtnText = static_cast<TColor>(0x80000012u);
constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014u);

// The colour on screen: 0x00BBGGRR as red, green and blue; system colours from the palette.
// The active caption colour is the palette's highlight only when text drawn as its inverse stays
// legible on it (the gauge writes its caption that way over its bar); otherwise the classic navy.
QColor ToQColor(TColor color);

// The least contrast for legible text: 4.5 : 1.
constexpr double kMinimumTextContrast = 4.5;

// Contrast of two colours, 1 to 21, from their relative luminances (WCAG 2): (L1 + 0.05) /
// (L2 + 0.05), the lighter over the darker.
double ContrastRatio(const QColor& a, const QColor& b);

// The colour whose red, green and blue are the complements of `color`'s: what text drawn by
// exclusive or with white shows over it.
QColor Inverse(const QColor& color);

}  // namespace meters
