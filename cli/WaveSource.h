// A WAVE file as a source of the output stage. PCM and float files are read as they are stored,
// and may be cut into segments of sample frames; compressed files (ADPCM, A-law...) are decoded
// through the audio file chain (wave reader, ADPCM stage, converter drivers) in one run. Its own
// INFO list and "id3 " chunk are its tags.
// Without a gain, 16-bit output is the chain's own, and a file whose samples already have the
// output's form is copied as it is (file to file, inside the kernel, when the stage takes it so);
// anything else goes to the stage as float.
// Threading: one object per conversion, called on one thread; segments are read on the helper
// pool's threads too, and all of them have ended before Decode returns.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "cli/FloatSamples.h"
#include "cli/PcmSource.h"
#include "wave/WaveIO.h"

namespace cli {

class WaveSource final : public PcmSource {
 public:
  WaveSource();
  ~WaveSource() override;
  WaveSource(const WaveSource&) = delete;
  WaveSource& operator=(const WaveSource&) = delete;

  // Binds `source`: an empty text when it can be read, else why not ("not an audio file ...",
  // "cannot decode its audio format (...)").
  std::string Bind(const std::filesystem::path& source);

  int Channels() const override { return channels_; }
  int Rate() const override { return rate_; }
  std::int64_t LengthMs() const override { return lengthMs_; }
  std::uint64_t MaxFrames() const override { return maxFrames_; }
  bool Delivers(OutputDepth depth) const override;
  bool CopiesStored(OutputDepth depth) const override { return StoredAs(depth); }
  std::vector<SourceSegment> Plan(unsigned max, std::int64_t minFrames, SampleForm form,
                                  OutputDepth depth) override;
  DecodeStatus Decode(DecodePass& pass, const std::atomic<bool>* cancel) override;
  SourceTags Tags() const override;
  std::vector<std::string> Notices() const override { return notices_; }

 private:
  // Whether the stored samples are `depth`'s own, to be copied as they are.
  bool StoredAs(OutputDepth depth) const;
  DecodeStatus DecodeStored(DecodePass& pass, const std::atomic<bool>* cancel);
  // Hands the stored data to pass.copy, a range at a time.
  DecodeStatus CopyStored(DecodePass& pass, const std::atomic<bool>* cancel);
  DecodeStatus DecodeThroughChain(DecodePass& pass, const std::atomic<bool>* cancel);

  std::filesystem::path source_;
  wave::WaveIOHandlePtr description_;  // of the file as stored
  std::optional<RawSamples> stored_;   // the stored samples' layout; none: compressed
  int channels_ = 0;
  int rate_ = 0;
  std::int64_t lengthMs_ = 0;
  std::uint64_t maxFrames_ = 0;
  mutable std::vector<std::string> notices_;
};

}  // namespace cli
