// Converts an MPEG audio file with the decoder module straight into a WAVE file through the wave
// I/O layer. A plain conversion writes the decoder's own samples at the chosen depth (16-bit
// output equals the decoder's, sample for sample); a normalization decodes twice in float, once
// to measure and once to scale and quantize, without a temporary file. The source's tags go
// along as an INFO list and an "id3 " chunk; an output past the 4 GiB limit of RIFF is RF64.
// Threading: one object per conversion, used on one thread; the measuring pass of a normalization
// runs its other parts on threads of its own, joined before it returns.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli/FileConverter.h"
#include "cli/OutputSettings.h"

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

  // Writes the bound file into `partial`; `destination` names the file in messages.
  ConversionResult Run(const std::filesystem::path& source,
                       const std::filesystem::path& destination,
                       const std::filesystem::path& partial, const OutputSettings& settings,
                       const std::atomic<bool>* cancel, const FileConverter::Progress& progress);

 private:
  struct Part;
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  // Decodes the whole file in float, in parts on up to settings.measureThreads threads, for the
  // gain of `settings`; nullopt when cancelled.
  std::optional<double> MeasureGain(const OutputSettings& settings);
  // Measures one part with `decoder` (the calling thread's part reports progress).
  void MeasurePart(sources::TMMMpeg& decoder, Part& part, bool reportProgress, int parts) const;
  void ReportProgress(std::int64_t frames, int pass, int passes) const;

  std::unique_ptr<sources::TMMMpeg> decoder_;
  std::filesystem::path source_;
  const std::atomic<bool>* cancel_ = nullptr;
  const FileConverter::Progress* progress_ = nullptr;
  int channels_ = 0;
  int rate_ = 0;
  std::int64_t lengthMs_ = 0;
};

}  // namespace cli
