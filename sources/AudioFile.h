// The audio file source: given a file name it decides whether the file is MPEG audio or a WAVE
// file and delivers its audio as PCM blocks to its Output, through an inner chain of a reader
// (MPEG reader or wave file component), an ADPCM stage and a PCM converter. Every block passes a
// gain envelope that applies Volume and Panning and a 1 ms fade-in.
// Threading: binding, properties, Open/Start/Stop/Close/Reset on the main thread; BufferLoad on
// the driving worker, holding the source's lock for the whole block (envelope rebuilds take the
// same lock). Position may be read from the worker (OnBufferReady) without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "mpegdec/mpegdec.h"
#include "sources/ACMConverter.h"
#include "sources/ADPCMStage.h"
#include "sources/MpegFile.h"
#include "stream/DSPComponent.h"
#include "stream/MMError.h"
#include "wave/FadeList.h"
#include "wave/WaveFile.h"

namespace sources {

class EMMAudioError : public stream::EMMError {
 public:
  using stream::EMMError::EMMError;
};

inline constexpr const char* kNotAValidAudiofile = "This is not a valid Audiofile";

enum TMMAudioFileType { ftWave, ftMpeg, ftWMA, ftCDA };

constexpr std::int32_t kUnityVolume = 16384;
constexpr std::int32_t kMaxVolume = 32768;
constexpr std::int32_t kMaxPanning = 32768;
// The envelope's last point lies this long after the end, so the closing ramp barely dips.
constexpr std::int64_t kEnvelopeTailMs = 10000;

// A stream component with a file name.
class TMMBaseAudioFile : public stream::TMMDSPComponent {
 public:
  using stream::TMMDSPComponent::TMMDSPComponent;
  virtual void SetFileName(const std::string& name) = 0;
  virtual std::string FileName() const = 0;
};

class TMMCustomAudioFile : public TMMBaseAudioFile {
 public:
  explicit TMMCustomAudioFile(stream::TComponent* owner);
  ~TMMCustomAudioFile() override;

  void SetFileName(const std::string& name) override;
  std::string FileName() const override;
  // Unbinds the file.
  void CloseFile();

  TMMAudioFileType FileType() const;
  // Milliseconds of the file's audio.
  std::int64_t Position() const;
  void SetPosition(std::int64_t ms);
  std::int64_t FileLength() const { return fileLength_; }
  std::int64_t PlayEnd() const { return playEnd_; }
  std::int32_t Volume() const { return volume_; }
  void SetVolume(std::int32_t value);
  std::int32_t Panning() const { return panning_; }
  void SetPanning(std::int32_t value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  std::int32_t MpegTrailingHeader() const { return mpegReader_->Mpeg()->TrailingHeader(); }
  void SetMpegTrailingHeader(std::int32_t value) { mpegReader_->Mpeg()->SetTrailingHeader(value); }
  bool IsEmpty() const;
  void SetFades(std::int64_t fadeInMs, std::int64_t fadeOutMs, std::int64_t fadeOutStartMs);
  bool ApplyEnvelope() const { return applyEnvelope_; }
  void SetApplyEnvelope(bool value) { applyEnvelope_ = value; }
  const TMpegFileInfo& FileInfo() const { return fileInfo_; }
  const wave::TMMFadeList& Envelope() const { return envelope_; }

  // The inner chain.
  TMMMPEGFile* MpegReader() const { return mpegReader_.get(); }
  wave::TMMWaveFile* WaveReader() const { return waveReader_.get(); }
  TMMADPCMStage* ADPCMStage() const { return adpcmStage_.get(); }
  TMMPCMConverter* PCMStage() const { return pcmStage_.get(); }

  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void Reset() override;
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // Used only when the audio file has no driver: the inner chain opened, started, stopped,
  // reset or closed from its head down.
  void StandaloneOpen();
  void StandaloneStart();
  void StandaloneStop();
  void StandaloneReset();
  void StandaloneClose();

  stream::TNotifyEvent OnChange;
  stream::TMMErrorEvent OnError;

 private:
  void ReinitialisePlay();  // caller holds the lock or runs before the worker
  void CancelFadeOut();
  void RebuildEnvelope();
  void LoadBlock(stream::PWaveHdr hdr, bool& MoreBuffers);  // worker, under the lock
  void WalkInnerChain(void (stream::TMMDSPComponent::*op)());
  std::int64_t MsToBytes(std::int64_t ms) const;

  bool enabled_ = true;
  std::atomic<bool> endOfData_{false};
  std::atomic<bool> tailSent_{false};
  std::atomic<std::int64_t> bytesDone_{0};
  wave::TMMFadeList envelope_;
  TMpegFileInfo fileInfo_{};
  std::atomic<std::int64_t> startPos_{0};
  std::int64_t fileLength_ = 0;
  std::int64_t playEnd_ = 0;
  std::int64_t bytesLeft_ = 0;
  std::int64_t fadeIn_ = 0;
  std::int64_t fadeOut_ = 0;
  bool autoFadeOut_ = true;
  std::int64_t savedFadeOutStart_ = 0;
  std::int64_t savedFadeOut_ = 0;
  std::int32_t volume_ = kUnityVolume;
  std::int32_t panning_ = 0;
  bool fadingOut_ = false;
  bool stopAtFadeEnd_ = false;
  mutable std::recursive_mutex lock_;
  bool applyEnvelope_ = true;
  std::int64_t fadeOutStart_ = 0;
  std::atomic<bool> playStarted_{false};
  bool playOpened_ = false;
  bool mpegBound_ = false;
  std::unique_ptr<wave::TMMWaveFile> waveReader_;
  std::unique_ptr<TMMMPEGFile> mpegReader_;
  std::unique_ptr<TMMADPCMStage> adpcmStage_;
  std::unique_ptr<TMMPCMConverter> pcmStage_;
};

class TMMAudioFile : public TMMCustomAudioFile {
 public:
  explicit TMMAudioFile(stream::TComponent* owner) : TMMCustomAudioFile(owner) {
    PublishLinks(false, true);
  }
};

}  // namespace sources
