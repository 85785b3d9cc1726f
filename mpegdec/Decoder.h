// One libmpg123 handle decoding the frames of one file to PCM in a fixed output format (16-bit,
// 24-bit, 32-bit or float samples).
// Everything that speaks to libmpg123 is here.
// Threading: one instance's calls, on the thread that calls the instance; libmpg123 itself is
// initialised once per process (libraryReady, any thread).
#ifndef QUELBARIN_MPEGDEC_DECODER_H
#define QUELBARIN_MPEGDEC_DECODER_H

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "mpegdec/PcmBuffer.h"
#include "mpegdec/StreamReader.h"

struct mpg123_handle_struct;

namespace mpegdec {

// Bytes of one sample in `sampleFormat` (MPEG_SAMPLES_*); 0 for a value that is none.
int sampleBytesOf(int sampleFormat);

class Decoder {
 public:
  enum class Status { Ok, End, Failed };

  // Decoder calls that may return nothing before the stream counts as ended.
  static constexpr int kMaxIdleReads = 100000;

  // What libmpg123 tells of the stream before and after scanning every frame header.
  struct Survey {
    bool mpeg1 = false;  // else MPEG 2 or 2.5
    int layer = 0;
    long rate = 0;  // of the first frame libmpg123 decodes
    int bitrate = 0;
    bool constantBitrate = false;
    long encoderDelay = -1;       // from a LAME header; -1 without one
    int64_t announcedFrames = 0;  // before the scan (a Xing or Info header's count, or a guess)
    bool scanned = false;
    int64_t frames = 0;          // after the scan
    int64_t length = 0;          // samples after the scan; negative when unknown
    bool formatChanges = false;  // the stream changes format part-way
  };

  // Initialises libmpg123 once per process; false when it cannot be.
  static bool libraryReady();

  Decoder(int fd, std::vector<FrameSpan> spans);
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder();

  // What a frame walk (nextFrame) tells of one frame.
  struct FrameFacts {
    int64_t offset = 0;  // of its header in the stream read
    int size = 0;        // bytes, header included
    int layer = 0;
    bool mpeg1 = false;  // else MPEG 2 or 2.5
    bool singleChannel = false;
    long rate = 0;
    bool crc = false;
    int mainDataBegin = 0;  // layer III: bytes of main data taken from earlier frames
  };

  // Makes the libmpg123 handle; false when it cannot. Without `gapless` the decoder delivers
  // every decoded sample, encoder delay and padding included. Without `infoFrame` a Xing or Info
  // header is decoded as a plain frame, its counts and encoder delay unused.
  bool create(bool gapless = true, bool infoFrame = true);
  // The output format of the next open: `channelMode` (MPEG_CHANNEL_*) says how two channels
  // become one when `channels` is 1; `sampleFormat` is an MPEG_SAMPLES_* value.
  bool setOutput(long rate, int channels, int channelMode, int sampleFormat);
  // Starts the stream afresh. Reopening (rather than seeking back) resets every bit of decoder
  // state, so a restart repeats the first decode sample for sample.
  bool open();
  // Right after open(): the stream's parameters, then a scan of every frame header, which also
  // completes the seek index that later opens reuse.
  bool survey(Survey& survey);
  // Starts a walk over the frames from the start of the stream; nextFrame then reads them one
  // by one without decoding them.
  bool startFrameWalk();
  // The next frame of the walk; false at the end of the stream or on an error.
  bool nextFrame(FrameFacts& facts);
  // Positions the open stream at `sample` of the decoded timeline; false when libmpg123 does not
  // land there exactly.
  bool seek(int64_t sample);
  // Appends the next decoded bytes (possibly none, always whole sample frames) to `out`.
  Status decode(PcmBuffer& out);
  // Samples clipped to the output range since the last call (libmpg123 counts them as it
  // synthesises frames).
  int64_t takeClipped();

  int channels() const { return channels_; }
  // Bytes of one sample frame (a sample of every channel) in the output format.
  int frameBytes() const { return channels_ * sampleBytes_; }
  int64_t streamBytes() const { return reader_.size(); }

 private:
  bool formatUnchanged();
  void saveIndex();

  mpg123_handle_struct* handle_ = nullptr;
  StreamReader reader_;
  long rate_ = 0;
  int channels_ = 0;
  int encoding_ = 0;     // libmpg123's MPG123_ENC_* of the output
  int sampleBytes_ = 2;  // of one channel's sample
  std::vector<off_t> index_;
  off_t indexStep_ = 0;
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_DECODER_H
