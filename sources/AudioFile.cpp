#include "sources/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stream/TimeConversions.h"
#include "wave/GainEnvelope.h"
#include "wave/RiffIO.h"
#include "wave/Silence.h"
#include "wave/WaveIO.h"

namespace sources {

using stream::PWaveHdr;
using stream::TWaveFormatEx;

namespace {

struct EnvelopePoint {
  std::int64_t position;
  std::int32_t gain;
};

}  // namespace

TMMCustomAudioFile::TMMCustomAudioFile(stream::TComponent* owner)
    : TMMBaseAudioFile(owner),
      waveReader_(std::make_unique<wave::TMMWaveFile>(nullptr)),
      mpegReader_(std::make_unique<TMMMPEGFile>(nullptr)),
      adpcmStage_(std::make_unique<TMMADPCMStage>(nullptr)),
      pcmStage_(std::make_unique<TMMPCMConverter>(nullptr)) {
  waveReader_->Wave()->SetTimeFormat(stream::tfMillisecond);
  // The PCM stage feeds this component, which publishes no Input: allow that one link.
  AllowInputLink = true;
  pcmStage_->SetOutput(this);
  AllowInputLink = false;
  adpcmStage_->SetOutput(pcmStage_.get());
  auto changed = [this](stream::TObject*) {
    if (OnChange) OnChange(this);
  };
  waveReader_->OnChange = changed;
  mpegReader_->OnChange = changed;
}

TMMCustomAudioFile::~TMMCustomAudioFile() {
  Destroying();
  Close();
  // The inner chain goes before this component's links are cleared.
  adpcmStage_->SetInput(nullptr);
  pcmStage_->SetOutput(nullptr);
  pcmStage_.reset();
  adpcmStage_.reset();
  mpegReader_.reset();
  waveReader_.reset();
}

// ---- binding ----

std::string TMMCustomAudioFile::FileName() const {
  return FileType() == ftMpeg ? mpegReader_->FileName() : waveReader_->Wave()->FileName();
}

TMMAudioFileType TMMCustomAudioFile::FileType() const {
  return mpegBound_ ? ftMpeg : ftWave;
}

bool TMMCustomAudioFile::IsEmpty() const {
  return waveReader_->Wave()->IsEmpty() && mpegReader_->Mpeg()->IsEmpty();
}

void TMMCustomAudioFile::CloseFile() {
  mpegReader_->SetFileName(std::string());
  waveReader_->Wave()->Discard();
  mpegBound_ = false;
  bytesDone_ = 0;
  fadeIn_ = fadeOut_ = fadeOutStart_ = fileLength_ = playEnd_ = 0;
  autoFadeOut_ = true;
}

void TMMCustomAudioFile::SetFileName(const std::string& name) {
  if (name == FileName()) return;
  CloseFile();
  if (name.empty()) return;
  if (!wave::RiffFileExists(name) && !IsResourceOrPointerName(name)) return;
  if (IsMpegFile(name)) {
    mpegReader_->SetFileName(name);
    fadeOutStart_ = mpegReader_->Mpeg()->Time();
    mpegBound_ = true;
    adpcmStage_->SetInput(mpegReader_.get());
    adpcmStage_->SetEnabled(false);
    fileInfo_ = mpegReader_->Mpeg()->Info();
  } else if (!wave::IsWaveFile(name, wave::kRiffModePath)) {
    adpcmStage_->SetInput(nullptr);
    throw EMMAudioError(kNotAValidAudiofile);
  } else {
    waveReader_->Wave()->SetFileName(name);
    fadeOutStart_ = waveReader_->Wave()->DataSize();
    adpcmStage_->SetInput(waveReader_.get());
    adpcmStage_->SetEnabled(TMMADPCMStage::CanDeliverPCM(waveReader_->GetPWaveFormat()));
  }
  startPos_ = 0;
  fileLength_ = playEnd_ = fadeOutStart_;
}

// ---- properties ----

std::int64_t TMMCustomAudioFile::MsToBytes(std::int64_t ms) const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? stream::MsToBytes(*f, ms) : 0;
}

std::int64_t TMMCustomAudioFile::Position() const {
  const TWaveFormatEx* f = GetPWaveFormat();
  if (playStarted_ && f != nullptr) return startPos_ + stream::BytesToMs(*f, bytesDone_);
  if (mpegBound_) {
    // Rounded to nearest, halves to even.
    return static_cast<std::int64_t>(
        std::nearbyint(mpegReader_->Mpeg()->Position() * fileInfo_.FrameTime));
  }
  return waveReader_->Wave()->GetPosition();
}

void TMMCustomAudioFile::SetPosition(std::int64_t ms) {
  ms = std::min(ms, playEnd_);
  if (mpegBound_) {
    const double frameTime = fileInfo_.FrameTime;
    const auto frame =
        frameTime > 0 ? static_cast<std::int32_t>(std::nearbyint(ms / frameTime)) : 0;
    mpegReader_->Mpeg()->SetPosition(frame);
  } else {
    waveReader_->Wave()->SetPosition(ms);
  }
  if (!playStarted_) return;
  std::lock_guard lock(lock_);
  endOfData_ = false;
  tailSent_ = false;
  bytesDone_ = 0;
  startPos_ = ms;
  bytesLeft_ = MsToBytes(playEnd_ - ms);
  adpcmStage_->Reset();
  pcmStage_->Reset();
  RebuildEnvelope();
}

void TMMCustomAudioFile::SetVolume(std::int32_t value) {
  value = std::clamp(value, 0, kMaxVolume);
  if (value == volume_) return;
  volume_ = value;
  if (playStarted_) RebuildEnvelope();
}

void TMMCustomAudioFile::SetPanning(std::int32_t value) {
  value = std::clamp(value, -kMaxPanning, kMaxPanning);
  if (value == panning_) return;
  panning_ = value;
  if (playStarted_) RebuildEnvelope();
}

void TMMCustomAudioFile::SetEnabled(bool value) {
  enabled_ = value;
  waveReader_->SetEnabled(value);
  mpegReader_->SetEnabled(value);
}

void TMMCustomAudioFile::SetFades(std::int64_t fadeInMs, std::int64_t fadeOutMs,
                                  std::int64_t fadeOutStartMs) {
  fadeIn_ = fadeInMs;
  fadeOut_ = fadeOutMs;
  fadeOutStart_ = autoFadeOut_ ? std::max(playEnd_ - fadeOutMs, fadeInMs)
                               : std::max(std::min(fadeOutStartMs, playEnd_ - 1), fadeInMs);
}

// ---- envelope ----

void TMMCustomAudioFile::RebuildEnvelope() {
  std::lock_guard lock(lock_);
  const TWaveFormatEx* f = GetPWaveFormat();
  if (f == nullptr || !applyEnvelope_) return;
  const std::int64_t e = std::max<std::int64_t>(std::min(fadeOutStart_, playEnd_ - 1), 1);
  const std::int64_t fade = std::max<std::int64_t>(std::min(fadeIn_, e - 1), 0);
  stopAtFadeEnd_ = e < playEnd_ - 1;
  const std::int64_t start = startPos_;
  std::vector<EnvelopePoint> points;
  points.push_back({0, 0});
  if (start > 0) points.push_back({MsToBytes(start), 0});
  points.push_back({MsToBytes(start + fade + 1), volume_});
  points.push_back({MsToBytes(e), volume_});
  points.push_back({MsToBytes(e + fadeOut_), 0});
  points.push_back({MsToBytes(fileLength_ + kEnvelopeTailMs), 0});
  std::stable_sort(
      points.begin(), points.end(),
      [](const EnvelopePoint& a, const EnvelopePoint& b) { return a.position < b.position; });
  // Channel gains of a gain: panning to one side lowers the other.
  auto left = [this](std::int32_t gain) {
    return panning_ > 0 ? static_cast<std::int32_t>(std::int64_t{kMaxPanning - panning_} * gain /
                                                    kMaxPanning)
                        : gain;
  };
  auto right = [this](std::int32_t gain) {
    return panning_ < 0 ? static_cast<std::int32_t>(std::int64_t{kMaxPanning + panning_} * gain /
                                                    kMaxPanning)
                        : gain;
  };
  envelope_.Clear();
  for (const EnvelopePoint& p : points) envelope_.Add(p.position, left(p.gain), right(p.gain));

  const std::int64_t position = MsToBytes(Position());
  std::size_t next = 0;
  while (next < points.size() && points[next].position <= position) ++next;
  if (next == points.size()) next = points.size() - 1;
  std::int32_t gain = 0;
  if (next > 0 && points[next].position > points[next - 1].position) {
    const EnvelopePoint& a = points[next - 1];
    const EnvelopePoint& b = points[next];
    gain = a.gain + static_cast<std::int32_t>(std::int64_t{b.gain - a.gain} *
                                              (position - a.position) / (b.position - a.position));
  }
  envelope_.Reset(position, left(gain), right(gain));
}

// ---- lifecycle ----

void TMMCustomAudioFile::ReinitialisePlay() {
  endOfData_ = false;
  tailSent_ = false;
  bytesDone_ = 0;
  const std::int64_t position = Position();
  startPos_ = position;
  bytesLeft_ = MsToBytes(playEnd_ - position);
  RebuildEnvelope();
}

void TMMCustomAudioFile::CancelFadeOut() {
  if (fadingOut_) {
    fadeOutStart_ = savedFadeOutStart_;
    fadeOut_ = savedFadeOut_;
  }
  fadingOut_ = false;
  stopAtFadeEnd_ = false;
}

void TMMCustomAudioFile::Open() {
  if (!playOpened_) {
    endOfData_ = false;
    tailSent_ = false;
    playOpened_ = true;
  }
  TMMBaseAudioFile::Open();
}

void TMMCustomAudioFile::Start() {
  if (!playStarted_ && GetPWaveFormat() != nullptr && !IsEmpty()) {
    ReinitialisePlay();
    playStarted_ = true;
  }
  TMMBaseAudioFile::Start();
}

void TMMCustomAudioFile::Reset() {
  if (playOpened_) {
    std::lock_guard lock(lock_);
    const bool started = playStarted_.exchange(false);  // Position below is the reader's
    ReinitialisePlay();
    playStarted_ = started;
    CancelFadeOut();
  }
  TMMBaseAudioFile::Reset();
}

void TMMCustomAudioFile::Stop() {
  if (playStarted_) {
    std::lock_guard lock(lock_);
    endOfData_ = true;
    tailSent_ = true;
    CancelFadeOut();
    playStarted_ = false;
  }
  TMMBaseAudioFile::Stop();
}

void TMMCustomAudioFile::Close() {
  if (playOpened_) {
    std::lock_guard lock(lock_);
    endOfData_ = true;
    tailSent_ = true;
    playOpened_ = false;
  }
  TMMBaseAudioFile::Close();
}

// ---- data ----

void TMMCustomAudioFile::BufferLoad(PWaveHdr hdr, bool& MoreBuffers) {
  if (!playOpened_ || !playStarted_) return;
  try {
    std::lock_guard lock(lock_);
    LoadBlock(hdr, MoreBuffers);
  } catch (...) {
    bool handled = false;
    if (OnError) OnError(this, handled);
    if (!handled) throw;
    // The failed load may have left anything in the block: what goes on is silence.
    wave::SetSilenceTail(GetPWaveFormat(), hdr);
  }
}

void TMMCustomAudioFile::LoadBlock(PWaveHdr hdr, bool& MoreBuffers) {
  std::int64_t n = hdr->dwBufferLength;
  if (playEnd_ < fileLength_) n = std::min<std::int64_t>(n, bytesLeft_ - bytesDone_);
  if (n < 1 || endOfData_) {
    hdr->dwBytesRecorded = 0;
  } else {
    const std::uint32_t length = hdr->dwBufferLength;
    const bool looping = hdr->Looping != 0;
    hdr->Looping = 0;
    hdr->dwBufferLength = static_cast<std::uint32_t>(n);
    TMMBaseAudioFile::BufferLoad(hdr, MoreBuffers);
    hdr->Looping = looping ? -1 : 0;
    hdr->dwBufferLength = length;
    bytesDone_ += hdr->dwBytesRecorded;
    const TWaveFormatEx* f = GetPWaveFormat();
    if (applyEnvelope_ && f != nullptr) {
      wave::ApplyGainEnvelope(*f, hdr->Data(), hdr->dwBytesRecorded, envelope_);
    }
  }
  const bool ended = hdr->dwBytesRecorded == 0 || !MoreBuffers ||
                     (stopAtFadeEnd_ && Position() >= fadeOutStart_ + fadeOut_);
  if (ended) {
    MoreBuffers = false;
    endOfData_ = true;
    if (!fadingOut_ && hdr->Looping != 0) {
      if (hdr->LoopCount > 0) --hdr->LoopsLeft;
      if (hdr->LoopCount == 0 || hdr->LoopsLeft >= 0) {
        SetPosition(0);
        startPos_ = 0;
        adpcmStage_->Reset();
        pcmStage_->Reset();
        MoreBuffers = true;
        hdr->LoopMark = -1;
        endOfData_ = false;
      }
    }
  }
  if (hdr->dwBytesRecorded == 0 && endOfData_ && !tailSent_) {
    // A stream that runs dry ends with one short block of silence, not with an empty one.
    wave::SetSilenceTail(GetPWaveFormat(), hdr);
    tailSent_ = true;
  }
}

// ---- without a driver ----

void TMMCustomAudioFile::WalkInnerChain(void (stream::TMMDSPComponent::*op)()) {
  stream::TMMDSPComponent* head = this;
  while (head->GetInput() != nullptr) head = head->GetInput();
  for (stream::TMMDSPComponent* c = head; c != nullptr; c = c->GetOutput()) {
    (c->*op)();
    if (c == this) break;
  }
}

void TMMCustomAudioFile::StandaloneOpen() {
  const std::int32_t size = GetBufferSize();
  stream::TMMDSPComponent* head = this;
  while (head->GetInput() != nullptr) head = head->GetInput();
  for (stream::TMMDSPComponent* c = head; c != nullptr; c = c->GetOutput()) {
    c->SetBufferSize(size);
    c->Open();
    if (c == this) break;
  }
}

void TMMCustomAudioFile::StandaloneStart() {
  WalkInnerChain(&stream::TMMDSPComponent::Start);
}
void TMMCustomAudioFile::StandaloneStop() {
  WalkInnerChain(&stream::TMMDSPComponent::Stop);
}
void TMMCustomAudioFile::StandaloneReset() {
  WalkInnerChain(&stream::TMMDSPComponent::Reset);
}
void TMMCustomAudioFile::StandaloneClose() {
  WalkInnerChain(&stream::TMMDSPComponent::Close);
}

}  // namespace sources
