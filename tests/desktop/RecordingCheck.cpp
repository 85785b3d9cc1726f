#include "tests/desktop/RecordingCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace desktop {
namespace {

using Index = std::ptrdiff_t;

struct Match {
  Index pos = -1;
  double score = 0;
};

Index ToFrames(double ms, int rate) {
  return static_cast<Index>(std::llround(ms * rate / 1000.0));
}

double ToMs(Index frames, int rate) {
  return static_cast<double>(frames) * 1000.0 / rate;
}

int Level(const Pcm& pcm, Index frame) {
  int level = 0;
  for (int c = 0; c < pcm.channels; ++c) {
    level = std::max(level, std::abs(static_cast<int>(pcm.samples[frame * pcm.channels + c])));
  }
  return level;
}

// First and last frame above `threshold`; false when there is none.
bool SoundBounds(const Pcm& pcm, int threshold, Index* first, Index* last) {
  const auto frames = static_cast<Index>(pcm.Frames());
  Index i = 0;
  while (i < frames && Level(pcm, i) <= threshold) ++i;
  if (i == frames) return false;
  Index j = frames - 1;
  while (Level(pcm, j) <= threshold) --j;
  *first = i;
  *last = j;
  return true;
}

std::int64_t Energy(const Pcm& pcm, Index frame) {
  std::int64_t sum = 0;
  for (int c = 0; c < pcm.channels; ++c) {
    const std::int64_t s = pcm.samples[frame * pcm.channels + c];
    sum += s * s;
  }
  return sum;
}

// Where `length` frames of `needle` from `from` are found in `hay`: the start within
// [around - radius, around + radius] with the highest normalized correlation.
Match Locate(const Pcm& needle, Index from, Index length, const Pcm& hay, Index around,
             Index radius) {
  const Index lo = std::max<Index>(0, around - radius);
  const Index hi = std::min(static_cast<Index>(hay.Frames()) - length, around + radius);
  Match best;
  if (hi < lo || needle.channels != hay.channels) return best;
  std::int64_t needleEnergy = 0;
  for (Index i = 0; i < length; ++i) needleEnergy += Energy(needle, from + i);
  // Energy of hay[lo + k, lo + k + length) is prefix[k + length] - prefix[k].
  std::vector<std::int64_t> prefix(static_cast<std::size_t>(hi - lo + length + 1), 0);
  for (std::size_t k = 1; k < prefix.size(); ++k) {
    prefix[k] = prefix[k - 1] + Energy(hay, lo + static_cast<Index>(k) - 1);
  }
  const Index width = length * needle.channels;
  const std::int16_t* n = needle.samples.data() + from * needle.channels;
  for (Index pos = lo; pos <= hi; ++pos) {
    const std::int16_t* h = hay.samples.data() + pos * hay.channels;
    std::int64_t dot = 0;
    for (Index i = 0; i < width; ++i) dot += static_cast<std::int64_t>(n[i]) * h[i];
    const auto k = static_cast<std::size_t>(pos - lo);
    const double energy =
        static_cast<double>(needleEnergy) *
        static_cast<double>(prefix[k + static_cast<std::size_t>(length)] - prefix[k]);
    const double score = energy > 0 ? static_cast<double>(dot) / std::sqrt(energy) : 0;
    if (best.pos < 0 || score > best.score) best = {pos, score};
  }
  return best;
}

// Frames of sound from `from` on before the next silence of `minGap` frames, at most `limit`.
Index SoundRun(const Pcm& pcm, Index from, Index last, Index limit, Index minGap, int threshold) {
  Index quiet = 0;
  Index end = from;
  for (; end <= last && end - from < limit; ++end) {
    quiet = Level(pcm, end) <= threshold ? quiet + 1 : 0;
    if (quiet >= minGap) return end + 1 - quiet - from;
  }
  return end - quiet - from;
}

// The sound found in the file at `at` for `span` frames is mostly silent there too.
bool FileIsSilent(const Pcm& file, Index at, Index span, int threshold) {
  const Index begin = std::max<Index>(0, at);
  const Index end = std::min(static_cast<Index>(file.Frames()), at + span);
  Index silent = 0;
  for (Index i = begin; i < end; ++i) silent += Level(file, i) <= threshold ? 1 : 0;
  return 2 * silent >= span;
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

Pcm ReadRawPcm(const std::string& path, int channels, int rate) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
  Pcm pcm;
  pcm.channels = channels;
  pcm.rate = rate;
  const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
  pcm.samples.resize(bytes.size() / frameBytes * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < pcm.samples.size(); ++i) {
    pcm.samples[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return pcm;
}

CheckResult CheckRecording(const Pcm& file, const Pcm& recording, const CheckSettings& settings) {
  CheckResult result;
  const int rate = recording.rate;
  const int threshold = static_cast<int>(settings.silenceLevel * 32768.0);
  const Index segment = ToFrames(settings.segmentMs, rate);
  Index fileFirst = 0, fileLast = 0, first = 0, last = 0;
  if (!SoundBounds(file, threshold, &fileFirst, &fileLast)) return result;
  result.fileLengthMs = ToMs(fileLast - fileFirst + 1, rate);
  if (!SoundBounds(recording, threshold, &first, &last) || last - first + 1 < 2 * segment) {
    return result;
  }
  result.soundFound = true;
  result.soundStartMs = ToMs(first, rate);
  result.soundLengthMs = ToMs(last - first + 1, rate);

  // Recording frame = file frame + offset, kept up to date across each silence.
  const Match start =
      Locate(recording, first, segment, file, fileFirst, ToFrames(settings.startSearchMs, rate));
  result.startScore = start.score;
  result.startFound = start.score >= settings.minScore;
  Index offset = first - start.pos;
  if (result.startFound) result.missingStartMs = ToMs(start.pos - fileFirst, rate);

  const Index minGap = ToFrames(settings.minGapMs, rate);
  const Index minSegment = ToFrames(settings.minSegmentMs, rate);
  for (Index i = first; i <= last;) {
    if (Level(recording, i) > threshold) {
      ++i;
      continue;
    }
    const Index gapStart = i;
    while (Level(recording, i) <= threshold) ++i;  // stops at `last` at the latest
    const Index span = i - gapStart;
    if (span < minGap) continue;
    const Index fileAt = gapStart - offset;
    const bool own = result.startFound && FileIsSilent(file, fileAt, span, threshold);
    Gap gap{ToMs(gapStart - first, rate), ToMs(span, rate), 0, false};
    // Placed by the sound after it, which may be shorter than a segment when gaps come close.
    const Index resumeLength = SoundRun(recording, i, last, segment, minGap, threshold);
    if (result.startFound && resumeLength >= minSegment) {
      const Match resume = Locate(recording, i, resumeLength, file, fileAt,
                                  span + ToFrames(settings.gapSearchMs, rate));
      if (resume.score >= settings.minScore) {
        gap.resumed = true;
        gap.skippedMs = ToMs(resume.pos - fileAt, rate);
        offset = i - resume.pos;
      }
    }
    if (!own) result.gaps.push_back(gap);
  }

  // The last segment of sound, looked for where the offset puts it (or at the file's end).
  const Index tail = last + 1 - segment;
  const Index expected = result.startFound ? tail - offset : fileLast + 1 - segment;
  const Match end =
      Locate(recording, tail, segment, file, expected, ToFrames(settings.endSearchMs, rate));
  result.endScore = end.score;
  result.endFound = end.score >= settings.minScore;
  if (result.endFound) result.missingEndMs = ToMs(fileLast - (end.pos + segment - 1), rate);
  // Sound repeated or dropped without a silence moves the end away from where the offset puts it.
  if (result.startFound && result.endFound) result.shiftMs = ToMs(expected - end.pos, rate);
  return result;
}

bool CheckResult::Passed(const CheckSettings& settings) const {
  return soundFound && startFound && missingStartMs <= settings.toleranceMs && gaps.empty() &&
         std::abs(shiftMs) <= settings.toleranceMs && endFound &&
         missingEndMs <= settings.toleranceMs;
}

std::string CheckResult::Report(const CheckSettings& settings) const {
  if (!soundFound) return "sound: none in the recording\n";
  std::string text =
      Format("sound: from %.1f ms of the recording, %.1f ms long (the file: %.1f ms)\n",
             soundStartMs, soundLengthMs, fileLengthMs);
  if (!startFound) {
    text += Format("start: not found in the file (best match %.3f)\n", startScore);
  } else if (missingStartMs > settings.toleranceMs) {
    text += Format("start: %.1f ms of the file missing (match %.3f)\n", missingStartMs, startScore);
  } else {
    text += Format("start: the file's first sample is heard (match %.3f)\n", startScore);
  }
  if (gaps.empty()) {
    text += "gaps: none\n";
  } else {
    double total = 0, longest = 0;
    for (const Gap& gap : gaps) {
      total += gap.lengthMs;
      longest = std::max(longest, gap.lengthMs);
    }
    text += Format("gaps: %.0f, %.1f ms of silence in all, the longest %.1f ms\n",
                   static_cast<double>(gaps.size()), total, longest);
  }
  for (const Gap& gap : gaps) {
    text += gap.resumed
                ? Format("gap at %.1f ms: %.1f ms of silence, %.1f ms of the file skipped\n",
                         gap.atMs, gap.lengthMs, gap.skippedMs)
                : Format("gap at %.1f ms: %.1f ms of silence, the sound after it not placed\n",
                         gap.atMs, gap.lengthMs);
  }
  if (shiftMs > settings.toleranceMs) {
    text += Format("splice: %.1f ms of sound heard twice without a silence\n", shiftMs);
  } else if (shiftMs < -settings.toleranceMs) {
    text += Format("splice: %.1f ms of the file dropped without a silence\n", -shiftMs);
  }
  if (!endFound) {
    text += Format("end: not found in the file (best match %.3f)\n", endScore);
  } else if (missingEndMs > settings.toleranceMs) {
    text += Format("end: %.1f ms of the file missing (match %.3f)\n", missingEndMs, endScore);
  } else {
    text += Format("end: the file's last sample is heard (match %.3f)\n", endScore);
  }
  return text;
}

}  // namespace desktop
