#include "sources/AcmChain.h"

#include <algorithm>
#include <cstring>

#include "stream/WaveHdr.h"

namespace sources {

using stream::TWaveFormatEx;

namespace {

// Room behind a step's source buffer for source bytes that one call leaves for the next: a
// block-aligned conversion leaves less than one block of the step's source format, and never
// less room than this.
constexpr std::uint32_t kMinLeftoverRoom = 4096;
constexpr std::uint32_t kFirstSourceChunks = 4;

std::uint32_t QueryFlags(TMMConvertQuality quality) {
  return ACM_STREAMOPENF_QUERY | (quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0);
}
std::uint32_t OpenFlags(TMMConvertQuality quality) {
  return quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
}

bool QueryOpen(const TWaveFormatEx* s, const TWaveFormatEx* d, TMMConvertQuality quality) {
  return Acm().StreamOpen(nullptr, nullptr, AsAcm(s), AsAcm(d), nullptr, 0, 0,
                          QueryFlags(quality)) == MMSYSERR_NOERROR;
}

bool Suggest(const TWaveFormatEx* s, TWaveFormatEx* r, std::uint32_t flags) {
  return Acm().FormatSuggest(nullptr, AsAcm(s), AsAcm(r), sizeof(TWaveFormatEx), flags) ==
         MMSYSERR_NOERROR;
}

// The next format on the way from s to d, or false when there is none.
bool NextHop(const TWaveFormatEx* s, const TWaveFormatEx* d, TMMConvertQuality quality,
             TWaveFormatEx& r) {
  r = TWaveFormatEx{};
  if (s->wFormatTag == stream::WAVE_FORMAT_PCM) {
    if (d->nChannels == s->nChannels && d->nSamplesPerSec == s->nSamplesPerSec) return false;
    r.nChannels = d->nChannels;
    r.nSamplesPerSec = d->nSamplesPerSec;
    const std::uint32_t constrained =
        ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
    if (!Suggest(s, &r, constrained)) return false;
    if (!QueryOpen(s, &r, quality)) {
      r.wBitsPerSample = r.wBitsPerSample == 16 ? 8 : 16;
      if (!Suggest(s, &r, constrained | ACM_FORMATSUGGESTF_WBITSPERSAMPLE)) return false;
    }
  } else {
    r.wFormatTag = stream::WAVE_FORMAT_PCM;
    r.nChannels = d->nChannels;
    r.nSamplesPerSec = d->nSamplesPerSec;
    if (!Suggest(s, &r,
                 ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                     ACM_FORMATSUGGESTF_NSAMPLESPERSEC) &&
        !Suggest(s, &r, ACM_FORMATSUGGESTF_WFORMATTAG)) {
      return false;
    }
  }
  return QueryOpen(s, &r, quality);
}

// The formats after `source` on a path to `destination` (the last one is `destination`).
bool FindPath(const TWaveFormatEx* source, const TWaveFormatEx* destination,
              TMMConvertQuality quality, std::vector<TWaveFormatEx>& hops) {
  const TWaveFormatEx* s = source;
  std::vector<TWaveFormatEx> found;
  found.reserve(kMaxChainSteps);
  for (int step = 0; step < kMaxChainSteps; ++step) {
    if (QueryOpen(s, destination, quality)) {
      hops = std::move(found);
      hops.push_back(*destination);
      return true;
    }
    TWaveFormatEx r;
    if (!NextHop(s, destination, quality, r)) return false;
    found.push_back(r);
    if (!FormatsDiffer(&found.back(), destination)) {
      hops = std::move(found);
      return true;
    }
    s = &found.back();
  }
  return false;  // no path within the hop limit
}

}  // namespace

stream::TWaveFormatEx SuggestPCM(const TWaveFormatEx* format) {
  if (format == nullptr) return TWaveFormatEx{};
  // PCM of 8 or 16 bits is what the chain's consumers take; wider PCM is narrowed like any coding.
  if (format->wFormatTag == stream::WAVE_FORMAT_PCM && format->wBitsPerSample <= 16) return *format;
  TWaveFormatEx pcm{};
  pcm.wFormatTag = stream::WAVE_FORMAT_PCM;
  if (!AcmUsable() || !Suggest(format, &pcm, ACM_FORMATSUGGESTF_WFORMATTAG) ||
      !QueryOpen(format, &pcm, cqLow)) {
    return TWaveFormatEx{};
  }
  return pcm;
}

bool FormatsDiffer(const TWaveFormatEx* a, const TWaveFormatEx* b) {
  if (a == nullptr || b == nullptr) return false;
  return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample ||
         a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

bool CanConvertChain(const TWaveFormatEx* source, const TWaveFormatEx* destination,
                     TMMConvertQuality quality) {
  if (!AcmUsable() || source == nullptr || destination == nullptr) return false;
  if (!FormatsDiffer(source, destination)) return true;
  std::vector<TWaveFormatEx> hops;
  return FindPath(source, destination, quality, hops);
}

// ---- the chain ----

std::unique_ptr<AcmChain> AcmChain::Build(const TWaveFormatEx* source,
                                          const TWaveFormatEx* destination,
                                          TMMConvertQuality quality, std::uint32_t chunkSize) {
  if (!AcmUsable() || source == nullptr || destination == nullptr) return nullptr;
  std::vector<TWaveFormatEx> hops;
  if (!FindPath(source, destination, quality, hops)) return nullptr;
  std::unique_ptr<AcmChain> chain(new AcmChain());
  const std::uint32_t align = std::max<std::uint32_t>(source->nBlockAlign, 1);
  chain->chunkSize_ = std::max(chunkSize / align * align, align);
  // Open every step and size its buffers.
  std::uint32_t size = kFirstSourceChunks * chain->chunkSize_;
  const TWaveFormatEx* from = source;
  chain->steps_.resize(hops.size());
  for (std::size_t i = 0; i < hops.size(); ++i) {
    AcmStep& step = chain->steps_[i];
    if (Acm().StreamOpen(&step.stream, nullptr, AsAcm(from), AsAcm(&hops[i]), nullptr, 0, 0,
                         OpenFlags(quality)) != MMSYSERR_NOERROR) {
      step.stream = nullptr;
      return nullptr;  // the destructor frees what was made
    }
    step.sourceSize = size;
    if (Acm().StreamSize(step.stream, size, &step.destinationSize, ACM_STREAMSIZEF_SOURCE) !=
            MMSYSERR_NOERROR ||
        step.destinationSize == 0) {
      return nullptr;
    }
    step.leftoverRoom = std::max<std::uint32_t>(kMinLeftoverRoom, from->nBlockAlign);
    step.saved.resize(step.leftoverRoom);
    size = step.destinationSize;
    from = &hops[i];
  }
  // One block: the work header, then every step's source buffer with room for its leftover in
  // front of new data (a later step's source is the previous step's destination), then the
  // last destination.
  std::size_t total = stream::kWaveHdrSize + chain->steps_.back().destinationSize;
  for (const AcmStep& step : chain->steps_) total += step.sourceSize + step.leftoverRoom;
  chain->arena_.assign(total, 0);
  std::uint8_t* p = chain->arena_.data() + stream::kWaveHdrSize;
  for (AcmStep& step : chain->steps_) {
    step.source = p;
    p += step.sourceSize + step.leftoverRoom;
    step.destination = p;
  }
  for (AcmStep& step : chain->steps_) {
    ACMSTREAMHEADER& h = step.header;
    h.cbStruct = sizeof(ACMSTREAMHEADER);
    h.pbSrc = step.source;
    h.cbSrcLength = step.sourceSize + step.leftoverRoom;  // the most one call passes
    h.dwSrcUser = step.sourceSize;
    h.pbDst = step.destination;
    h.cbDstLength = step.destinationSize;
    h.dwDstUser = step.destinationSize;
    if (Acm().StreamPrepareHeader(step.stream, &h, 0) != MMSYSERR_NOERROR) return nullptr;
    step.prepared = true;
  }
  return chain;
}

AcmChain::~AcmChain() {
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    if (it->prepared) {
      it->header.cbSrcLength = it->sourceSize + it->leftoverRoom;
      it->header.cbDstLength = it->destinationSize;
      Acm().StreamUnprepareHeader(it->stream, &it->header, 0);
    }
    if (it->stream != nullptr) Acm().StreamClose(it->stream, 0);
  }
}

std::int64_t AcmChain::Run(std::uint32_t n, std::uint32_t flags) {
  n = std::min(n, chunkSize_);
  morePending_ = false;
  absorbed_ = false;
  const bool final = (flags & ACM_STREAMCONVERTF_END) != 0;
  for (AcmStep& step : steps_) {
    std::uint32_t length = n;
    if (step.leftover > 0) {
      std::memmove(step.source + step.leftover, step.source, n);
      std::memcpy(step.source, step.saved.data(), step.leftover);
      length += step.leftover;
    }
    ACMSTREAMHEADER& h = step.header;
    h.cbSrcLength = length;
    h.cbSrcLengthUsed = 0;
    h.cbDstLengthUsed = 0;
    h.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    if (Acm().StreamConvert(step.stream, &h, flags) != MMSYSERR_NOERROR) return -1;
    // The manager converts synchronously; a header that is not done is a failed conversion.
    if ((h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE) == 0) return -1;
    const std::uint32_t used = std::min(h.cbSrcLengthUsed, length);
    n = std::min(h.cbDstLengthUsed, step.destinationSize);
    step.leftover = length - used;
    if (final) {
      // At the end a part block can never be converted; it is dropped.
      step.leftover = 0;
    } else if (step.leftover > step.leftoverRoom) {
      // More than a block held back: a conversion that fails rather than one that loses data.
      step.leftover = 0;
      return -1;
    } else if (step.leftover > 0) {
      std::memcpy(step.saved.data(), step.source + used, step.leftover);
      morePending_ = true;
    } else if (n == 0 && length > 0 && !final) {
      absorbed_ = true;
    }
  }
  outputBytes_ = n;
  outputRead_ = 0;
  return n;
}

std::span<const std::uint8_t> AcmChain::Read(std::uint32_t most) {
  const std::uint32_t n = std::min(most, Pending());
  const std::span<const std::uint8_t> bytes(OutputBuffer() + outputRead_, n);
  outputRead_ += n;
  return bytes;
}

std::int64_t AcmChain::ConvertStep(std::uint32_t n) {
  return Run(n, ACM_STREAMCONVERTF_BLOCKALIGN);
}

std::int64_t AcmChain::FlushChain(std::uint32_t n) {
  return Run(n, ACM_STREAMCONVERTF_END);
}

void AcmChain::ResetChain() {
  DiscardOutput();
  morePending_ = false;
  absorbed_ = false;
  for (AcmStep& step : steps_) {
    step.leftover = 0;
    step.header.cbSrcLength = 0;
    step.header.cbSrcLengthUsed = 0;
    step.header.cbDstLengthUsed = 0;
    Acm().StreamConvert(step.stream, &step.header,
                        ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
  }
}

}  // namespace sources
