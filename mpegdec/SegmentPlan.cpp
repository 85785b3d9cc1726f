// The timeline. Decoding without gapless trimming gives the raw samples of every frame: frame k
// holds raw samples [k * spf, (k + 1) * spf). The whole decode drops the first `begin` raw
// samples (the encoder delay of a LAME header plus the decoder's own 529 samples, or none without
// a header) and delivers the file's measured length L from there, so raw sample r is sample
// r - begin of the whole decode. A segment of frames [s, e) keeps raw samples
// [max(s * spf, begin), min(e * spf, begin + L)).
//
// The warm-up. A decoder started at frame a reproduces frame s of a decode from the start when:
// - layers I and II: frame s - 1 was decoded too (layer I: s - 2), which fills the synthesis
//   history that frame s's first samples depend on;
// - layer III: frame s - 1 decodes from intact data, since its samples overlap into frame s and
//   its synthesis fills the history. libmpg123 counts the reservoir bytes it has seen since the
//   start (at most 511); a frame whose main_data_begin reaches further back is decoded as
//   silence, and with a CRC that silencing also zeroes the first two main-data bytes of the
//   frame, which a later frame may read from the reservoir;
// and a is a multiple of the synthesis ring's period (4 frames of 384 or 1152 samples, 8 of 576),
// so that the decoder's polyphase ring index matches a decode from the start.
//
// Not cut: MPEG 2 and 2.5 layer III (their reservoir model is not exact enough), format changes,
// gaps or junk between frames, streams whose whole decode starts more frames into the stream than
// the decoder decodes ahead, and a LAME header on layers I and II.
#include "mpegdec/SegmentPlan.h"

#include <algorithm>
#include <array>

namespace mpegdec {
namespace {

// Recent frames kept while walking the stream; warm-ups never reach further back.
constexpr int64_t kRing = 64;
// The decoder's own delay of layer III, trimmed with the encoder delay.
constexpr int64_t kDecoderDelay = 529;
// The whole decode starts within the first frames only when its first sample lies in them.
constexpr int64_t kLeadFrames = 3;
// Plans with one segment fewer tried when rounding to frames leaves a segment too short.
constexpr int64_t kRetries = 4;

// The numbers of the timeline.
struct Layout {
  int spf = 0;
  int64_t begin = 0;  // raw sample of the whole decode's first sample
  int64_t length = 0;
  int64_t frames = 0;
};

Layout layoutOf(const BoundFile& file) {
  Layout layout;
  layout.spf = file.samplesPerFrame();
  layout.begin = file.encoderDelay() >= 0 ? file.encoderDelay() + kDecoderDelay : 0;
  layout.length = file.totalSamples();
  layout.frames = file.info().Frames;
  return layout;
}

bool mayCut(const BoundFile& file, const Layout& layout) {
  const TMpegFileInfo& info = file.info();
  if (file.spans().size() != 1 || file.seekByDecoding() || layout.spf <= 0) return false;
  if (info.Layer == 3 && info.Version != MPEG_VERSION_1) return false;
  if (info.Layer != 3 && file.encoderDelay() >= 0) return false;
  return layout.begin < kLeadFrames * layout.spf && layout.frames > 1;
}

// The segment of frames [s, e) on the whole decode's timeline; Samples is 0 or below when it
// holds none of it.
TMpegSegment segmentOf(const Layout& layout, int64_t s, int64_t e) {
  const int64_t from = std::max(s * layout.spf, layout.begin);
  const int64_t to = std::min(e * layout.spf, layout.begin + layout.length);
  return TMpegSegment{int32_t(s), int32_t(e), from - layout.begin, to - from};
}

// The synthesis ring's period in frames: its index steps once per 32 samples and wraps at 16.
int64_t ringPeriod(int spf) {
  const int steps = spf / 32;
  int g = 16;
  for (int x = steps; x != 0;) {
    const int t = g % x;
    g = x;
    x = t;
  }
  return 16 / g;
}

struct RingFrame {
  int64_t offset = 0;
  int layer = 0;
  bool crc = false;
  int mainDataBegin = 0;
  int mainBytes = 0;  // layer III main data carried by the frame
};

// Where a cut's decoder starts.
struct CutStart {
  int64_t frame = -1;  // the warm-up's first frame; -1 when none was found
  int64_t startOffset = 0;
  int64_t cutOffset = 0;  // of the cut frame itself
};

// A walk over every frame of the stream that checks that it can be cut and finds the warm-up of
// each cut, keeping only the most recent frames.
class Walk {
 public:
  explicit Walk(std::vector<int64_t> cuts) : cuts_(std::move(cuts)), starts_(cuts_.size()) {}

  bool run(const BoundFile& file) {
    Decoder decoder(file.fd(), file.spans());
    if (!decoder.create(false, file.infoFrame()) || !decoder.startFrameWalk()) return false;
    Decoder::FrameFacts first, previous, facts;
    size_t nextCut = 0;
    for (frames_ = 0; decoder.nextFrame(facts); ++frames_) {
      if (frames_ == 0) {
        first = facts;
      } else if (facts.layer != first.layer || facts.mpeg1 != first.mpeg1 ||
                 facts.singleChannel != first.singleChannel || facts.rate != first.rate ||
                 previous.offset + previous.size != facts.offset) {
        return false;
      }
      while (nextCut < cuts_.size() && cuts_[nextCut] == frames_) {
        starts_[nextCut] = cutStart(frames_, facts.offset);
        if (starts_[nextCut].frame < 0) return false;
        ++nextCut;
      }
      remember(facts);
      previous = facts;
    }
    return frames_ > 0 && nextCut == cuts_.size();
  }

  int64_t frames() const { return frames_; }
  const CutStart& start(size_t cut) const { return starts_[cut]; }

 private:
  void remember(const Decoder::FrameFacts& facts) {
    RingFrame& f = ring_[size_t(frames_ % kRing)];
    f.offset = facts.offset;
    f.layer = facts.layer;
    f.crc = facts.crc;
    f.mainDataBegin = facts.mainDataBegin;
    const int side = facts.mpeg1 ? (facts.singleChannel ? 17 : 32) : (facts.singleChannel ? 9 : 17);
    f.mainBytes = std::max(0, facts.size - 4 - (facts.crc ? 2 : 0) - side);
    spf_ = facts.layer == 1 ? 384 : (facts.layer == 2 || facts.mpeg1) ? 1152 : 576;
  }
  const RingFrame& frame(int64_t k) const { return ring_[size_t(k % kRing)]; }

  CutStart cutStart(int64_t s, int64_t offset) const {
    CutStart start;
    start.cutOffset = offset;
    if (s == 0) {
      start.frame = 0;
      start.startOffset = offset;
      return start;
    }
    const int64_t period = ringPeriod(spf_);
    const int64_t oldest = std::max<int64_t>(0, s - kRing);
    for (int64_t a = (s - 1) - (s - 1) % period; a >= oldest; a -= period) {
      if (a == 0 || warmedUp(a, s)) {
        start.frame = a;
        start.startOffset = frame(a).offset;
        return start;
      }
    }
    return start;
  }

  // Whether a decoder started at frame a decodes frame s - 1 from intact data.
  bool warmedUp(int64_t a, int64_t s) const {
    const RingFrame& last = frame(s - 1);
    if (last.layer != 3) return s - a >= (last.layer == 1 ? 2 : 1);
    constexpr int64_t kReservoir = 511;
    int64_t available = 0, position = 0;
    std::array<int64_t, kRing> clobbered{};
    size_t clobberedCount = 0;
    for (int64_t k = a; k < s; ++k) {
      const RingFrame& f = frame(k);
      const bool silenced = f.mainDataBegin > available;
      if (silenced && f.crc) clobbered[clobberedCount++] = position;
      if (k == s - 1) {
        if (silenced) return false;
        for (size_t i = 0; i < clobberedCount; ++i) {
          const int64_t c = clobbered[i];
          if (c + 2 > position - f.mainDataBegin && c < position) return false;
        }
        return true;
      }
      available = std::min(kReservoir, available + f.mainBytes);
      position += f.mainBytes;
    }
    return true;
  }

  std::vector<int64_t> cuts_;  // ascending
  std::vector<CutStart> starts_;
  std::array<RingFrame, kRing> ring_{};
  int spf_ = 0;
  int64_t frames_ = 0;
};

// The cut frames of n segments of about equal length.
std::vector<int64_t> cutsFor(const Layout& layout, int64_t n) {
  std::vector<int64_t> cuts;
  for (int64_t i = 1; i < n; ++i) {
    const int64_t sample = layout.begin + layout.length * i / n;
    cuts.push_back((sample + layout.spf / 2) / layout.spf);
  }
  return cuts;
}

std::vector<TMpegSegment> segmentsFor(const Layout& layout, const std::vector<int64_t>& cuts) {
  std::vector<TMpegSegment> segments;
  int64_t s = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const int64_t e = i < cuts.size() ? cuts[i] : layout.frames;
    segments.push_back(segmentOf(layout, s, e));
    s = e;
  }
  return segments;
}

// A segment decoder reads at least two frames: libmpg123 does not take a lone frame for a stream.
// Past the first segment the warm-up sees to that.
bool decodable(const TMpegSegment& segment) {
  return segment.Samples > 0 && segment.FirstFrame < segment.EndFrame &&
         (segment.FirstFrame > 0 || segment.EndFrame >= 2);
}

bool longEnough(const std::vector<TMpegSegment>& segments, int64_t minSamples) {
  return std::all_of(segments.begin(), segments.end(), [minSamples](const TMpegSegment& x) {
    return decodable(x) && x.Samples >= minSamples;
  });
}

}  // namespace

TMpegSegment SegmentPlan::whole(const BoundFile& file) {
  return TMpegSegment{0, file.info().Frames, 0, file.totalSamples()};
}

bool SegmentPlan::isWhole(const BoundFile& file, const TMpegSegment& segment) {
  const TMpegSegment w = whole(file);
  return segment.FirstFrame == w.FirstFrame && segment.EndFrame == w.EndFrame &&
         segment.FirstSample == w.FirstSample && segment.Samples == w.Samples;
}

std::vector<TMpegSegment> SegmentPlan::make(const BoundFile& file, int32_t max,
                                            int64_t minSamples) {
  const Layout layout = layoutOf(file);
  if (!mayCut(file, layout) || minSamples >= layout.length) return {whole(file)};
  // Rounding the cuts to whole frames moves each by at most half a frame, so segments of a frame
  // more than the minimum stay long enough, and one more frame gives the first segment the two
  // frames it needs. Should one still come out too short, a few plans of fewer segments are tried.
  int64_t n = std::min<int64_t>(
      {int64_t(max), layout.frames, layout.length / (minSamples + 2 * layout.spf)});
  std::vector<int64_t> cuts;
  std::vector<TMpegSegment> segments;
  for (const int64_t fewest = std::max<int64_t>(2, n - kRetries); n >= fewest; --n) {
    cuts = cutsFor(layout, n);
    segments = segmentsFor(layout, cuts);
    if (longEnough(segments, minSamples)) break;
  }
  if (n < 2 || !longEnough(segments, minSamples)) return {whole(file)};
  Walk walk(cuts);
  if (!walk.run(file) || walk.frames() != layout.frames) return {whole(file)};
  return segments;
}

std::optional<SegmentSource> SegmentPlan::locate(const BoundFile& file,
                                                 const TMpegSegment& segment) {
  const Layout layout = layoutOf(file);
  const int64_t s = segment.FirstFrame, e = segment.EndFrame;
  if (!mayCut(file, layout) || s < 0 || e <= s || e > layout.frames) return std::nullopt;
  const TMpegSegment expected = segmentOf(layout, s, e);
  if (!decodable(expected) || segment.FirstSample != expected.FirstSample ||
      segment.Samples != expected.Samples) {
    return std::nullopt;
  }
  std::vector<int64_t> cuts{s};
  if (e < layout.frames) cuts.push_back(e);
  Walk walk(cuts);
  if (!walk.run(file) || walk.frames() != layout.frames) return std::nullopt;
  const FrameSpan& stream = file.spans().front();
  const CutStart& start = walk.start(0);
  SegmentSource source;
  source.bytes.begin = stream.begin + uint64_t(start.startOffset);
  source.bytes.end =
      e < layout.frames ? stream.begin + uint64_t(walk.start(1).cutOffset) : stream.end;
  source.skipSamples = layout.begin + segment.FirstSample - start.frame * layout.spf;
  source.samples = segment.Samples;
  return source;
}

}  // namespace mpegdec
