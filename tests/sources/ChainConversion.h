// The window's conversion chain in a test: audio file source → trigger with 32768-byte blocks →
// wave file sink, and a reader for the PCM WAVs it writes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Dispatcher.h"
#include "sources/AudioFile.h"
#include "stream/Trigger.h"
#include "stream/WaveFormat.h"
#include "wave/Wave.h"
#include "wave/WaveFile.h"

namespace sources::test {

struct Pcm16 {
  stream::TWaveFormatEx format{};
  std::vector<std::int16_t> samples;
};

// Reads a PCM WAV with the wave layer.
inline Pcm16 ReadWav(const std::string& path) {
  Pcm16 result;
  wave::TMMWave w;
  w.SetFileName(path);
  const stream::TWaveFormatEx* f = w.GetPWaveFormat();
  if (f == nullptr) return result;
  result.format = *f;
  w.OpenFile();
  std::vector<char> bytes;
  std::vector<char> block(65536);
  for (std::int64_t n; (n = w.ReadBytes(block.data(), block.size())) > 0;) {
    bytes.insert(bytes.end(), block.begin(), block.begin() + n);
  }
  result.samples.resize(bytes.size() / 2);
  std::memcpy(result.samples.data(), bytes.data(), result.samples.size() * 2);
  return result;
}

// Converts `source` (MP3 or WAV) to `wav` through the trigger chain; false when it did not
// finish.
inline bool ConvertWithTrigger(const std::string& source, const std::string& wav) {
  TMMAudioFile audio(nullptr);
  stream::TMMTrigger trigger(nullptr);
  wave::TMMWaveFile sink(nullptr);
  trigger.SetBufferSize(32768);
  trigger.SetInput(&audio);
  trigger.SetOutput(&sink);
  sink.Wave()->SetFileMustExist(false);
  audio.SetFileName(source);
  sink.Wave()->SetFileName(wav);
  bool stopped = false;
  trigger.OnStop = [&](stream::TObject*) {
    trigger.Close();
    stopped = true;
  };
  trigger.Start();
  const bool done =
      platform::Dispatcher::Instance().RunUntil([&] { return stopped; }, std::chrono::seconds(60));
  trigger.SetInput(nullptr);
  trigger.SetOutput(nullptr);
  return done && !sink.Failed();
}

// Expects the window chain's output `ours` to equal `reference` to the sample, but for the first
// and the last two milliseconds: they carry the source's fades, which only move samples towards
// silence (the fade-out starts at a whole millisecond of the source's length, so it may cover a
// little more than one).
inline void ExpectEqualButTheFades(const Pcm16& ours, const Pcm16& reference) {
  ASSERT_EQ(ours.samples.size(), reference.samples.size());
  const std::size_t edge = 2 * (ours.format.nSamplesPerSec / 1000 + 1) * ours.format.nChannels;
  for (std::size_t i = 0; i < ours.samples.size(); ++i) {
    if (i < edge || i + edge >= ours.samples.size()) {
      ASSERT_LE(std::abs(ours.samples[i]), std::abs(reference.samples[i]) + 1) << "sample " << i;
    } else {
      ASSERT_EQ(ours.samples[i], reference.samples[i]) << "sample " << i;
    }
  }
}

}  // namespace sources::test
