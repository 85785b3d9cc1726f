// An MPEG audio file read through the decoder module, as a source of the output stage. It gives
// the decoder's own samples at 16, 24 or 32 bits, or float, and cuts the file into segments of
// whole frames that the module says decode apart exactly as in one run; each segment is decoded
// by a decoder of its own.
// Threading: one object per conversion, called on one thread; its segments are decoded on the
// helper pool's threads too, and all of them have ended before Decode returns.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "cli/PcmSource.h"
#include "mpegdec/mpegdec.h"

namespace sources {
class TMMMpeg;
}

namespace cli {

class MpegSource final : public PcmSource {
 public:
  MpegSource();
  ~MpegSource() override;
  MpegSource(const MpegSource&) = delete;
  MpegSource& operator=(const MpegSource&) = delete;

  // Binds `source`; false when the decoder module does not take it (not MPEG audio, or no
  // usable module): the WAVE reader then handles the file and says why.
  bool Bind(const std::filesystem::path& source);

  int Channels() const override { return channels_; }
  int Rate() const override { return rate_; }
  std::int64_t LengthMs() const override { return lengthMs_; }
  // From the time, with a second and a frame of slack for its rounding.
  std::uint64_t MaxFrames() const override;
  bool Delivers(OutputDepth) const override { return true; }
  std::vector<SourceSegment> Plan(unsigned max, std::int64_t minFrames, SampleForm,
                                  OutputDepth) override;
  // A segment whose decoding fails or ends early gives kRedecode; a failure of the one run
  // throws the decoder's error.
  DecodeStatus Decode(DecodePass& pass, const std::atomic<bool>* cancel) override;
  SourceTags Tags() const override;
  std::vector<std::string> Notices() const override { return notices_; }

 private:
  // The decoder of worker `w`: the bound one for 0, else one bound to the file for that worker,
  // kept for the next pass so that the file is bound once per decoder, not once per pass.
  sources::TMMMpeg& Decoder(std::size_t w);

  std::unique_ptr<sources::TMMMpeg> decoder_;
  std::vector<std::unique_ptr<sources::TMMMpeg>> helpers_;
  std::vector<TMpegSegment> planned_;  // every segment planned so far; SourceSegment::id indexes
  std::filesystem::path source_;
  int channels_ = 0;
  int rate_ = 0;
  std::int64_t lengthMs_ = 0;
  mutable std::vector<std::string> notices_;  // what reading the tags left out
};

}  // namespace cli
