// Converts an MPEG audio file with the decoder module straight into a WAVE file through the wave
// I/O layer. A plain conversion writes the decoder's own samples at the chosen depth (16-bit
// output equals the decoder's, sample for sample); a normalization decodes twice in float, once
// to measure and once to scale and quantize, without a temporary file. The source's tags go
// along as an INFO list and an "id3 " chunk; an output past the 4 GiB limit of RIFF is RF64.
// When threads are free, the decoding is cut into segments of whole frames that the decoder
// module says decode apart exactly as in one run; each is decoded by a decoder of its own and
// written at its place in the file, so the output is the same to the byte.
// Threading: one object per conversion, called on one thread; its segments run on the helper
// pool's threads too, and all of them have ended before Run returns.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "cli/FileConverter.h"
#include "cli/HelperPool.h"
#include "cli/OutputSettings.h"
#include "mpegdec/mpegdec.h"

namespace sources {
class TMMMpeg;
}

namespace cli {

class MpegConversion {
 public:
  MpegConversion();
  ~MpegConversion();
  MpegConversion(const MpegConversion&) = delete;
  MpegConversion& operator=(const MpegConversion&) = delete;

  // Binds `source`; false when the decoder module does not take it (not MPEG audio, or no
  // usable module): the audio file chain then handles the file and says why.
  bool Bind(const std::filesystem::path& source);

  // Writes the bound file into `partial`; `destination` names the file in messages. Segments
  // are offered to `pool` (null: settings.parts segments, decoded one after another).
  ConversionResult Run(const std::filesystem::path& source,
                       const std::filesystem::path& destination,
                       const std::filesystem::path& partial, const OutputSettings& settings,
                       HelperPool* pool, const std::atomic<bool>* cancel,
                       const FileConverter::Progress& progress);

 private:
  struct Pass;
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  // How many threads may decode this file now.
  unsigned Parts(const OutputSettings& settings) const;
  // At most `max` segments of at least `minSeconds` that decode apart as in one run; empty when
  // the file is decoded in one run from the start.
  std::vector<TMpegSegment> Plan(unsigned max, std::int64_t minSeconds) const;
  // Decodes every segment (or the whole file) in pass.format on up to Parts() threads, each
  // taking a run of consecutive segments, calling pass.block for each block read on the
  // decoding thread. False when cancelled or stopped; throws what a decoder threw.
  bool Decode(Pass& pass);
  // Decodes the whole file in float for the gain of `settings`; nullopt when cancelled.
  std::optional<NormalizationGain> MeasureGain(const OutputSettings& settings);
  // Decodes into `partial`, scaled by `gain` when there is one, in `segments` (none: one run).
  // A failure without a reason: a segment did not decode as planned.
  ConversionResult Write(const std::filesystem::path& source,
                         const std::filesystem::path& destination,
                         const std::filesystem::path& partial, const OutputSettings& settings,
                         std::optional<double> gain, std::vector<TMpegSegment> segments);
  void ReportProgress(std::int64_t frames, int pass, int passes) const;

  std::unique_ptr<sources::TMMMpeg> decoder_;
  std::vector<std::unique_ptr<sources::TMMMpeg>> helpers_;  // bound to the file for other threads
  std::filesystem::path source_;
  HelperPool* pool_ = nullptr;
  unsigned parts_ = 1;
  const std::atomic<bool>* cancel_ = nullptr;
  const FileConverter::Progress* progress_ = nullptr;
  int channels_ = 0;
  int rate_ = 0;
  std::int64_t lengthMs_ = 0;
};

}  // namespace cli
