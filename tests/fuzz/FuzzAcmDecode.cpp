// One decoding driver of the compression manager on arbitrary bytes, through its C interface.
// QD_FUZZ_FORMAT_TAG names the driver's format. The first bytes of the input make the source
// format record, mostly one that is valid or nearly valid for that tag; the rest is the
// compressed data. The harness asks for a PCM destination, opens a stream, sizes the buffers
// with acmStreamSize and converts the data in whole blocks, carrying what a call leaves unused
// to the next, the way the application's converter does, then ends the stream.
//
// Input layout:
//   byte 0      bits 0-1 record kind: 0 = derived from the fields below, 1 = block size as
//               given, the extra bytes derived, 2 = block size and extra bytes as given,
//               3 = every field as given (below); bit 2 = stereo; bits 3-5 rate; bits 6-7
//               source buffer size: 16 bytes, 3 blocks, 4096 bytes or 16384 bytes, in whole
//               blocks and one block at least
//   bytes 1-2   block size seed (little-endian)
//   kind 2      1 byte: extra byte count n (0..64), then n extra bytes
//   kind 3      channels u16, rate u32, byte rate u32, block size u16, bits u16, cbSize u16, then
//               min(cbSize, 64) extra bytes (the rest of cbSize is zeros)
//   the rest    compressed data
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "acm/msacm.h"

#ifndef QD_FUZZ_FORMAT_TAG
#error "QD_FUZZ_FORMAT_TAG must name the format tag of the driver under test"
#endif

namespace {

constexpr std::uint16_t kTag = QD_FUZZ_FORMAT_TAG;
constexpr std::uint16_t kALaw = 0x0006;
constexpr std::uint16_t kMuLaw = 0x0007;
constexpr std::uint16_t kImaAdpcm = 0x0011;
constexpr std::uint16_t kMsAdpcm = 0x0002;
constexpr std::uint16_t kGsm610 = 0x0031;

constexpr std::size_t kMaxExtra = 64;
constexpr std::uint32_t kRates[8] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 7999};
// Source buffer sizes, rounded down to whole blocks (one block at least): about one block, three
// blocks, and the large buffers of the application.
constexpr std::uint32_t kBufferBytes[4] = {16, 0, 4096, 16384};
// The coefficient pairs every MS ADPCM file carries.
constexpr std::int16_t kMsCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                {240, 0}, {460, -208}, {392, -232}};

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_acm (tag 0x%04x): %s\n", kTag, what);
  std::abort();
}

// Takes bytes from the front of the input; past its end every byte is 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | U8() << 8); }
  std::uint32_t U32() { return U16() | static_cast<std::uint32_t>(U16()) << 16; }
  const std::uint8_t* Rest() const { return data_ + at_; }
  std::size_t RestSize() const { return size_ - at_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// Block size, bits and the extra bytes of a record that is valid for the tag, from a seed.
void DeriveFormat(ACMWAVEFORMATEX& f, std::uint16_t seed, bool blockAsGiven,
                  std::vector<std::uint8_t>& extra) {
  const std::uint16_t ch = f.nChannels;
  std::uint32_t samplesPerBlock = 1;
  switch (kTag) {
    case kALaw:
    case kMuLaw:
      f.wBitsPerSample = 8;
      f.nBlockAlign = ch;
      break;
    case kImaAdpcm:
      // A 4-byte header per channel, then 4-byte words per channel of eight 4-bit samples.
      f.wBitsPerSample = 4;
      f.nBlockAlign = blockAsGiven ? seed : static_cast<std::uint16_t>(4 * ch * (2 + seed % 256));
      samplesPerBlock = f.nBlockAlign >= 4 * ch ? (f.nBlockAlign - 4 * ch) * 2 / ch + 1 : 1;
      PutU16(extra, static_cast<std::uint16_t>(samplesPerBlock));
      break;
    case kMsAdpcm:
      // A 7-byte header per channel, then 4-bit samples.
      f.wBitsPerSample = 4;
      f.nBlockAlign = blockAsGiven ? seed : static_cast<std::uint16_t>(7 * ch + 1 + seed % 2048);
      samplesPerBlock = f.nBlockAlign >= 7 * ch ? (f.nBlockAlign - 7 * ch) * 2 / ch + 2 : 2;
      PutU16(extra, static_cast<std::uint16_t>(samplesPerBlock));
      PutU16(extra, 7);
      for (const auto& pair : kMsCoefficients) {
        PutU16(extra, static_cast<std::uint16_t>(pair[0]));
        PutU16(extra, static_cast<std::uint16_t>(pair[1]));
      }
      break;
    case kGsm610:
      // 320 samples in 65 bytes; mono at 8 kHz only.
      f.nChannels = 1;
      f.nSamplesPerSec = 8000;
      f.wBitsPerSample = 0;
      f.nBlockAlign = blockAsGiven ? seed : 65;
      samplesPerBlock = 320;
      PutU16(extra, 320);
      break;
    default:
      f.nBlockAlign = seed;
      break;
  }
  f.nAvgBytesPerSec =
      static_cast<std::uint32_t>(std::uint64_t{f.nSamplesPerSec} * f.nBlockAlign / samplesPerBlock);
}

// The source record with its extra bytes, as it lies in a file.
std::vector<std::uint8_t> SourceRecord(Input& in, std::uint8_t control) {
  ACMWAVEFORMATEX f{};
  f.wFormatTag = kTag;
  std::vector<std::uint8_t> extra;
  const unsigned kind = control & 3;
  if (kind == 3) {
    f.nChannels = in.U16();
    f.nSamplesPerSec = in.U32();
    f.nAvgBytesPerSec = in.U32();
    f.nBlockAlign = in.U16();
    f.wBitsPerSample = in.U16();
    f.cbSize = in.U16();
    for (std::size_t i = 0; i < std::min<std::size_t>(f.cbSize, kMaxExtra); ++i) {
      extra.push_back(in.U8());
    }
    extra.resize(f.cbSize, 0);
  } else {
    f.nChannels = static_cast<std::uint16_t>(1 + (control >> 2 & 1));
    f.nSamplesPerSec = kRates[control >> 3 & 7];
    const std::uint16_t seed = in.U16();
    DeriveFormat(f, seed, kind >= 1, extra);
    if (kind == 2) {
      extra.clear();
      const std::size_t n = in.U8() % (kMaxExtra + 1);
      for (std::size_t i = 0; i < n; ++i) extra.push_back(in.U8());
    }
    f.cbSize = static_cast<std::uint16_t>(extra.size());
  }
  std::vector<std::uint8_t> record(sizeof f);
  std::memcpy(record.data(), &f, sizeof f);
  record.insert(record.end(), extra.begin(), extra.end());
  return record;
}

void CheckCall(const ACMSTREAMHEADER& h, std::uint32_t destinationAlign) {
  if ((h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE) == 0) Fail("done bit not set");
  if (h.cbSrcLengthUsed > h.cbSrcLength) Fail("used more source bytes than given");
  if (h.cbDstLengthUsed > h.cbDstLength) Fail("produced more bytes than the destination holds");
  if (h.cbDstLengthUsed % destinationAlign != 0) Fail("produced part of a PCM sample frame");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t control = in.U8();
  std::vector<std::uint8_t> sourceRecord = SourceRecord(in, control);
  const auto* source = reinterpret_cast<const ACMWAVEFORMATEX*>(sourceRecord.data());

  std::vector<std::uint8_t> destinationRecord(sizeof(ACMWAVEFORMATEX) + 256, 0);
  auto* destination = reinterpret_cast<ACMWAVEFORMATEX*>(destinationRecord.data());
  destination->wFormatTag = WAVE_FORMAT_PCM_TAG;
  if (acmFormatSuggest(nullptr, source, destination,
                       static_cast<std::uint32_t>(destinationRecord.size()),
                       ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR) {
    return 0;
  }
  if (destination->wFormatTag != WAVE_FORMAT_PCM_TAG) Fail("suggested a format other than PCM");
  if (destination->nBlockAlign == 0) Fail("suggested PCM with a block size of 0");
  HACMSTREAM stream = nullptr;
  if (acmStreamOpen(&stream, nullptr, source, destination, nullptr, 0, 0, 0) != MMSYSERR_NOERROR) {
    return 0;
  }

  // The source buffer holds a few whole blocks; the destination what acmStreamSize asks for.
  const std::uint32_t block = std::max<std::uint32_t>(source->nBlockAlign, 1);
  const std::uint32_t wanted = control >> 6 == 1 ? 3 * block : kBufferBytes[control >> 6];
  const std::uint32_t sourceBytes = std::max(block, wanted - wanted % block);
  std::uint32_t destinationBytes = 0;
  if (acmStreamSize(stream, sourceBytes, &destinationBytes, ACM_STREAMSIZEF_SOURCE) !=
      MMSYSERR_NOERROR) {
    if (acmStreamClose(stream, 0) != MMSYSERR_NOERROR) Fail("close failed");
    return 0;
  }
  if (destinationBytes > (std::uint32_t{1} << 28)) Fail("implausible destination size");
  std::vector<std::uint8_t> src(sourceBytes), dst(destinationBytes);
  ACMSTREAMHEADER header{};
  header.cbStruct = sizeof header;
  header.pbSrc = src.data();
  header.cbSrcLength = sourceBytes;
  header.pbDst = dst.data();
  header.cbDstLength = destinationBytes;
  if (acmStreamPrepareHeader(stream, &header, 0) != MMSYSERR_NOERROR) Fail("prepare failed");

  const std::uint8_t* rest = in.Rest();
  std::size_t left = in.RestSize();
  std::size_t pending = 0;  // unused bytes at the front of src
  // Every call but the last uses or produces something: a stuck stream ends the loop, and more
  // calls than input bytes means a stream that produces without end.
  for (std::size_t calls = 0;; ++calls) {
    if (calls > size + 16) Fail("conversion never ends");
    const std::size_t take = std::min(left, sourceBytes - pending);
    std::memcpy(src.data() + pending, rest, take);
    rest += take;
    left -= take;
    pending += take;
    if (pending == 0) break;
    header.cbSrcLength = static_cast<std::uint32_t>(pending);
    header.cbDstLength = destinationBytes;
    if (acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN) != MMSYSERR_NOERROR) {
      break;
    }
    CheckCall(header, destination->nBlockAlign);
    const std::uint32_t used = header.cbSrcLengthUsed;
    std::memmove(src.data(), src.data() + used, pending - used);
    pending -= used;
    if (used == 0 && header.cbDstLengthUsed == 0) break;
  }
  header.cbSrcLength = static_cast<std::uint32_t>(pending);
  header.cbDstLength = destinationBytes;
  if (acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_END) == MMSYSERR_NOERROR) {
    CheckCall(header, destination->nBlockAlign);
  }

  header.cbSrcLength = sourceBytes;
  header.cbDstLength = destinationBytes;
  if (acmStreamUnprepareHeader(stream, &header, 0) != MMSYSERR_NOERROR) Fail("unprepare failed");
  if (acmStreamClose(stream, 0) != MMSYSERR_NOERROR) Fail("close failed");
  return 0;
}
