// The level meter: shows the level of a PCM stream as a bar of spots with three colour zones, a
// display value that decays by its decay mode and peak spots that hold and then fall. One
// window of samples at a time (from the connector) is reduced to its peak amplitude, smoothed,
// mapped to a number of spots (in decibels or linearly) and drawn through an off-screen bitmap
// whose unlit bar is kept ready in a background bitmap.
// Threading: construction, properties, SetLevelFormat, FeedLevel(s), SetAmplitude, ResetLevel
// and painting on the main thread. The peak timer ticks on the shared timer thread; the tick only
// moves the peak under the peak lock and hands the repaint to the main thread without waiting.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "meters/Bevel.h"
#include "meters/Colors.h"
#include "meters/DibCanvas.h"
#include "meters/MicroClock.h"
#include "platform/TimerService.h"
#include "stream/MMError.h"
#include "stream/MMTypes.h"
#include "stream/WaveFormat.h"

namespace meters {

class EMMLevelError : public stream::EMMError {
 public:
  using stream::EMMError::EMMError;
};

enum TMMLevelKind : std::uint8_t { lkHorizontal, lkVertical };
enum TMMLevelDirection : std::uint8_t { dirNormal, dirReversed, dirSymetric };
enum TMMDecayMode : std::uint8_t { dmNone, dmStepUp, dmExponential, dmUniform };

using TMMLevelNotifyEvent = std::function<void(QObject* Sender)>;
// Draws the whole face instead of the meter: the paint canvas, its rectangle (0, 0, inner
// width, inner height), the lit spots and the peak spot.
using TMMLevelDrawBar = std::function<void(QObject* Sender, TMMDIBCanvas& DIB, const QRect& Rect,
                                           int nSpots, int Peak)>;

class TMMCustomLevel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDefaultWidth = 200;
  static constexpr int kDefaultHeight = 17;
  static constexpr TMMLevelKind kDefaultKind = lkHorizontal;
  static constexpr TMMLevelDirection kDefaultDirection = dirNormal;
  static constexpr bool kDefaultEnabled = true;
  static constexpr TColor kDefaultColor = clBlack;
  static constexpr TColor kDefaultBar1Color = 0xFFFF00;
  static constexpr TColor kDefaultBar2Color = 0xFFFF00;
  static constexpr TColor kDefaultBar3Color = 0x0000FF;
  static constexpr TColor kDefaultInactive1Color = 0x808000;
  static constexpr TColor kDefaultInactive2Color = 0x808000;
  static constexpr TColor kDefaultInactive3Color = 0x000080;
  static constexpr bool kDefaultDoted = false;
  static constexpr int kDefaultPoint1 = 50;
  static constexpr int kDefaultPoint2 = 85;
  static constexpr int kDefaultSpotWidth = 1;
  static constexpr int kDefaultSpotSpace = 1;
  static constexpr int kMaxSpotSpace = 10;
  static constexpr stream::TMMBits kDefaultBitLength = stream::b8Bit;
  static constexpr stream::TMMMode kDefaultMode = stream::mMono;
  static constexpr stream::TMMChannel kDefaultChannel = stream::chBoth;
  static constexpr int kDefaultSamples = 50;
  static constexpr int kDefaultMinRepaintIntervalMs = 10;
  static constexpr int kDefaultGain = 0;
  static constexpr int kMinGain = -8;
  static constexpr int kMaxGain = 32;
  static constexpr int kDefaultSensitivy = -35;
  static constexpr int kMinSensitivy = -90;
  static constexpr int kMaxSensitivy = -9;
  static constexpr bool kDefaultLogAmp = true;
  static constexpr int kDefaultNumPeaks = 1;
  static constexpr int kMaxNumPeaks = 5;
  static constexpr int kDefaultPeakDelay = 20;
  static constexpr int kDefaultPeakSpeed = 0;
  static constexpr int kMaxPeakTiming = 50;
  static constexpr TMMDecayMode kDefaultDecayMode = dmNone;
  static constexpr int kDefaultDecay = 1;
  static constexpr int kMaxDecay = 16;
  static constexpr int kDecayRingSize = 32;
  static constexpr int kDefaultBitsPerPixel = TMMDIBCanvas::kDefaultBitsPerPixel;
  static constexpr std::int32_t kFullScale = 32767;
  static constexpr std::chrono::milliseconds kPeakTickPeriod{25};

  // The peak timer is an entry of `peakTimer` (the shared service by default; not owned). With
  // nullptr the meter has no peak timer and PeakTick is left to the caller.
  explicit TMMCustomLevel(QWidget* parent = nullptr,
                          platform::TimerService* peakTimer = &platform::TimerService::Instance());
  // Removes the peak timer entry (waiting for a tick under way) before anything else goes.
  ~TMMCustomLevel() override;

  // ---- the connector's side ----
  // Takes the stream's format: valid PCM (8 or 16 bits, 1, 2 or 4 channels, 4000..100000
  // samples per second) or EMMLevelError "Invalid WaveFormat". Sets BitLength and Mode from it.
  void SetLevelFormat(const stream::TWaveFormatEx* format);
  // Reduces one window (WindowSizeBytes bytes at `data`) to its peak amplitude and shows it.
  // Only when Enabled and Visible.
  void FeedLevel(const void* data);
  // FeedLevel for `count` windows, each `stride` bytes after the one before, in order; the
  // picture is repainted once, after the last of them, in the window's next paint (so that the
  // meters fed in one round share one paint).
  void FeedLevels(const void* first, int count, int stride);
  // A round with sound in flight but no window due yet: a held peak moves as with a feed.
  void FeedNothing();
  // (BitLength + 1) × channels × Samples: the bytes of one window.
  int WindowSizeBytes() const { return windowBytes_; }
  // Smooths, maps and shows one amplitude (repainting at once when the picture changed).
  void SetAmplitude(std::int32_t amplitude);
  // Peak, level and decay history to zero; repaints at once.
  void ResetLevel();
  // One tick of the peak timer: holds, lowers or drops the peak. Any thread.
  void PeakTick();

  // ---- properties ----
  TMMLevelKind Kind() const { return kind_; }
  // A change of orientation swaps width and height when the shape does not fit it.
  void SetKind(TMMLevelKind value);
  TMMLevelDirection Direction() const { return direction_; }
  void SetDirection(TMMLevelDirection value);
  // Off: the level is reset, data is refused and the peak timer stops; on: the geometry is
  // recomputed and the timer runs again with the next peak.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TColor Bar1Color() const { return barColors_[0]; }
  void SetBar1Color(TColor value) { SetZoneColor(barColors_[0], value); }
  TColor Bar2Color() const { return barColors_[1]; }
  void SetBar2Color(TColor value) { SetZoneColor(barColors_[1], value); }
  TColor Bar3Color() const { return barColors_[2]; }
  void SetBar3Color(TColor value) { SetZoneColor(barColors_[2], value); }
  TColor Inactive1Color() const { return inactiveColors_[0]; }
  void SetInactive1Color(TColor value) { SetZoneColor(inactiveColors_[0], value); }
  TColor Inactive2Color() const { return inactiveColors_[1]; }
  void SetInactive2Color(TColor value) { SetZoneColor(inactiveColors_[1], value); }
  TColor Inactive3Color() const { return inactiveColors_[2]; }
  void SetInactive3Color(TColor value) { SetZoneColor(inactiveColors_[2], value); }
  bool InactiveDoted() const { return inactiveDoted_; }
  void SetInactiveDoted(bool value);
  bool ActiveDoted() const { return activeDoted_; }
  void SetActiveDoted(bool value);
  // Zone limits in percent of the bar, 1..100.
  int Point1() const { return point1_; }
  void SetPoint1(int value);
  int Point2() const { return point2_; }
  void SetPoint2(int value);
  // 1..a third of the bar length.
  int SpotWidth() const { return spotWidth_; }
  void SetSpotWidth(int value);
  // 0..10.
  int SpotSpace() const { return spotSpace_; }
  void SetSpotSpace(int value);
  stream::TMMBits BitLength() const { return bitLength_; }
  void SetBitLength(stream::TMMBits value);
  // mMultiChannel also stands for the four channels a format may bring.
  stream::TMMMode Mode() const;
  void SetMode(stream::TMMMode value);
  stream::TMMChannel Channel() const { return channel_; }
  void SetChannel(stream::TMMChannel value);
  // New levels repaint at once, but no more often than this: a level that changes sooner is
  // shown by one repaint when the interval has passed (windows come about once a millisecond,
  // far faster than a screen shows). 0 repaints every change at once.
  std::chrono::milliseconds MinRepaintInterval() const { return minRepaintInterval_; }
  void SetMinRepaintInterval(std::chrono::milliseconds value) { minRepaintInterval_ = value; }
  // The clock the repaint interval is measured on (the platform's by default); a new clock
  // forgets when the last paint was.
  void SetClock(TMMMicroClock clock);
  // Whether a level is held back by the repaint interval, and showing it now rather than when
  // the interval has passed (false when none is held back).
  bool RepaintPending() const { return deferredRepaint_.isActive(); }
  bool FlushRepaint();
  // Frames per window, at least 1.
  int Samples() const { return samples_; }
  void SetSamples(int value);
  // -8..32 (other values are ignored): amplitudes are multiplied by (Gain + 8) / 8.
  int Gain() const { return gainFactor_ - 8; }
  void SetGain(int value);
  // -90..-9: the decibels shown at the empty end of the bar.
  int Sensitivy() const { return sensitivy_; }
  void SetSensitivy(int value);
  bool LogAmp() const { return logAmp_; }
  void SetLogAmp(bool value);
  // 0..5 peak spots; 0 shows none and stops the peak timer.
  int NumPeaks() const;
  void SetNumPeaks(int value);
  // 0..50: the peak holds (2 × PeakDelay + 1) ticks.
  int PeakDelay() const;
  void SetPeakDelay(int value);
  // 0..50: 0 drops the peak after the hold; n lowers it one spot every n ticks.
  int PeakSpeed() const;
  void SetPeakSpeed(int value);
  TMMDecayMode DecayMode() const { return decayMode_; }
  void SetDecayMode(TMMDecayMode value);
  // 1..16.
  int Decay() const { return decay_; }
  void SetDecay(int value);
  // 0..100: sets the bar by hand; reads the level shown, in percent of full scale.
  int Value() const;
  void SetValue(int value);
  int DCOffsetL() const { return -negDCOffsetL_; }
  void SetDCOffsetL(int value);
  int DCOffsetR() const { return -negDCOffsetR_; }
  void SetDCOffsetR(int value);
  // Depth of both bitmaps: 8 or 24, else EMMDIBError "Bitlength not supported yet".
  int BitsPerPixel() const { return paintCanvas_.BitsPerPixel(); }
  void SetBitsPerPixel(int value);
  TMMBevel& Bevel() { return bevel_; }
  const TMMBevel& Bevel() const { return bevel_; }

  // ---- events (main thread) ----
  TMMLevelNotifyEvent OnPcmOverflow;   // a window's peak reached full scale
  TMMLevelNotifyEvent OnGainOverflow;  // the gained level ran past the end of the bar
  TMMLevelNotifyEvent OnPaint;         // before each paint
  const TMMLevelDrawBar& OnDrawBar() const { return onDrawBar_; }
  void SetOnDrawBar(TMMLevelDrawBar value);

  // ---- run-time state ----
  int NumSpots() const { return numSpots_; }
  int Margin() const { return margin_; }
  int Point1Spot() const { return point1Spot_; }
  int Point2Spot() const { return point2Spot_; }
  // Lit spots now shown.
  int LevelSpots() const { return level_; }
  // Spot of the peak (0: none) and the ticks left before it moves.
  int PeakSpot() const;
  int PeakCountdown() const;
  std::int32_t LastAmplitude() const { return lastAmplitude_; }
  float DecayFactor() const { return decayFactor_; }
  // The bevel's inner rectangle, where the bar is drawn.
  QRect InnerRect() const { return innerRect_; }
  // Spot k (1..N) on the bitmap, in its coordinates; empty outside 1..N.
  QRect SpotRect(int spot) const;
  // The peak timer entry, or TimerService::kNoEntry.
  platform::TimerService::EntryId PeakTimer() const { return peakTimerEntry_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Recomputes the inner rectangle, the spots and the background; level and peak go to 0.
  void ComputeGeometry();
  // ComputeGeometry when the size changed since it last ran (a hidden widget gets no resize
  // event until it is shown).
  void SyncGeometry();
  void RebuildBackground();
  void DrawSpot(TMMDIBCanvas& canvas, int spot, TColor color, bool dotted) const;
  // Repaints the bar for a new level, at once (or in the window's next paint) or deferred
  // (MinRepaintInterval).
  void RepaintLevel(bool atOnce = true);
  void RepaintBar(bool atOnce);
  // Where the bitmap goes on the widget: the bevel's inner rectangle, at least 1 × 1.
  QRect BarRect() const { return QRect(innerRect_.topLeft(), QSize(innerWidth_, innerHeight_)); }
  // The peak amplitude of one window, before gain and decay.
  std::int64_t WindowPeak(const std::uint8_t* bytes) const;
  // The rectangle that spans spots first..last (empty when there are none).
  QRect SpotsRect(int first, int last) const;
  void DrawLitSpots(TMMDIBCanvas& canvas, int peak) const;
  TColor ZoneColor(const std::array<TColor, 3>& colors, int spot) const;
  void SetZoneColor(TColor& field, TColor value);
  void ComputeWindowSize();
  void ClearDecayHistory();
  int DecayedAmplitude(int amplitude);
  int SpotsFor(std::int64_t gained) const;
  // The peak timer runs only while a peak is held (Enabled, NumPeaks > 0), so that a meter at
  // rest costs no ticks; the tick that lets the peak go suspends it.
  void UpdatePeakTimer();
  void RunPeakTimerLocked(bool run);  // with peakMutex_ held
  // One peak tick; true when the peak moved. With peakMutex_ held.
  bool PeakTickLocked();
  // While data is fed (the connector's round, every 25 ms on the main thread) the feed moves a
  // held peak by the ticks due on clock_ and the shared timer rests: the round's own paint shows
  // the move, so a held peak costs no timer-thread wake-up and no queued repaint. The timer takes
  // the peak back once no round came for kFeedWatch. Main thread; true when the peak moved.
  bool TakePeakFromFeed();
  bool CatchUpPeakLocked(std::int64_t nowUs);  // with peakMutex_ held
  void ReturnPeakToTimer();
  bool Showing() const;
  // Shows a peak the timer moved: now on the main thread, else queued there (one at a time).
  void RepaintPeakFromAnyThread();
  void RepaintPeak();
  void Fire(const TMMLevelNotifyEvent& event);

  platform::TimerService* timerService_;  // not owned
  platform::TimerService::EntryId peakTimerEntry_ = platform::TimerService::kNoEntry;
  std::chrono::milliseconds minRepaintInterval_{kDefaultMinRepaintIntervalMs};
  TMMMicroClock clock_;
  static constexpr std::int64_t kNoPaint = -1;
  std::int64_t lastPaintUs_ = kNoPaint;  // on clock_
  QTimer deferredRepaint_;  // single shot: shows a level that came too soon after a paint
  static constexpr std::chrono::milliseconds kFeedWatch{100};
  static constexpr std::int64_t kPeakTickUs =
      std::chrono::duration_cast<std::chrono::microseconds>(kPeakTickPeriod).count();
  QTimer feedWatch_;          // single shot, restarted by every feed: the feed has stopped
  bool holdRepaint_ = false;  // inside FeedLevels
  bool repaintHeld_ = false;  // a level changed inside FeedLevels
  TMMDIBCanvas background_;
  TMMDIBCanvas lit_;  // every spot lit in its zone colour; a paint copies the lit span from it
  TMMDIBCanvas paintCanvas_;
  bool enabled_ = kDefaultEnabled;
  TMMLevelKind kind_ = kDefaultKind;
  TColor color_ = kDefaultColor;
  std::array<TColor, 3> barColors_{kDefaultBar1Color, kDefaultBar2Color, kDefaultBar3Color};
  std::array<TColor, 3> inactiveColors_{kDefaultInactive1Color, kDefaultInactive2Color,
                                        kDefaultInactive3Color};
  bool inactiveDoted_ = kDefaultDoted;
  bool activeDoted_ = kDefaultDoted;
  int point1_ = kDefaultPoint1;
  int point2_ = kDefaultPoint2;
  int point1Spot_ = 0;
  int point2Spot_ = 0;
  int spotSpace_ = kDefaultSpotSpace;
  int spotWidth_ = kDefaultSpotWidth;
  int margin_ = 0;
  int numSpots_ = 1;
  TMMLevelDirection direction_ = kDefaultDirection;
  stream::TMMBits bitLength_ = kDefaultBitLength;
  stream::TMMChannel channel_ = kDefaultChannel;
  int channels_ = kDefaultMode + 1;
  int windowBytes_ = 0;
  int gainFactor_ = kDefaultGain + 8;
  int samples_ = kDefaultSamples;
  int sensitivy_ = kDefaultSensitivy;
  bool logAmp_ = kDefaultLogAmp;
  int level_ = 0;
  std::array<int, kDecayRingSize> decayRing_{};
  int decay_ = kDefaultDecay;
  TMMDecayMode decayMode_ = kDefaultDecayMode;
  float decayFactor_ = 0.0001f;
  int decayWindow_ = 1;
  int decayCount_ = 0;
  int decayIndex_ = 0;
  float decayed_ = 0.0f;
  std::int64_t decaySum_ = 0;
  std::int32_t lastAmplitude_ = 0;
  int innerWidth_ = 1;
  int innerHeight_ = 1;
  QRect innerRect_;
  QSize geometrySize_;  // the widget size the geometry was computed for
  int negDCOffsetL_ = 0;
  int negDCOffsetR_ = 0;
  TMMLevelDrawBar onDrawBar_;
  TMMBevel bevel_;

  // The peak, shared with the timer thread; guarded by peakMutex_.
  mutable std::mutex peakMutex_;
  int numPeaks_ = kDefaultNumPeaks;
  int peak_ = 0;
  int peakDelay_ = kDefaultPeakDelay;
  int peakSpeed_ = kDefaultPeakSpeed;
  int peakCountdown_ = 0;
  bool peakChanged_ = false;
  bool peakTimerRunning_ = false;
  bool peakFromFeed_ = false;        // the feed moves the peak; the timer entry rests
  std::int64_t nextPeakTickUs_ = 0;  // on clock_, while peakFromFeed_

  std::atomic<bool> repaintQueued_{false};
};

// The level meter as the windows place it.
class TMMLevel : public TMMCustomLevel {
  Q_OBJECT

 public:
  explicit TMMLevel(QWidget* parent = nullptr,
                    platform::TimerService* peakTimer = &platform::TimerService::Instance())
      : TMMCustomLevel(parent, peakTimer) {}
};

}  // namespace meters
