// The frame painter of the visual controls. From the outside in: a single border, the outer
// bevel, a border, the inner bevel and a border space; each step draws a frame that shrinks the
// rectangle by its width, and what remains is the inner rectangle where the control draws.
// A frame of width n is n nested one-pixel rectangles, top and left edges in the top colour,
// bottom and right edges in the bottom colour.
// Threading: main thread only (system colours resolve through the application palette).
#pragma once

#include <QRect>
#include <cstdint>
#include <functional>

#include "meters/Colors.h"

class QPainter;

namespace meters {

enum TMMBorderStyle : std::uint8_t { bsNone, bsSingle };

// Lowered: shadow on top and left, light on bottom and right; raised: the reverse. None and
// space draw nothing and take no room.
enum TMMBevelKind : std::uint8_t { bvNone, bvLowered, bvRaised, bvSpace };

class TMMBevel {
 public:
  static constexpr TMMBorderStyle kDefaultBorderStyle = bsNone;
  static constexpr TMMBevelKind kDefaultBevelOuter = bvLowered;
  static constexpr TMMBevelKind kDefaultBevelInner = bvNone;
  static constexpr int kDefaultBevelWidth = 1;
  static constexpr TColor kDefaultShadowColor = clBtnShadow;
  static constexpr TColor kDefaultLightColor = clBtnHighlight;
  static constexpr int kDefaultBorderWidth = 0;
  static constexpr TColor kDefaultBorderColor = clBtnFace;
  static constexpr int kDefaultBorderSpace = 0;
  static constexpr TColor kDefaultBorderSpaceColor = clBlack;

  // Called after a setter changed a value, so the owning control can repaint.
  std::function<void()> OnChange;

  TMMBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TMMBorderStyle value) { Assign(borderStyle_, value); }
  TMMBevelKind BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TMMBevelKind value) { Assign(bevelOuter_, value); }
  TMMBevelKind BevelInner() const { return bevelInner_; }
  void SetBevelInner(TMMBevelKind value) { Assign(bevelInner_, value); }
  // Widths below 0 are stored as 0.
  int BevelOuterWidth() const { return bevelOuterWidth_; }
  void SetBevelOuterWidth(int value) { AssignWidth(bevelOuterWidth_, value); }
  int BevelInnerWidth() const { return bevelInnerWidth_; }
  void SetBevelInnerWidth(int value) { AssignWidth(bevelInnerWidth_, value); }
  TColor OuterShadowColor() const { return outerShadowColor_; }
  void SetOuterShadowColor(TColor value) { Assign(outerShadowColor_, value); }
  TColor OuterLightColor() const { return outerLightColor_; }
  void SetOuterLightColor(TColor value) { Assign(outerLightColor_, value); }
  TColor InnerShadowColor() const { return innerShadowColor_; }
  void SetInnerShadowColor(TColor value) { Assign(innerShadowColor_, value); }
  TColor InnerLightColor() const { return innerLightColor_; }
  void SetInnerLightColor(TColor value) { Assign(innerLightColor_, value); }
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value) { AssignWidth(borderWidth_, value); }
  TColor BorderColor() const { return borderColor_; }
  void SetBorderColor(TColor value) { Assign(borderColor_, value); }
  int BorderSpace() const { return borderSpace_; }
  void SetBorderSpace(int value) { AssignWidth(borderSpace_, value); }
  TColor BorderSpaceColor() const { return borderSpaceColor_; }
  void SetBorderSpaceColor(TColor value) { Assign(borderSpaceColor_, value); }

  // Draws every step around `client` and returns the inner rectangle (empty, never negative,
  // when the frames use up the whole rectangle).
  QRect Paint(QPainter& canvas, const QRect& client) const;
  // The inner rectangle Paint would return, without drawing.
  QRect InnerRect(const QRect& client) const;

 private:
  // Walks the steps; draws them when `canvas` is not null.
  QRect Layout(QPainter* canvas, QRect rect) const;

  template <typename T>
  void Assign(T& field, T value) {
    if (field == value) return;
    field = value;
    if (OnChange) OnChange();
  }
  void AssignWidth(int& field, int value) { Assign(field, value < 0 ? 0 : value); }

  TMMBorderStyle borderStyle_ = kDefaultBorderStyle;
  TMMBevelKind bevelOuter_ = kDefaultBevelOuter;
  TMMBevelKind bevelInner_ = kDefaultBevelInner;
  int bevelOuterWidth_ = kDefaultBevelWidth;
  int bevelInnerWidth_ = kDefaultBevelWidth;
  TColor outerShadowColor_ = kDefaultShadowColor;
  TColor outerLightColor_ = kDefaultLightColor;
  TColor innerShadowColor_ = kDefaultShadowColor;
  TColor innerLightColor_ = kDefaultLightColor;
  int borderWidth_ = kDefaultBorderWidth;
  TColor borderColor_ = kDefaultBorderColor;
  int borderSpace_ = kDefaultBorderSpace;
  TColor borderSpaceColor_ = kDefaultBorderSpaceColor;
};

}  // namespace meters
