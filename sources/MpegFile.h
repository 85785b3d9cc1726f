// The MPEG reader: a source component that delivers the decoded PCM of its decoder into a
// chain, and the file test that tells MPEG audio from other files.
// Threading: Open, Start, Stop, Close and the properties on the main thread; BufferLoad on the
// driving worker.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sources/Mpeg.h"
#include "stream/DSPComponent.h"

namespace sources {

class TMMMPEGFile : public stream::TMMDSPComponent {
 public:
  explicit TMMMPEGFile(stream::TComponent* owner);
  ~TMMMPEGFile() override;

  TMMMpeg* Mpeg() const { return mpeg_.get(); }

  // The decoder's properties, forwarded.
  void SetFileName(const std::string& name) { mpeg_->SetFileName(name); }
  std::string FileName() const { return mpeg_->FileName(); }
  void SetTrailingHeader(std::int32_t value) { mpeg_->SetTrailingHeader(value); }
  std::int32_t TrailingHeader() const { return mpeg_->TrailingHeader(); }
  void SetExactposition(bool value) { mpeg_->SetExactposition(value); }
  bool Exactposition() const { return mpeg_->Exactposition(); }
  // Also passes the new PCM format on, as a new file does.
  void SetChannelMode(TChannelMode mode);
  TChannelMode ChannelMode() const { return mpeg_->ChannelMode(); }
  TMpegVersion Version() const { return mpeg_->Version(); }
  std::int32_t Layer() const { return mpeg_->Layer(); }
  TSampleMode Mode() const { return mpeg_->Mode(); }
  std::int32_t BitRate() const { return mpeg_->BitRate(); }
  std::int32_t SampleRate() const { return mpeg_->SampleRate(); }
  std::int32_t PlayBackRate() const { return mpeg_->PlayBackRate(); }
  std::int32_t Frames() const { return mpeg_->Frames(); }
  std::int32_t Time() const { return mpeg_->Time(); }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool FileOpened() const { return fileOpened_; }

  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  stream::TNotifyEvent OnChange;
  stream::TMMErrorEvent OnError;

 private:
  void MpegChanged();

  std::unique_ptr<TMMMpeg> mpeg_;
  std::int32_t startFrame_ = 0;
  bool enabled_ = true;
  bool fileOpened_ = false;
  bool mpegStarted_ = false;
};

// Whether `name` is MPEG audio: an MPEG stream the decoder accepts, or a RIFF WAVE file whose
// format tag is MPEG (0x50) or MPEG layer 3 (0x55).
bool IsMpegFile(const std::string& name);

// Whether `name` is one of the "RESOURCE://" and "POINTER://" forms (any letter case).
bool IsResourceOrPointerName(const std::string& name);

}  // namespace sources
