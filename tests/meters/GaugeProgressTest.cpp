#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <thread>

#include "meters/Gauge.h"

namespace meters {
namespace {

// Counts paints and remembers the percentage each one drew.
class CountingGauge : public TMMGauge {
 public:
  std::atomic<int> paints{0};
  std::atomic<int> paintedPercent{-1};

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    paintedPercent = Percent();
    TMMGauge::paintEvent(event);
  }
};

// Shown, exposed and with every pending paint done, so only what follows counts.
void ShowAndSettle(CountingGauge& gauge) {
  gauge.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&gauge));
  QCoreApplication::processEvents();
  gauge.paints = 0;
}

TEST(GaugeProgressTest, ClampsAndTruncates) {
  struct Row {
    const char* name;
    std::int32_t minValue, maxValue, written, stored;
    int percent;
  };
  const Row rows[] = {
      {"above the maximum", 0, 100, 150, 100, 100},
      {"below the minimum", 0, 100, -5, 0, 0},
      {"just below the top", 0, 1000, 999, 999, 99},
      {"negative range", -200, -100, -150, -150, 50},
      {"empty range", 50, 50, 80, 50, 0},
      {"full int range", TMMGauge::kLowestValue, TMMGauge::kHighestValue, -1, -1, 49},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TMMGauge gauge;
    gauge.SetMinValue(row.minValue);
    gauge.SetMaxValue(row.maxValue);
    gauge.SetMinValue(row.minValue);  // again, in case the first was above the old maximum
    gauge.SetProgress(row.written);
    EXPECT_EQ(gauge.Progress(), row.stored);
    EXPECT_EQ(gauge.Percent(), row.percent);
  }
}

TEST(GaugeProgressTest, TextIsCaptionAndPercentage) {
  TMMGauge gauge;
  EXPECT_EQ(gauge.PercentText(), QStringLiteral("0%"));
  gauge.SetCaption(QStringLiteral("Quelbarin Status"));
  EXPECT_EQ(gauge.PercentText(), QStringLiteral("Quelbarin Status 0%"));
  gauge.SetCaption(QStringLiteral("Decodificando.."));
  gauge.SetProgress(42);
  EXPECT_EQ(gauge.PercentText(), QStringLiteral("Decodificando.. 42%"));
}

TEST(GaugeProgressTest, RepaintsAtOnceOnlyWhenThePercentageChanges) {
  CountingGauge gauge;
  gauge.SetProgress(41);
  ShowAndSettle(gauge);

  gauge.SetProgress(41);
  EXPECT_EQ(gauge.paints, 0);
  gauge.SetProgress(42);
  EXPECT_EQ(gauge.paints, 1);  // synchronously, before any event is processed
  EXPECT_EQ(gauge.paintedPercent, 42);

  gauge.SetMaxValue(1000);  // 42 of 1000: 4 %
  QCoreApplication::processEvents();
  gauge.paints = 0;
  gauge.SetProgress(45);  // still 4 %
  EXPECT_EQ(gauge.paints, 0);
  EXPECT_EQ(gauge.Progress(), 45);
}

TEST(GaugeProgressTest, WritesFromAnotherThreadQueueOneRepaintAtATime) {
  CountingGauge gauge;
  ShowAndSettle(gauge);
  std::thread first([&gauge] { gauge.SetProgress(73); });
  first.join();
  EXPECT_EQ(gauge.Progress(), 73);  // stored at once
  QTRY_COMPARE(gauge.paintedPercent.load(), 73);

  // The main thread handles no events while the worker runs, so every write after the first
  // finds a repaint already queued.
  gauge.paints = 0;
  std::thread second([&gauge] {
    for (int value = 1; value <= 100; ++value) gauge.SetProgress(value);
  });
  second.join();
  QTRY_COMPARE(gauge.paintedPercent.load(), 100);
  QCoreApplication::processEvents();
  EXPECT_EQ(gauge.paints, 1);
}

}  // namespace
}  // namespace meters
