// The one output stage of the converter: whatever the source (MPEG through the decoder module,
// WAVE through the reader and the drivers), its PCM goes through here into the output file at
// the chosen depth, scaled by the gain of a normalization (measured in a pass of its own), with
// dither, counting the clipped samples, with the source's tags, as RIFF or RF64, and cut into
// segments written at their places when the source can be cut and threads are free.
// A plain conversion writes the source's own samples when they already have the output's form
// (16-bit output of an MPEG file equals the decoder's, sample for sample); anything else is
// quantized from float.
// Threading: one object per conversion, called on one thread; segments run on the helper pool's
// threads too, and all of them have ended before Run returns.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/FileConverter.h"
#include "cli/HelperPool.h"
#include "cli/OutputSettings.h"
#include "cli/PcmSource.h"

namespace cli {

class OutputStage {
 public:
  // `pool` (null: settings.parts segments decoded one after another) and `cancel` (may be null)
  // are not owned.
  OutputStage(const OutputSettings& settings, HelperPool* pool, const std::atomic<bool>* cancel,
              const FileConverter::Progress& progress);

  // Writes `source` into `partial`; `destination` names the file in messages. Never throws.
  ConversionResult Run(PcmSource& source, const std::filesystem::path& destination,
                       const std::filesystem::path& partial);

 private:
  // How a writing pass ended: with a result, or with a segment that did not decode as planned,
  // so that the file is to be decoded and written again in one run.
  struct WriteOutcome {
    bool redecode = false;
    ConversionResult result;
  };
  struct Writing;

  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  // How many threads may decode this file now.
  unsigned Threads() const;
  // Gives `pass` the depth, the threads and the pool.
  void SetUp(DecodePass& pass) const;
  WriteOutcome Write(PcmSource& source, const std::filesystem::path& destination,
                     const std::filesystem::path& partial, std::optional<double> gain, bool cut);
  // The three steps of a writing pass.
  std::optional<ConversionResult> Prepare(Writing& w, const std::filesystem::path& partial);
  DecodeStatus DecodeInto(Writing& w);
  ConversionResult Finish(Writing& w, DecodeStatus status);
  void ReportProgress(std::int64_t frames, int pass, int passes) const;

  const OutputSettings& settings_;
  HelperPool* pool_;                 // not owned
  const std::atomic<bool>* cancel_;  // not owned
  const FileConverter::Progress progress_;
  PcmSource* source_ = nullptr;        // during Run; not owned
  std::thread::id owner_;              // the thread that reports the progress
  std::vector<std::string> messages_;  // the audio library's, from the passes so far
};

}  // namespace cli
