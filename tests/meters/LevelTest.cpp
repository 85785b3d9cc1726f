#include "meters/Level.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTest>
#include <cstring>
#include <vector>

namespace meters {
namespace {

constexpr TColor kYellow = 0x00FFFF;
constexpr TColor kAqua = 0xFFFF00;
constexpr TColor kTeal = 0x808000;
constexpr TColor kMaroon = 0x000080;
constexpr TColor kGreen = 0x008000;

QRgb Rgb(TColor color) {
  return ToQColor(color).rgb();
}

// The program's meter: 132 × 10 with the default lowered one-pixel bevel, so 130 × 8 inside.
// No peak timer: the tests drive PeakTick themselves.
struct ExampleLevel {
  TMMLevel level{nullptr, nullptr};
  int paints = 0;

  ExampleLevel() {
    level.resize(132, 10);
    level.SetMinRepaintInterval(std::chrono::milliseconds(0));  // every change paints at once
    level.OnPaint = [this](QObject*) { ++paints; };
    level.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&level));
    QCoreApplication::processEvents();
    paints = 0;
  }
};

QImage Render(QWidget& widget) {
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The colour of spot k of the example meter (inner area from (1, 1), a spot every 2 pixels).
QRgb SpotPixel(const QImage& image, int spot, int row = 4) {
  return image.pixel(1 + 2 * (spot - 1), 1 + row);
}

std::vector<std::uint8_t> Words(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

stream::TWaveFormatEx Pcm(int bits, int channels, int rate) {
  stream::TWaveFormatEx format{};
  format.wFormatTag = stream::WAVE_FORMAT_PCM;
  format.nChannels = static_cast<std::uint16_t>(channels);
  format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  format.wBitsPerSample = static_cast<std::uint16_t>(bits);
  format.nBlockAlign = static_cast<std::uint16_t>(bits / 8 * channels);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  return format;
}

TEST(LevelTest, GeometryCentresTheSpotsAndPlacesTheZones) {
  struct Row {
    const char* name;
    int width, height;
    TMMLevelKind kind;
    int spotWidth, spotSpace;
    int spots, margin, point1Spot, point2Spot, spotWidthAfter;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"the program's meter", 132, 10, lkHorizontal, 1, 1, 65, 0, 32, 55, 1},
      {"default size", 200, 17, lkHorizontal, 1, 1, 99, 0, 49, 84, 1},
      {"wide spots", 132, 10, lkHorizontal, 3, 2, 26, 1, 13, 22, 3},
      {"vertical", 10, 132, lkVertical, 1, 1, 65, 0, 32, 55, 1},
      {"spot wider than a third", 132, 10, lkHorizontal, 100, 1, 2, 21, 1, 1, 43},
      {"no space", 132, 10, lkHorizontal, 4, 0, 32, 1, 16, 27, 4},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TMMLevel level(nullptr, nullptr);
    level.resize(row.width, row.height);
    level.SetKind(row.kind);
    level.SetSpotSpace(row.spotSpace);
    level.SetSpotWidth(row.spotWidth);
    EXPECT_EQ(level.SpotWidth(), row.spotWidthAfter);
    EXPECT_EQ(level.NumSpots(), row.spots);
    EXPECT_EQ(level.Margin(), row.margin);
    EXPECT_EQ(level.Point1Spot(), row.point1Spot);
    EXPECT_EQ(level.Point2Spot(), row.point2Spot);
  }

  // Turning a wide meter vertical stands it up.
  TMMLevel level(nullptr, nullptr);
  level.resize(132, 10);
  level.SetKind(lkVertical);
  EXPECT_EQ(level.size(), QSize(10, 132));
  EXPECT_EQ(level.NumSpots(), 65);
}

TEST(LevelTest, SpotsShowTheirZoneColoursAndThePeak) {
  for (const int bits : {8, 24}) {
    SCOPED_TRACE(bits);
    ExampleLevel example;
    TMMLevel& level = example.level;
    level.SetBitsPerPixel(bits);
    level.SetBar2Color(kYellow);  // tell the lower zones apart
    level.SetNumPeaks(2);

    level.SetAmplitude(32767);  // every spot lit
    QImage image = Render(level);
    struct Probe {
      int spot;
      TColor colour;
    };
    for (const Probe& probe : std::vector<Probe>{
             {1, kAqua}, {32, kAqua}, {33, kYellow}, {55, kYellow}, {56, clRed}, {65, clRed}}) {
      EXPECT_EQ(SpotPixel(image, probe.spot), Rgb(probe.colour)) << "spot " << probe.spot;
    }
    EXPECT_EQ(image.pixel(2, 5), Rgb(clBlack));  // the space after spot 1
    EXPECT_EQ(image.pixel(0, 5), Rgb(clBtnShadow));
    EXPECT_EQ(image.pixel(131, 5), Rgb(clBtnHighlight));

    // Down to 20 spots (-24.2 dB): the rest unlit, the peak's two spots still at 65 and 64.
    level.SetAmplitude(2020);
    ASSERT_EQ(level.LevelSpots(), 20);
    ASSERT_EQ(level.PeakSpot(), 65);
    image = Render(level);
    EXPECT_EQ(SpotPixel(image, 20), Rgb(kAqua));
    EXPECT_EQ(SpotPixel(image, 21), Rgb(kTeal));
    EXPECT_EQ(SpotPixel(image, 40), Rgb(kTeal));
    EXPECT_EQ(SpotPixel(image, 63), Rgb(kMaroon));
    EXPECT_EQ(SpotPixel(image, 64), Rgb(clRed));
    EXPECT_EQ(SpotPixel(image, 65), Rgb(clRed));
  }
}

TEST(LevelTest, DirectionsAndDottedSpots) {
  ExampleLevel example;
  TMMLevel& level = example.level;
  level.SetNumPeaks(0);
  level.SetAmplitude(2020);  // 20 spots
  level.SetDirection(dirReversed);
  QImage image = Render(level);
  // Spot 1 sits at the right end, its right edge on the inner area's edge: spot k at 132 - 2k.
  EXPECT_EQ(image.pixel(130, 5), Rgb(kAqua));
  EXPECT_EQ(image.pixel(132 - 2 * 20, 5), Rgb(kAqua));
  EXPECT_EQ(image.pixel(132 - 2 * 21, 5), Rgb(kTeal));
  EXPECT_EQ(image.pixel(132 - 2 * 65, 5), Rgb(kMaroon));
  EXPECT_EQ(image.pixel(1, 5), Rgb(clBlack));

  // Symmetric: the level is halved and shown as five spots around it.
  level.SetDirection(dirSymetric);
  level.SetAmplitude(32767);  // 65 spots, halved: 32
  ASSERT_EQ(level.LevelSpots(), 32);
  image = Render(level);
  for (int spot : {30, 34}) EXPECT_EQ(image.pixel(132 - 2 * spot, 5), Rgb(kAqua)) << spot;
  for (int spot : {29, 35}) EXPECT_EQ(image.pixel(132 - 2 * spot, 5), Rgb(kTeal)) << spot;

  // Dotted unlit spots: every second row of the spot, counting from the top.
  level.SetDirection(dirNormal);
  level.SetInactiveDoted(true);
  level.SetActiveDoted(true);
  level.SetAmplitude(2020);
  image = Render(level);
  const int unlit = 1 + 2 * 29;
  EXPECT_EQ(image.pixel(unlit, 1), Rgb(kTeal));
  EXPECT_EQ(image.pixel(unlit, 2), Rgb(clBlack));
  EXPECT_EQ(image.pixel(unlit, 3), Rgb(kTeal));
  EXPECT_EQ(image.pixel(1, 1), Rgb(kAqua));
  EXPECT_EQ(image.pixel(1, 2), Rgb(clBlack));

  // A vertical meter grows upwards.
  TMMLevel tall(nullptr, nullptr);
  tall.resize(10, 132);
  tall.SetKind(lkVertical);
  tall.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tall));
  tall.SetAmplitude(2020);
  image = Render(tall);
  EXPECT_EQ(image.pixel(5, 130), Rgb(kAqua));
  EXPECT_EQ(image.pixel(5, 130 - 2 * 20), Rgb(kTeal));
}

TEST(LevelTest, AmplitudeMapsToSpotsOnTheDecibelOrLinearScale) {
  struct Row {
    const char* name;
    bool logAmp;
    int sensitivy, gain;
    std::int32_t amplitude;
    int spots;
    bool gainOverflow;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"log silence", true, -35, 0, 0, 0, false},
      {"log just below the empty end", true, -35, 0, 582, 0, false},
      {"log -30 dB", true, -35, 0, 1036, 9, false},
      {"log -6 dB", true, -35, 0, 16384, 54, false},
      {"log full scale", true, -35, 0, 32767, 65, false},
      {"log negative amplitude", true, -35, 0, -32768, 65, false},
      {"log -60 dB at sensitivity -90", true, -90, 0, 33, 22, false},
      {"log -14 dB with gain 32 reaches the end", true, -35, 32, 6530, 65, false},
      {"log louder with gain 32 runs past it", true, -35, 32, 7000, 65, true},
      {"log gain -8 silences", true, -35, -8, 32767, 0, false},
      {"linear below the threshold", false, -35, 0, 582, 0, false},
      {"linear half", false, -35, 0, 16384, 32, false},
      {"linear full scale", false, -35, 0, 32767, 65, false},
      {"linear gain 8 doubles half scale to full", false, -35, 8, 16384, 65, false},
      {"linear gain 8 runs past the end", false, -35, 8, 20000, 65, true},
  };
  // clang-format on
  ExampleLevel example;
  TMMLevel& level = example.level;
  int overflows = 0;
  level.OnGainOverflow = [&](QObject* sender) {
    EXPECT_EQ(sender, &level);
    ++overflows;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    level.ResetLevel();
    level.SetLogAmp(row.logAmp);
    level.SetSensitivy(row.sensitivy);
    level.SetGain(row.gain);
    overflows = 0;
    level.SetAmplitude(row.amplitude);
    EXPECT_EQ(level.LevelSpots(), row.spots);
    EXPECT_EQ(overflows, row.gainOverflow ? 1 : 0);
  }

  // Out-of-range settings are clamped or, for Gain, ignored.
  level.SetSensitivy(-200);
  EXPECT_EQ(level.Sensitivy(), -90);
  level.SetSensitivy(0);
  EXPECT_EQ(level.Sensitivy(), -9);
  level.SetGain(33);
  EXPECT_EQ(level.Gain(), 8);
}

TEST(LevelTest, ValueSetsAndReadsTheLevelInPercent) {
  struct Row {
    bool logAmp;
    int written, spots, read;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {true, 100, 65, 100}, {true, 50, 54, 51}, {true, 0, 0, 0}, {true, 250, 65, 100},
      {false, 50, 32, 49}, {false, 100, 65, 100}, {false, -5, 0, 0},
  };
  // clang-format on
  ExampleLevel example;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.written);
    example.level.SetLogAmp(row.logAmp);
    example.level.ResetLevel();
    example.level.SetValue(row.written);
    EXPECT_EQ(example.level.LevelSpots(), row.spots);
    EXPECT_EQ(example.level.Value(), row.read);
  }
}

TEST(LevelTest, StepUpDecayFallsByItsFactorPerWindowAndThenStopsPainting) {
  EXPECT_NEAR(TMMLevel(nullptr, nullptr).DecayFactor(), 0.0001f, 1e-9);
  ExampleLevel example;
  TMMLevel& level = example.level;
  level.SetNumPeaks(0);
  level.SetDecayMode(dmStepUp);
  level.SetDecay(8);
  EXPECT_NEAR(level.DecayFactor(), 0.96466f, 0.00001f);

  level.SetAmplitude(32767);
  EXPECT_EQ(level.LevelSpots(), 65);
  // Each silent window multiplies the shown amplitude by 0.96466, that is -0.3125 dB, and a dB
  // is 65 / 35 spots: the bar falls by about 0.58 spots per window.
  std::vector<int> shown;
  for (int window = 1; window <= 130 && level.LevelSpots() > 0; ++window) {
    level.SetAmplitude(0);
    shown.push_back(level.LevelSpots());
    const double expected = (35.0 - 0.3125 * window) * 65.0 / 35.0;
    EXPECT_NEAR(level.LevelSpots(), std::max(expected, 0.0), 1.0) << "window " << window;
  }
  ASSERT_EQ(level.LevelSpots(), 0);
  EXPECT_GE(shown.size(), 110u);
  EXPECT_LE(shown.size(), 113u);

  // At rest nothing repaints; a louder window shows at once.
  example.paints = 0;
  for (int i = 0; i < 10; ++i) level.SetAmplitude(0);
  EXPECT_EQ(example.paints, 0);
  level.SetAmplitude(16384);
  EXPECT_EQ(level.LevelSpots(), 54);
  EXPECT_EQ(example.paints, 1);

  // Exponential: a jump is approached gradually.
  level.SetDecayMode(dmExponential);
  level.ResetLevel();
  level.SetAmplitude(32767);
  EXPECT_GT(level.LevelSpots(), 0);
  EXPECT_LT(level.LevelSpots(), 20);
  for (int i = 0; i < 300; ++i) level.SetAmplitude(32767);
  EXPECT_EQ(level.LevelSpots(), 65);

  // Uniform: the average of the last 2 × Decay - 2 = 14 windows.
  level.SetDecayMode(dmUniform);
  for (int i = 0; i < 20; ++i) level.SetAmplitude(32767);
  EXPECT_EQ(level.LevelSpots(), 65);
  level.SetAmplitude(0);
  EXPECT_EQ(level.LevelSpots(), 64);  // 32767 × 13 / 14, -0.64 dB
  for (int i = 0; i < 6; ++i) level.SetAmplitude(0);
  EXPECT_EQ(level.LevelSpots(), 54);  // half, -6 dB
  for (int i = 0; i < 7; ++i) level.SetAmplitude(0);
  EXPECT_EQ(level.LevelSpots(), 0);
}

TEST(LevelTest, PeakHoldsThenFallsOrVanishes) {
  ExampleLevel example;
  TMMLevel& level = example.level;
  level.SetNumPeaks(2);
  level.SetPeakDelay(2);  // holds 5 ticks
  level.SetAmplitude(32767);
  level.SetAmplitude(2020);
  ASSERT_EQ(level.PeakSpot(), 65);
  EXPECT_EQ(level.PeakCountdown(), 5);

  // PeakSpeed 0: gone after the hold, and the meter repaints without waiting for data.
  for (int tick = 1; tick < 5; ++tick) level.PeakTick();
  EXPECT_EQ(level.PeakSpot(), 65);
  example.paints = 0;
  level.PeakTick();
  EXPECT_EQ(level.PeakSpot(), 0);
  EXPECT_EQ(example.paints, 1);
  EXPECT_EQ(SpotPixel(Render(level), 65), Rgb(kMaroon));

  // PeakSpeed 3: after the hold it falls one spot every 3 ticks.
  level.SetPeakSpeed(3);
  level.SetAmplitude(32767);
  level.SetAmplitude(2020);
  for (int tick = 0; tick < 5; ++tick) level.PeakTick();
  EXPECT_EQ(level.PeakSpot(), 64);
  for (int tick = 0; tick < 3; ++tick) level.PeakTick();
  EXPECT_EQ(level.PeakSpot(), 63);
  const QImage image = Render(level);
  EXPECT_EQ(SpotPixel(image, 63), Rgb(clRed));
  EXPECT_EQ(SpotPixel(image, 62), Rgb(clRed));
  EXPECT_EQ(SpotPixel(image, 64), Rgb(kMaroon));

  // A level at or above the peak takes it over and restarts the hold.
  level.SetAmplitude(32767);
  EXPECT_EQ(level.PeakSpot(), 65);
  EXPECT_EQ(level.PeakCountdown(), 5);

  // ResetLevel clears level and peak and repaints at once.
  example.paints = 0;
  level.ResetLevel();
  EXPECT_EQ(level.PeakSpot(), 0);
  EXPECT_EQ(level.LevelSpots(), 0);
  EXPECT_EQ(example.paints, 1);

  // NumPeaks 0: no peak at all.
  level.SetNumPeaks(0);
  level.SetAmplitude(32767);
  EXPECT_EQ(level.PeakSpot(), 0);
}

TEST(LevelTest, SharedTimerMovesAHeldPeakAndTheMainThreadRepaints) {
  TMMLevel level;
  level.resize(132, 10);
  int paints = 0;
  level.OnPaint = [&](QObject*) { ++paints; };
  level.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&level));
  ASSERT_NE(level.PeakTimer(), platform::TimerService::kNoEntry);
  platform::TimerService& timers = platform::TimerService::Instance();
  // A meter at rest holds no peak and costs no ticks.
  EXPECT_TRUE(timers.Suspended(level.PeakTimer()));

  level.SetPeakDelay(0);  // one tick of hold
  level.SetAmplitude(32767);
  EXPECT_FALSE(timers.Suspended(level.PeakTimer()));
  level.SetAmplitude(2020);
  paints = 0;
  QTRY_COMPARE_WITH_TIMEOUT(level.PeakSpot(), 0, 5000);
  EXPECT_TRUE(timers.Suspended(level.PeakTimer())) << "the tick that dropped the peak stops";
  QTRY_VERIFY_WITH_TIMEOUT(paints > 0, 5000);
  EXPECT_EQ(SpotPixel(Render(level), 65), Rgb(kMaroon));

  // A held peak (here for 101 ticks) keeps the timer only with peaks shown and the meter on.
  level.SetPeakDelay(50);
  level.SetAmplitude(32767);
  level.SetNumPeaks(0);
  EXPECT_TRUE(timers.Suspended(level.PeakTimer()));
  level.SetNumPeaks(1);
  EXPECT_FALSE(timers.Suspended(level.PeakTimer()));
  level.SetEnabled(false);
  EXPECT_TRUE(timers.Suspended(level.PeakTimer()));

  // A destroyed meter takes its entry with it.
  platform::TimerService::EntryId goneEntry;
  {
    TMMLevel gone;
    goneEntry = gone.PeakTimer();
    EXPECT_TRUE(timers.Contains(goneEntry));
  }
  EXPECT_FALSE(timers.Contains(goneEntry));
  EXPECT_TRUE(timers.Contains(level.PeakTimer()));
}

TEST(LevelTest, WhileFedTheFeedMovesAHeldPeakAndTheTimerTakesItBackWhenFeedingStops) {
  platform::TimerService timers;
  TMMLevel level{nullptr, &timers};
  level.resize(132, 10);
  level.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&level));
  std::int64_t nowUs = 0;
  level.SetClock([&] { return nowUs; });
  const stream::TWaveFormatEx mono = Pcm(16, 1, 44100);
  level.SetLevelFormat(&mono);
  level.SetSamples(1);
  level.SetPeakDelay(2);  // holds 5 ticks of 25 ms
  const std::int16_t loud = 32767, quiet = 2020;

  level.FeedLevel(&loud);
  ASSERT_EQ(level.PeakSpot(), 65);
  EXPECT_TRUE(timers.Suspended(level.PeakTimer())) << "the feed moves the peak, not the timer";
  // Fed every 25 ms, the peak falls on the same tick as the timer would drop it.
  for (int tick = 1; tick <= 5; ++tick) {
    nowUs = tick * 25'000;
    level.FeedLevel(&quiet);
    // On the fifth the held peak goes and the quiet level becomes the peak.
    EXPECT_EQ(level.PeakSpot(), tick < 5 ? 65 : level.LevelSpots()) << "tick " << tick;
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(SpotPixel(Render(level), 65), Rgb(kMaroon)) << "the feed's paint shows the drop";
  // Feeds far apart catch up every tick due: a held peak falling one spot each 2 ticks.
  level.SetPeakSpeed(2);
  level.FeedLevel(&loud);
  nowUs += 7 * 25'000;  // 5 ticks of hold, then one spot each 2 ticks: 2 spots down
  level.FeedLevel(&quiet);
  EXPECT_EQ(level.PeakSpot(), 63);
  EXPECT_TRUE(timers.Suspended(level.PeakTimer()));

  // Feeding stops: the timer takes the held peak back and lets it fall to nothing.
  QTRY_VERIFY_WITH_TIMEOUT(!timers.Suspended(level.PeakTimer()) || level.PeakSpot() == 0, 5000);
  QTRY_COMPARE_WITH_TIMEOUT(level.PeakSpot(), 0, 10000);
  EXPECT_TRUE(timers.Suspended(level.PeakTimer()));
}

TEST(LevelTest, FeedLevelReadsItsChannelAndReportsFullScale) {
  struct Row {
    const char* name;
    int bits, channels;
    stream::TMMChannel channel;
    int offsetL, offsetR;
    std::vector<std::uint8_t> window;  // two frames
    std::int32_t amplitude;
    bool pcmOverflow;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"16-bit mono", 16, 1, stream::chBoth, 0, 0, Words({-1000, 300}), 1000, false},
      {"16-bit mono with offset", 16, 1, stream::chBoth, 100, 0, Words({-1000, 300}), 1100, false},
      {"16-bit stereo left reads the even words", 16, 2, stream::chLeft, 0, 0,
       Words({100, -9000, -200, 9000}), 200, false},
      {"16-bit stereo right", 16, 2, stream::chRight, 0, 0, Words({100, -9000, -200, 9000}), 9000,
       false},
      {"16-bit stereo both halves the sum", 16, 2, stream::chBoth, 0, 0,
       Words({101, -9000, -200, 9001}), 4449, false},
      {"16-bit stereo right with offset", 16, 2, stream::chRight, 0, -50,
       Words({0, 100, 0, -100}), 150, false},
      {"16-bit four channels, left", 16, 4, stream::chLeft, 0, 0,
       Words({10, 20, 30000, 30000, -40, 50, 30000, 30000}), 40, false},
      {"16-bit minimum is full scale", 16, 1, stream::chBoth, 0, 0, Words({-32768, 0}), 32768,
       true},
      {"16-bit maximum is full scale", 16, 1, stream::chBoth, 0, 0, Words({32767, 0}), 32767, true},
      {"16-bit just below", 16, 1, stream::chBoth, 0, 0, Words({32766, -32766}), 32766, false},
      {"8-bit mono", 8, 1, stream::chBoth, 0, 0, {128, 138}, 2560, false},
      {"8-bit byte 0 is full scale", 8, 1, stream::chBoth, 0, 0, {0, 128}, 32768, true},
      {"8-bit byte 255", 8, 1, stream::chBoth, 0, 0, {255, 128}, 32512, false},
      {"8-bit stereo left", 8, 2, stream::chLeft, 0, 0, {130, 0, 126, 255}, 512, false},
      {"8-bit stereo both", 8, 2, stream::chBoth, 0, 0, {130, 0, 126, 255}, 256 * 63, false},
      {"8-bit with offset", 8, 1, stream::chBoth, 10, 0, {148, 128}, 2560, false},
  };
  // clang-format on
  ExampleLevel example;
  TMMLevel& level = example.level;
  int overflows = 0;
  level.OnPcmOverflow = [&](QObject*) { ++overflows; };
  level.SetSamples(2);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const stream::TWaveFormatEx format = Pcm(row.bits, row.channels, 44100);
    level.SetLevelFormat(&format);
    level.SetChannel(row.channel);
    level.SetDCOffsetL(row.offsetL);
    level.SetDCOffsetR(row.offsetR);
    ASSERT_EQ(static_cast<std::size_t>(level.WindowSizeBytes()), row.window.size());
    overflows = 0;
    level.FeedLevel(row.window.data());
    EXPECT_EQ(level.LastAmplitude(), row.amplitude);
    EXPECT_EQ(overflows, row.pcmOverflow ? 1 : 0);
  }
  EXPECT_EQ(level.DCOffsetL(), 10);

  // A full-scale window lights the whole bar; a disabled meter takes nothing.
  level.ResetLevel();
  const std::vector<std::uint8_t> loud = {0, 0};
  level.FeedLevel(loud.data());
  EXPECT_EQ(level.LevelSpots(), 65);
  level.SetEnabled(false);
  EXPECT_EQ(level.LevelSpots(), 0);
  const std::vector<std::uint8_t> quiet = {120, 120};
  level.FeedLevel(quiet.data());
  EXPECT_EQ(level.LastAmplitude(), 0);
}

TEST(LevelTest, FeedLevelsShowsWhatFeedingOneByOneShowsInOnePaint) {
  // 16-bit mono windows of two frames, four bytes apart from one another in the fed block.
  const std::vector<std::int16_t> amplitudes = {2000, 32767, 1000, 500, 250, 16000, 100};
  std::vector<std::int16_t> block;
  for (const std::int16_t a : amplitudes) block.insert(block.end(), {a, 0, -31000, -31000});
  const stream::TWaveFormatEx mono = Pcm(16, 1, 44100);
  ExampleLevel batched, single;
  int overflows[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    TMMLevel& level = (i == 0 ? batched : single).level;
    level.SetLevelFormat(&mono);
    level.SetSamples(2);
    level.SetNumPeaks(2);
    level.SetDecayMode(dmStepUp);
    level.SetDecay(2);
    level.OnPcmOverflow = [&overflows, i](QObject*) { ++overflows[i]; };
  }
  batched.level.FeedLevels(block.data(), static_cast<int>(amplitudes.size()), 8);
  for (std::size_t k = 0; k < amplitudes.size(); ++k) single.level.FeedLevel(&block[4 * k]);
  EXPECT_EQ(batched.level.LevelSpots(), single.level.LevelSpots());
  EXPECT_EQ(batched.level.PeakSpot(), single.level.PeakSpot());
  EXPECT_EQ(batched.level.LastAmplitude(), 100);
  EXPECT_EQ(overflows[0], 1);
  EXPECT_EQ(overflows[1], 1);
  EXPECT_GT(batched.level.LevelSpots(), 0) << "the decay should still hold the loud window";
  EXPECT_GT(single.paints, 1);
  EXPECT_EQ(batched.paints, 0) << "painted before the window's next paint";
  QCoreApplication::processEvents();
  EXPECT_EQ(batched.paints, 1);
}

TEST(LevelTest, LevelFormatMustBeValidPcm) {
  TMMLevel level(nullptr, nullptr);
  const stream::TWaveFormatEx stereo16 = Pcm(16, 2, 44100);
  level.SetLevelFormat(&stereo16);
  EXPECT_EQ(level.BitLength(), stream::b16Bit);
  EXPECT_EQ(level.Mode(), stream::mStereo);
  EXPECT_EQ(level.WindowSizeBytes(), 200);  // 50 frames of 4 bytes
  const stream::TWaveFormatEx quad8 = Pcm(8, 4, 4000);
  level.SetLevelFormat(&quad8);
  EXPECT_EQ(level.BitLength(), stream::b8Bit);
  EXPECT_EQ(level.WindowSizeBytes(), 200);

  struct Row {
    const char* name;
    stream::TWaveFormatEx format;
  };
  stream::TWaveFormatEx adpcm = Pcm(16, 2, 44100);
  adpcm.wFormatTag = 2;
  const std::vector<Row> rows = {
      {"not PCM", adpcm},
      {"24 bits", Pcm(24, 2, 44100)},
      {"3 channels", Pcm(16, 3, 44100)},
      {"no channels", Pcm(16, 0, 44100)},
      {"rate too low", Pcm(16, 2, 3999)},
      {"rate too high", Pcm(16, 2, 100001)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      level.SetLevelFormat(&row.format);
      ADD_FAILURE() << "accepted";
    } catch (const EMMLevelError& error) {
      EXPECT_STREQ(error.what(), "Invalid WaveFormat");
    }
  }
  EXPECT_THROW(level.SetLevelFormat(nullptr), EMMLevelError);
  EXPECT_EQ(level.WindowSizeBytes(), 200);  // a refused format changes nothing

  try {
    level.SetBitsPerPixel(16);
    ADD_FAILURE() << "16 bits per pixel accepted";
  } catch (const EMMDIBError& error) {
    EXPECT_STREQ(error.what(), "Bitlength not supported yet");
  }
  EXPECT_EQ(level.BitsPerPixel(), 8);
}

TEST(LevelTest, RepaintsAtOnceOnlyWhenThePictureChanges) {
  ExampleLevel example;
  TMMLevel& level = example.level;
  level.SetNumPeaks(0);
  level.SetAmplitude(16384);
  EXPECT_EQ(example.paints, 1);
  level.SetAmplitude(16384);
  level.SetAmplitude(16400);  // still 54 spots
  EXPECT_EQ(example.paints, 1);
  level.SetAmplitude(0);
  EXPECT_EQ(example.paints, 2);
  level.SetAmplitude(0);
  EXPECT_EQ(example.paints, 2);

  // With a repaint interval on the test's clock, a change right after a paint is held back and
  // then shown in one paint. The interval is a minute, so that the held level's timer never runs
  // out during the test: the test shows the level itself.
  std::int64_t nowUs = 0;
  level.SetClock([&] { return nowUs; });
  level.SetMinRepaintInterval(std::chrono::minutes(1));
  level.SetAmplitude(16384);
  EXPECT_EQ(example.paints, 3) << "the first paint on a new clock is not held back";
  nowUs += 1000000;
  level.SetAmplitude(8192);
  level.SetAmplitude(32767);
  EXPECT_EQ(example.paints, 3);
  EXPECT_TRUE(level.RepaintPending());
  QCoreApplication::processEvents();
  EXPECT_EQ(example.paints, 3);
  EXPECT_TRUE(level.FlushRepaint());
  EXPECT_EQ(example.paints, 4);
  EXPECT_FALSE(level.RepaintPending());
  EXPECT_FALSE(level.FlushRepaint());
  // A minute after that paint a change shows at once again.
  nowUs += 60000000;
  level.SetAmplitude(0);
  EXPECT_EQ(example.paints, 5);
  // The held level's timer shows it by itself (the test's clock stands still: it waits 1 ms).
  level.SetMinRepaintInterval(std::chrono::milliseconds(1));
  level.SetAmplitude(32767);
  EXPECT_EQ(example.paints, 5);
  QTRY_COMPARE_WITH_TIMEOUT(example.paints, 6, 5000);
  EXPECT_FALSE(level.RepaintPending());
  EXPECT_EQ(SpotPixel(Render(level), 65), Rgb(level.Bar3Color()));
  level.SetMinRepaintInterval(std::chrono::milliseconds(0));

  // A drawing handler replaces the bar: it gets the bitmap, its rectangle, level and peak.
  level.SetNumPeaks(1);
  QRect seenRect;
  int seenSpots = -1, seenPeak = -1;
  level.SetOnDrawBar([&](QObject*, TMMDIBCanvas& dib, const QRect& rect, int spots, int peak) {
    seenRect = rect;
    seenSpots = spots;
    seenPeak = peak;
    dib.SetColor(kGreen);
    dib.Clear();
  });
  level.SetAmplitude(32767);
  EXPECT_EQ(seenRect, QRect(0, 0, 130, 8));
  EXPECT_EQ(seenSpots, 65);
  EXPECT_EQ(seenPeak, 65);
  EXPECT_EQ(SpotPixel(Render(level), 10), Rgb(kGreen));
}

TEST(DibCanvasTest, FillsSolidAndDottedAndKeepsColoursAcrossDepths) {
  TMMDIBCanvas canvas;
  canvas.SetSize(6, 5);
  canvas.SetColor(clBlue);
  canvas.Clear();
  canvas.SetColor(clRed);
  canvas.FillRect(QRect(1, 1, 4, 3), true);
  const QRgb red = Rgb(clRed), blue = Rgb(clBlue);
  EXPECT_EQ(canvas.Pixel(1, 1), red);
  EXPECT_EQ(canvas.Pixel(2, 1), blue);
  EXPECT_EQ(canvas.Pixel(3, 1), red);
  EXPECT_EQ(canvas.Pixel(1, 2), blue);
  EXPECT_EQ(canvas.Pixel(1, 3), red);
  EXPECT_EQ(canvas.Pixel(0, 0), blue);
  canvas.FillRect(QRect(4, 3, 10, 10));  // clipped
  EXPECT_EQ(canvas.Pixel(5, 4), red);

  canvas.SetBitsPerPixel(24);
  EXPECT_EQ(canvas.Image().format(), QImage::Format_RGB888);
  EXPECT_EQ(canvas.Pixel(1, 1), red);
  EXPECT_EQ(canvas.Pixel(2, 1), blue);
  canvas.SetBitsPerPixel(8);
  EXPECT_EQ(canvas.Pixel(3, 1), red);
  EXPECT_EQ(canvas.Pixel(0, 0), blue);
  EXPECT_THROW(canvas.SetBitsPerPixel(32), EMMDIBError);

  // More colours than the palette holds: the nearest entry stands in.
  for (int i = 0; i < 300; ++i) {
    canvas.SetColor(static_cast<TColor>(i * 0x010101 % 0x1000000));
    canvas.FillRect(QRect(0, 0, 1, 1));
  }
  EXPECT_LE(canvas.Image().colorCount(), TMMDIBCanvas::kPaletteSize);

  TMMDIBCanvas copy;
  copy.SetSize(6, 5);
  copy.CopyFrom(canvas);
  EXPECT_EQ(copy.Pixel(5, 4), canvas.Pixel(5, 4));
  TMMDIBCanvas other;
  EXPECT_THROW(other.CopyFrom(canvas), std::logic_error);
}

}  // namespace
}  // namespace meters
