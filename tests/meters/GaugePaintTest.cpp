#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <algorithm>
#include <set>

#include "meters/Gauge.h"

namespace meters {
namespace {

constexpr TColor kCyan = 0xFFFF00;

QRgb Rgb(TColor color) {
  return ToQColor(color).rgb();
}

// A gauge without bevel or text: red on white, yellow corners.
void MakePlain(TMMGauge& gauge, TMMGaugeKind kind, int width, int height) {
  gauge.resize(width, height);
  gauge.SetKind(kind);
  gauge.SetShowText(false);
  gauge.SetForeColor(clRed);
  gauge.SetBackColor(clWhite);
  gauge.SetColor(clYellow);
  gauge.Bevel().SetBevelOuter(bvNone);
}

QImage Render(TMMGauge& gauge) {
  return gauge.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The colours found in columns [fromX, toX) of the image.
std::set<QRgb> ColoursIn(const QImage& image, int fromX, int toX) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = fromX; x < toX; ++x) colours.insert(image.pixel(x, y));
  }
  return colours;
}

TEST(GaugePaintTest, KindsFillTheirShare) {
  struct Probe {
    int x, y;
    TColor colour;
  };
  struct Row {
    const char* name;
    TMMGaugeKind kind;
    int width, height, progress;
    std::vector<Probe> probes;
  };
  // clang-format off
  const std::vector<Row> rows = {
      // The default lowered one-pixel bevel leaves 148 inner pixels; 33 % is 48 of them.
      {"horizontal bar", gkHorizontalBar, 150, 18, 33,
       {{1, 9, clRed}, {48, 9, clRed}, {49, 9, clWhite}, {0, 9, clBtnShadow}, {75, 0, clBtnShadow},
        {149, 9, clBtnHighlight}, {75, 17, clBtnHighlight}, {148, 16, clWhite}}},
      {"horizontal bar at 0", gkHorizontalBar, 150, 18, 0, {{1, 9, clWhite}}},
      {"vertical bar", gkVerticalBar, 40, 101, 25,
       {{20, 100, clRed}, {20, 76, clRed}, {20, 75, clWhite}}},
      {"pie at 25", gkPie, 101, 101, 25,
       {{75, 25, clRed}, {52, 48, clRed}, {25, 25, clWhite}, {75, 75, clWhite}, {25, 75, clWhite},
        {2, 2, clYellow}}},
      {"pie at 75", gkPie, 101, 101, 75,
       {{75, 25, clRed}, {75, 75, clRed}, {25, 75, clRed}, {25, 25, clWhite}}},
      {"pie at 0", gkPie, 101, 101, 0,
       {{75, 25, clWhite}, {50, 50, clWhite}, {25, 75, clWhite}, {2, 2, clYellow}, {0, 50, clRed}}},
      {"needle at 50", gkNeedle, 101, 50, 50,
       {{50, 5, clRed}, {50, 45, clRed}, {40, 30, clWhite}, {60, 30, clWhite}, {1, 1, clYellow},
        {30, 49, clRed}}},
      {"needle at 0", gkNeedle, 101, 50, 0, {{50, 25, clWhite}, {50, 49, clRed}}},
  };
  // clang-format on
  ASSERT_NE(Rgb(clBtnShadow), Rgb(clBtnHighlight));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TMMGauge gauge;
    MakePlain(gauge, row.kind, row.width, row.height);
    if (row.width == TMMGauge::kDefaultWidth) gauge.Bevel().SetBevelOuter(bvLowered);
    gauge.SetProgress(row.progress);
    const QImage image = Render(gauge);
    for (const Probe& probe : row.probes) {
      EXPECT_EQ(image.pixel(probe.x, probe.y), Rgb(probe.colour)) << probe.x << "," << probe.y;
    }
  }
}

// Half a bar, text centred across its end at x = 75.
void MakeHalfBarWithText(TMMGauge& gauge) {
  MakePlain(gauge, gkHorizontalBar, 150, 18);
  gauge.SetShowText(true);
  gauge.SetCaption(QStringLiteral("Quelbarin Status"));
  gauge.SetProgress(50);
  QPalette palette = gauge.palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  gauge.setPalette(palette);
}

TEST(GaugePaintTest, TextInvertsTheFaceOrIsTwoToneOverABar) {
  TMMGauge gauge;
  MakeHalfBarWithText(gauge);
  const QImage inverted = Render(gauge);
  EXPECT_EQ(ColoursIn(inverted, 0, 75), (std::set<QRgb>{Rgb(clRed), Rgb(kCyan)}));
  EXPECT_EQ(ColoursIn(inverted, 75, 150), (std::set<QRgb>{Rgb(clWhite), Rgb(clBlack)}));

  // Two tones: the font colour over the rest, its inverse over the bar.
  gauge.SetBWText(true);
  const QImage twoTone = Render(gauge);
  EXPECT_EQ(ColoursIn(twoTone, 0, 75), (std::set<QRgb>{Rgb(clRed), Rgb(clWhite)}));
  EXPECT_EQ(ColoursIn(twoTone, 75, 150), (std::set<QRgb>{Rgb(clWhite), Rgb(clBlack)}));
}

// The window's gauge (blue face, the default bar colour) half done, under desktop palettes whose
// highlight is a mid-tone, dark or light: each caption pixel keeps 4.5 : 1 against the face
// pixel beneath it, over the bar and over the rest; a highlight that allows it stays the bar.
TEST(GaugePaintTest, CaptionStaysLegibleOverTheBarAndTheRest) {
  const QPalette desktop = QApplication::palette();
  struct Row {
    const char* highlight;  // empty: the platform's own palette
    bool kept;              // the bar shows the highlight itself
  };
  for (const Row& row : {Row{"", false}, Row{"#308cc6", false}, Row{"#3daee9", false},
                         Row{"#000060", true}, Row{"#f0f0a0", true}}) {
    SCOPED_TRACE(row.highlight);
    QPalette palette = desktop;
    if (*row.highlight != 0) palette.setColor(QPalette::Highlight, QColor(row.highlight));
    QApplication::setPalette(palette);
    TMMGauge gauge;
    gauge.resize(154, 18);
    gauge.SetBackColor(clBlue);
    gauge.SetCaption(QStringLiteral("Decodificando.."));
    gauge.SetProgress(50);
    const QImage text = Render(gauge);
    gauge.SetShowText(false);
    const QImage face = Render(gauge);
    if (*row.highlight != 0) {
      EXPECT_EQ(face.pixel(4, 9) == QColor(row.highlight).rgb(), row.kept);
    }
    // Inside the one-pixel bevel the bar covers 76 of the 152 columns.
    const int barEnd = 1 + 76;
    double least[2] = {21, 21};
    int pixels[2] = {0, 0};
    for (int y = 1; y < 17; ++y) {
      for (int x = 1; x < 153; ++x) {
        if (text.pixel(x, y) == face.pixel(x, y)) continue;
        const int part = x < barEnd ? 0 : 1;
        ++pixels[part];
        least[part] = std::min(least[part],
                               ContrastRatio(QColor(text.pixel(x, y)), QColor(face.pixel(x, y))));
      }
    }
    EXPECT_GT(pixels[0], 20);
    EXPECT_GT(pixels[1], 20);
    EXPECT_GE(least[0], kMinimumTextContrast) << "over the bar";
    EXPECT_GE(least[1], kMinimumTextContrast) << "over the rest";
  }
  QApplication::setPalette(desktop);
}

TEST(GaugePaintTest, ContrastRatioFollowsRelativeLuminance) {
  struct Row {
    const char *a, *b;
    double ratio;
  };
  for (const Row& row : {Row{"#000000", "#ffffff", 21.0}, Row{"#777777", "#777777", 1.0},
                         Row{"#ffff00", "#0000ff", 8.0}, Row{"#cf7339", "#308cc6", 1.08},
                         Row{"#ffff7f", "#000080", 15.14}}) {
    EXPECT_NEAR(ContrastRatio(QColor(row.a), QColor(row.b)), row.ratio, 0.01) << row.a;
    EXPECT_NEAR(ContrastRatio(QColor(row.b), QColor(row.a)), row.ratio, 0.01) << row.a;
  }
}

}  // namespace
}  // namespace meters
