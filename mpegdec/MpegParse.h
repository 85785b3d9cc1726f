// Byte-level knowledge of MPEG audio files that libmpg123 does not give us in the form we need:
// frame headers, the search for the first real frame, tags at either end and the RIFF wrapper.
// Nothing here decodes audio; everything works on bounded reads and never trusts a size field.
#ifndef QUELBARIN_MPEGDEC_MPEGPARSE_H
#define QUELBARIN_MPEGDEC_MPEGPARSE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace mpegdec {

// One parsed 4-byte frame header.
struct FrameHeader {
  int version = 0;  // 0: MPEG 1, 1: MPEG 2, 2: MPEG 2.5
  int layer = 0;    // 1, 2 or 3
  int bitrate = 0;  // kbit/s; 0 for free format
  int sampleRate = 0;
  int padding = 0;
  int mode = 0;  // header channel mode: 0 stereo, 1 joint, 2 dual, 3 single channel
  int samplesPerFrame = 0;
  int length = 0;     // frame bytes including the header; 0 for free format
  int slotBytes = 1;  // the padding unit: 4 bytes in layer I, else 1

  bool freeFormat() const { return bitrate == 0; }
  int channels() const { return mode == 3 ? 1 : 2; }
  // Headers of one stream agree on version, layer, sample rate and free format.
  bool sameStream(const FrameHeader& other) const;
};

std::optional<FrameHeader> parseFrameHeader(const uint8_t* bytes);

// Where a run of consecutive frames starts.
struct FrameRun {
  size_t offset = 0;
  FrameHeader first;
  int frames = 0;           // frames found back to back (up to the number asked for)
  int freeFormatBytes = 0;  // free format: the frame length without padding
};

// Finds the first offset below searchLimit at which `required` frame headers follow each other
// exactly (each where the previous frame's length ends, same version, layer and rate). `complete`
// says that `data` holds everything up to the end of the stream: then a shorter run of at least
// two headers counts too when the data ends with its last frame (exactly, within that frame, or
// less than a header after it): a frame and the header of a frame cut short are a stream.
std::optional<FrameRun> findFrameRun(std::span<const uint8_t> data, size_t searchLimit,
                                     int required, bool complete);

// Random access to the bytes of a file: reads up to `size` bytes at `offset` and returns how
// many it read (0 at the end or on an error).
using ByteReader = std::function<size_t(uint64_t offset, void* buffer, size_t size)>;

struct ByteRange {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t size() const { return end > begin ? end - begin : 0; }
};

enum class RiffKind {
  NotRiff,     // not a RIFF WAVE file
  MpegAudio,   // a WAVE file with MPEG audio (format tag 0x50 or 0x55): range is its data chunk
  OtherAudio,  // a WAVE file with some other format, or without usable chunks
};
RiffKind locateRiffData(const ByteReader& read, uint64_t fileSize, ByteRange& range);

// A stretch of the file where frames follow each other.
struct FrameSpan {
  uint64_t begin = 0;
  uint64_t end = 0;
};

// Follows the frames of `range`, which starts with a frame run, to its end. Where they stop
// following each other (junk, a damaged header, a frame cut short) it looks for the next run of
// `required` frames and goes on from there; the stretches skipped are left out of the result.
// A run may belong to another stream (a different rate or layer), so concatenated streams stay.
// A last frame cut short by the end of `range` stays in the last span.
std::vector<FrameSpan> mapFrames(const ByteReader& read, const ByteRange& range, int required,
                                 size_t junkLimit);

// The largest frame count that a Xing or Info header in the first `limit` bytes of `range`
// claims; 0 when none claims one.
uint64_t claimedInfoFrames(const ByteReader& read, const ByteRange& range, size_t limit);

// Moves range.begin past ID3v2 tags (one or several) and a leading APEv2 tag.
void skipLeadingTags(const ByteReader& read, ByteRange& range);
// Moves range.end before ID3v1, APEv2 and Lyrics3v2 tags.
void trimTrailingTags(const ByteReader& read, ByteRange& range);

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_MPEGPARSE_H
