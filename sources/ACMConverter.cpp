#include "sources/ACMConverter.h"

#include <algorithm>
#include <cstring>

#include "wave/PcmUtils.h"

namespace sources {

using stream::PWaveHdr;
using stream::TWaveFormatEx;

TMMACMConverter::TMMACMConverter(stream::TComponent* owner) : stream::TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

TMMACMConverter::~TMMACMConverter() {
  Destroying();
  Close();
}

void TMMACMConverter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateOutput();
}

void TMMACMConverter::SetQuality(TMMConvertQuality value) {
  if (value == quality_) return;
  quality_ = value;
  UpdateOutput();
}

// ---- formats ----

void TMMACMConverter::InputFormatChanged(const TWaveFormatEx* format) {
  if (format == inputFormat_.get()) return;
  inputFormat_ = stream::CopyWaveFormat(format);
  UpdateOutput();
}

void TMMACMConverter::SetPWaveFormat(const TWaveFormatEx* format) {
  if (format == nullptr || LoadingOrDestroying()) return;
  desiredFormat_ = stream::CopyWaveFormat(format);
  UpdateOutput();
}

void TMMACMConverter::ComputeOutputFormat() {
  outputFormat_ = enabled_ ? stream::CopyWaveFormat(desiredFormat_.get()) : nullptr;
}

void TMMACMConverter::UpdateOutput() {
  needsConversion_ = false;
  canConvert_ = false;
  if (inputFormat_ && enabled_) {
    ComputeOutputFormat();
    if (FormatsDiffer(inputFormat_.get(), outputFormat_.get())) {
      needsConversion_ = true;
      if (CanConvertChain(inputFormat_.get(), outputFormat_.get(), quality_)) {
        canConvert_ = true;
        stream::TMMDSPComponent::SetPWaveFormat(outputFormat_.get());
        return;
      }
    }
  }
  // Without a conversion the input format goes on; a missing path fails at Open.
  stream::TMMDSPComponent::SetPWaveFormat(inputFormat_.get());
}

void TMMACMConverter::Loaded() {
  stream::TMMDSPComponent::Loaded();
  UpdateOutput();
}

// ---- lifecycle ----

void TMMACMConverter::Open() {
  if (!prepared_ && enabled_) {
    if (needsConversion_) {
      if (canConvert_) {
        chunkSize_ = std::min<std::uint32_t>(
            kConvertChunkSize, static_cast<std::uint32_t>(std::max(GetBufferSize(), 65536)));
        chain_ = AcmChain::Build(inputFormat_.get(), GetPWaveFormat(), quality_, chunkSize_);
        if (!chain_) canConvert_ = false;
      }
      if (!canConvert_) throw EMMConverterError(kUnableToConvert);
    }
    prepared_ = true;
  }
  stream::TMMDSPComponent::Open();
}

void TMMACMConverter::DiscardOutput() {
  if (chain_) chain_->DiscardOutput();
}

void TMMACMConverter::Start() {
  stream::TMMDSPComponent::Start();
  if (prepared_ && !running_) {
    running_ = true;
    inputMore_ = false;
    inputEnded_ = false;
  }
}

void TMMACMConverter::Stop() {
  if (running_) {
    running_ = false;
    DiscardOutput();
  }
  stream::TMMDSPComponent::Stop();
}

void TMMACMConverter::Close() {
  if (prepared_) {
    if (running_) {
      running_ = false;
      DiscardOutput();
    }
    prepared_ = false;
    chain_.reset();
  }
  stream::TMMDSPComponent::Close();
}

void TMMACMConverter::Reset() {
  stream::TMMDSPComponent::Reset();
  if (chain_) chain_->ResetChain();
  inputEnded_ = false;
}

// ---- data ----

bool TMMACMConverter::Converting() const {
  return prepared_ && running_ && needsConversion_ && canConvert_ && chain_;
}

std::int64_t TMMACMConverter::FlushOrFail(std::uint32_t n) {
  const std::int64_t r = chain_->FlushChain(n);
  if (r < 0) throw EMMConverterError(kUnableToConvert);
  return r;
}

void TMMACMConverter::BufferLoad(PWaveHdr hdr, bool& MoreBuffers) {
  if (!Converting()) {
    stream::TMMDSPComponent::BufferLoad(hdr, MoreBuffers);
    return;
  }
  if (GetInput() == nullptr) return;
  AcmChain& chain = *chain_;
  hdr->dwBytesRecorded = 0;
  std::int64_t want = hdr->dwBufferLength;
  int emptyConversions = 0;
  for (;;) {
    const auto taken = chain.Read(static_cast<std::uint32_t>(std::max<std::int64_t>(want, 0)));
    std::memcpy(hdr->Data() + hdr->dwBytesRecorded, taken.data(), taken.size());
    hdr->dwBytesRecorded += static_cast<std::uint32_t>(taken.size());
    want -= static_cast<std::int64_t>(taken.size());
    if (hdr->LoopMark != 0 || !running_ || want < 1) break;

    std::uint32_t got = 0;
    if (!inputEnded_) {
      PWaveHdr work = chain.WorkHeader();
      std::memset(work, 0, stream::kWaveHdrSize);
      work->SetData(reinterpret_cast<char*>(chain.SourceBuffer()));
      work->dwBufferLength = chain.ChunkSize();
      work->Looping = hdr->Looping;
      work->LoopCount = hdr->LoopCount;
      work->LoopsLeft = hdr->LoopsLeft;
      work->LoopMark = hdr->LoopMark;
      bool more = false;
      stream::TMMDSPComponent::BufferLoad(work, more);
      hdr->Looping = work->Looping;
      hdr->LoopCount = work->LoopCount;
      hdr->LoopsLeft = work->LoopsLeft;
      hdr->LoopMark = work->LoopMark;
      got = std::min(work->dwBytesRecorded, chain.ChunkSize());
      inputMore_ = more;
      if (!more || got == 0) inputEnded_ = true;
    }
    if (got > 0) {
      const std::int64_t r = chain.ConvertStep(got);
      // A failed conversion has lost these bytes: it is reported at once, not retried, so
      // that no gap in the output goes unnoticed.
      if (r < 0) throw EMMConverterError(kUnableToConvert);
      if (r > 0) continue;
      if (!inputEnded_) {
        if (++emptyConversions >= kMaxEmptyConversions) {
          canConvert_ = false;
          throw EMMConverterError(kUnableToConvert);
        }
        continue;
      }
      // The input ended and its last bytes are inside the steps already: drain them.
      if (FlushOrFail(0) <= 0) break;
      continue;
    }
    if (FlushOrFail(0) <= 0) break;
  }
  // The block is full, the input has ended and every converted byte is out: flush now, so that
  // what the steps still hold (a resampler's tail) comes in the next block, and a stream with
  // nothing left (a part frame at most) ends here instead of with an empty block.
  if (want < 1 && inputEnded_ && running_ && chain.Pending() == 0) FlushOrFail(0);
  MoreBuffers = inputMore_ || chain.Pending() > 0 || chain.MorePending();
}

void TMMACMConverter::BufferReady(PWaveHdr hdr) {
  if (!Converting()) {
    stream::TMMDSPComponent::BufferReady(hdr);
    return;
  }
  if (GetOutput() == nullptr) return;
  AcmChain& chain = *chain_;
  const auto blockSize = static_cast<std::uint32_t>(std::max(GetBufferSize(), 1));
  std::uint32_t offset = 0;
  while (offset < hdr->dwBytesRecorded) {
    const std::uint32_t piece = std::min(hdr->dwBytesRecorded - offset, chain.ChunkSize());
    std::memcpy(chain.SourceBuffer(), hdr->Data() + offset, piece);
    offset += piece;
    const std::int64_t r = chain.ConvertStep(piece);
    if (r < 0 || (r == 0 && !chain.MorePending() && !chain.Absorbed())) {
      canConvert_ = false;
      throw EMMConverterError(kUnableToConvert);
    }
    while (running_ && chain.Pending() > 0) {
      const auto taken = chain.Read(blockSize);
      const auto n = static_cast<std::uint32_t>(taken.size());
      PWaveHdr work = chain.WorkHeader();
      std::memset(work, 0, stream::kWaveHdrSize);
      work->SetData(const_cast<char*>(reinterpret_cast<const char*>(taken.data())));
      work->dwBufferLength = n;
      work->dwBytesRecorded = n;
      stream::TMMDSPComponent::BufferReady(work);
    }
  }
}

// ---- PCM converter ----

TMMPCMConverter::TMMPCMConverter(stream::TComponent* owner) : TMMACMConverter(owner) {}

void TMMPCMConverter::SetPWaveFormat(const TWaveFormatEx* format) {
  if (format == nullptr || LoadingOrDestroying()) return;
  if (!InState(stream::csDesigning) && !wave::IsValidPCMFormat(format)) {
    throw EMMConverterError(kInvalidWaveFormat);
  }
  TMMACMConverter::SetPWaveFormat(format);
}

void TMMPCMConverter::ComputeOutputFormat() {
  outputFormat_.reset();
  if (!Enabled()) return;
  TWaveFormatEx result{};
  const int bits = (bitLength_ + 1) * 8;
  const int channels = mode_ + 1;
  if (inputFormat_) {
    result = SuggestPCM(inputFormat_.get());
    if (!autoConvert_) {
      // Without a suggestion the parameters that are not forced stay 0: a PCM format that no
      // chain reaches, so Open fails instead of the coding passing through.
      const int b = (required_ & rpBits) ? bits : result.wBitsPerSample;
      const int c = (required_ & rpChannels) ? channels : result.nChannels;
      const std::uint32_t r = (required_ & rpSampleRate) ? static_cast<std::uint32_t>(sampleRate_)
                                                         : result.nSamplesPerSec;
      wave::MakePCMFormat(result, b, c, r);
    }
  } else {
    wave::MakePCMFormat(result, bits, channels, static_cast<std::uint32_t>(sampleRate_));
  }
  if (result.wFormatTag != 0) outputFormat_ = stream::CopyWaveFormat(&result);
}

void TMMPCMConverter::ParametersChanged() {
  ComputeOutputFormat();
  const TWaveFormatEx* format = outputFormat_ ? outputFormat_.get() : inputFormat_.get();
  if (format == nullptr) return;
  // A format of the converter's own making is not checked: the input of a compressed file is
  // not PCM, and neither is an output that no chain reaches; both fail at Open if at all.
  TMMACMConverter::SetPWaveFormat(format);
}

void TMMPCMConverter::SetAutoConvert(bool value) {
  if (value == autoConvert_) return;
  autoConvert_ = value;
  ParametersChanged();
}

void TMMPCMConverter::SetSampleRate(std::int32_t value) {
  value = std::clamp(value, kMinSampleRate, kMaxSampleRate);
  if (value == sampleRate_) return;
  sampleRate_ = value;
  ParametersChanged();
}

void TMMPCMConverter::SetBitLength(stream::TMMBits value) {
  if (value == bitLength_) return;
  bitLength_ = value;
  ParametersChanged();
}

void TMMPCMConverter::SetMode(stream::TMMMode value) {
  if (value == mode_ || (value != stream::mMono && value != stream::mStereo)) return;
  mode_ = value;
  ParametersChanged();
}

void TMMPCMConverter::SetRequired(TMMRequiredParams value) {
  if (value == required_) return;
  required_ = value;
  ParametersChanged();
}

}  // namespace sources
