// A file bound to an instance and what binding found out about it: where its MPEG stream lies,
// the decoder that reads it, and the exact measures announced in the file info.
// Threading: made and used on the thread that calls the instance.
#ifndef QUELBARIN_MPEGDEC_BOUNDFILE_H
#define QUELBARIN_MPEGDEC_BOUNDFILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mpegdec/Decoder.h"
#include "mpegdec/FileDescriptor.h"
#include "mpegdec/mpegdec.h"

namespace mpegdec {

// The settings of an instance that binding follows.
struct BindSettings {
  int64_t trailingBytes = 0;  // bytes at the end of the file that are not audio
  int64_t fileOffset = 0;     // where the audio starts in a file that is not RIFF wrapped
  int channelMode = MPEG_CHANNEL_BOTH;
  int sampleFormat = MPEG_SAMPLES_S16;
};

class BoundFile {
 public:
  // Binds `name`: finds the stream, checks that it really is MPEG audio and measures it. On
  // success `out` holds the file and the result is MPEG_OK; otherwise an MPEG_ERR_* number.
  static int32_t bind(const char* name, const BindSettings& settings,
                      std::unique_ptr<BoundFile>& out);

  // Sets the decoder's output up for `channelMode` and `sampleFormat` unless it already is;
  // false on failure.
  bool prepareOutput(int channelMode, int sampleFormat);
  // Sets another decoder of this file up for the output that prepareOutput gives.
  bool configure(Decoder& decoder, int channelMode, int sampleFormat) const;

  // The open file (owned by this object) and the spans of frames that the decoder reads.
  int fd() const { return file_.get(); }
  const std::vector<FrameSpan>& spans() const { return spans_; }
  // Whether the decoders of this file may use its Xing or Info header (Decoder::create).
  bool infoFrame() const { return infoFrame_; }
  // The encoder delay a LAME header announces; -1 without one.
  long encoderDelay() const { return encoderDelay_; }

  const std::string& name() const { return name_; }
  Decoder& decoder() { return *decoder_; }
  const TMpegFileInfo& info() const { return info_; }
  int samplesPerFrame() const { return samplesPerFrame_; }
  uint64_t streamBytes() const { return streamBytes_; }
  int64_t totalSamples() const { return totalSamples_; }
  // Valid frame indexes are at most this.
  int64_t positionFrames() const { return positionFrames_; }
  // libmpg123's sample positions are not to be trusted (the stream changes format part-way):
  // positions are reached by decoding from the start.
  bool seekByDecoding() const { return seekByDecoding_; }

 private:
  struct Located;
  int32_t locate(const BindSettings& settings, Located& located);
  int32_t measure(const Located& located, const BindSettings& settings);
  int32_t measureLength(const Decoder::Survey& survey, int64_t& total);
  void describe(const Decoder::Survey& survey, int64_t frames, int64_t total);

  std::string name_;
  FileDescriptor file_;  // declared before the decoder, which reads through it
  uint64_t fileSize_ = 0;
  std::unique_ptr<Decoder> decoder_;
  TMpegFileInfo info_{};
  int streamChannels_ = 0;  // of the first frame
  int firstMode_ = 0;       // header channel mode of the first frame
  long streamRate_ = 0;     // of the first frame: the rate delivered
  int samplesPerFrame_ = 0;
  std::vector<FrameSpan> spans_;
  bool infoFrame_ = true;
  long encoderDelay_ = -1;
  uint64_t streamBytes_ = 0;
  int64_t totalSamples_ = 0;
  int64_t positionFrames_ = 0;
  bool seekByDecoding_ = false;
  int outputMode_ = -1;    // the channel mode the decoder is set up for
  int outputFormat_ = -1;  // the sample format the decoder is set up for
};

// Channels delivered of a stream with `streamChannels` in `channelMode`.
int outputChannels(int streamChannels, int channelMode);

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_BOUNDFILE_H
