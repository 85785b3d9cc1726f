#include "meters/Bevel.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace meters {
namespace {

constexpr TColor kGreen = 0x00FF00;
constexpr TColor kGrey = 0x808080;
constexpr TColor kUntouched = 0x123456;

TEST(BevelTest, StepsNestFromTheOutsideIn) {
  // Every step, in distinct colours: single border, raised outer bevel 2, border 1, lowered
  // inner bevel 1, border space 2.
  TMMBevel bevel;
  bevel.SetBorderStyle(bsSingle);
  bevel.SetBevelOuter(bvRaised);
  bevel.SetBevelOuterWidth(2);
  bevel.SetOuterShadowColor(clBlue);
  bevel.SetOuterLightColor(clWhite);
  bevel.SetBorderWidth(1);
  bevel.SetBorderColor(clRed);
  bevel.SetBevelInner(bvLowered);
  bevel.SetInnerShadowColor(kGreen);
  bevel.SetInnerLightColor(kGrey);
  bevel.SetBorderSpace(2);
  bevel.SetBorderSpaceColor(clYellow);

  QImage image(40, 30, QImage::Format_RGB32);
  image.fill(ToQColor(kUntouched));
  QPainter painter(&image);
  const QRect inner = bevel.Paint(painter, image.rect());
  painter.end();
  EXPECT_EQ(inner, QRect(7, 7, 26, 16));
  EXPECT_EQ(bevel.InnerRect(image.rect()), inner);

  // The colours of the top and left edges, and of the bottom and right edges, by depth.
  const std::pair<TColor, TColor> rings[] = {
      {clWindowFrame, clWindowFrame},
      {clWhite, clBlue},
      {clWhite, clBlue},
      {clRed, clRed},
      {kGreen, kGrey},
      {clYellow, clYellow},
      {clYellow, clYellow},
      {kUntouched, kUntouched},
  };
  for (int d = 0; d < 8; ++d) {
    SCOPED_TRACE(d);
    EXPECT_EQ(image.pixel(d, 15), ToQColor(rings[d].first).rgb()) << "left";
    EXPECT_EQ(image.pixel(20, d), ToQColor(rings[d].first).rgb()) << "top";
    EXPECT_EQ(image.pixel(39 - d, 15), ToQColor(rings[d].second).rgb()) << "right";
    EXPECT_EQ(image.pixel(20, 29 - d), ToQColor(rings[d].second).rgb()) << "bottom";
  }
  // The bottom colour owns the top-right and bottom-left corners of each ring.
  EXPECT_EQ(image.pixel(1, 1), ToQColor(clWhite).rgb());
  EXPECT_EQ(image.pixel(38, 1), ToQColor(clBlue).rgb());
  EXPECT_EQ(image.pixel(1, 28), ToQColor(clBlue).rgb());

  // Frames wider than the rectangle use it up; none and space take no room.
  EXPECT_EQ(bevel.InnerRect(QRect(0, 0, 10, 7)).size(), QSize(2, 0));
  bevel.SetBevelOuter(bvSpace);
  bevel.SetBorderStyle(bsNone);
  EXPECT_EQ(bevel.InnerRect(QRect(0, 0, 40, 30)), QRect(4, 4, 32, 22));
}

}  // namespace
}  // namespace meters
