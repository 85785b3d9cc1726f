#include "sources/MpegFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "wave/RiffIO.h"
#include "wave/Silence.h"
#include "wave/WaveIO.h"

namespace sources {

constexpr std::uint16_t kWaveFormatMpeg = 0x0050;
constexpr std::uint16_t kWaveFormatMpegLayer3 = 0x0055;

TMMMPEGFile::TMMMPEGFile(stream::TComponent* owner)
    : stream::TMMDSPComponent(owner), mpeg_(std::make_unique<TMMMpeg>()) {
  PublishLinks(false, true);
  mpeg_->OnChange = [this](stream::TObject*) { MpegChanged(); };
}

TMMMPEGFile::~TMMMPEGFile() {
  Destroying();
  try {
    Close();
  } catch (...) {
    // Destruction goes on.
  }
  mpeg_.reset();
}

void TMMMPEGFile::MpegChanged() {
  SetPWaveFormat(mpeg_->PCMFormat());
  if (OnChange) OnChange(this);
}

void TMMMPEGFile::SetChannelMode(TChannelMode mode) {
  mpeg_->SetChannelMode(mode);
  // The decoder only reports a new file; a new channel count is a new format for the chain.
  MpegChanged();
}

void TMMMPEGFile::Open() {
  stream::TMMDSPComponent::Open();
  if (fileOpened_) return;
  mpeg_->OpenFile();
  fileOpened_ = mpeg_->FileOpened();
  startFrame_ = mpeg_->Position();
}

void TMMMPEGFile::Start() {
  stream::TMMDSPComponent::Start();
  if (mpegStarted_ || !fileOpened_) return;
  mpegStarted_ = true;
  mpeg_->SetPosition(startFrame_);
}

void TMMMPEGFile::Stop() {
  if (fileOpened_ && mpegStarted_) mpegStarted_ = false;
  stream::TMMDSPComponent::Stop();
}

void TMMMPEGFile::Close() {
  if (fileOpened_) {
    Stop();
    mpeg_->CloseFile();
    fileOpened_ = false;
  }
  stream::TMMDSPComponent::Close();
}

void TMMMPEGFile::BufferLoad(stream::PWaveHdr hdr, bool& MoreBuffers) {
  try {
    const bool empty = mpeg_->IsEmpty();
    if (!empty && mpegStarted_ && enabled_) {
      const std::int32_t n =
          fileOpened_ ? mpeg_->ReadData(hdr->Data(), static_cast<std::int32_t>(hdr->dwBufferLength))
                      : 0;
      hdr->dwBytesRecorded = static_cast<std::uint32_t>(std::max(n, 0));
      if (n <= 0) return;
      if (!mpeg_->IsDone()) {
        MoreBuffers = true;
        return;
      }
      if (hdr->Looping == 0) return;  // the last block
      if (hdr->LoopCount > 0) --hdr->LoopsLeft;
      if (hdr->LoopCount != 0 && hdr->LoopsLeft < 0) return;
      mpeg_->ResetFile();
      MoreBuffers = true;
      hdr->LoopMark = -1;
    } else if (!empty) {
      std::memset(hdr->Data(), 0, hdr->dwBufferLength);
      hdr->dwBytesRecorded = hdr->dwBufferLength;
      MoreBuffers = true;
    } else {
      hdr->dwBytesRecorded = 0;
    }
  } catch (...) {
    bool handled = false;
    if (OnError) OnError(this, handled);
    if (!handled) throw;
    // The failed read may have left anything in the block: what goes on is silence.
    wave::SetSilenceTail(GetPWaveFormat(), hdr);
  }
}

bool IsResourceOrPointerName(const std::string& name) {
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper.find("RESOURCE://") != std::string::npos ||
         upper.find("POINTER://") != std::string::npos;
}

bool IsMpegFile(const std::string& name) {
  if (name.empty() || !LoadDecoder()) return false;
  if (!wave::RiffFileExists(name) && !IsResourceOrPointerName(name)) return false;
  wave::WaveIOHandlePtr handle;
  if (wave::WaveIOReadInfo(handle, name, nullptr, wave::kFourCCWave, wave::kRiffModePath) ==
      wave::kWaveIOOk) {
    const std::uint16_t tag = handle->Format()->wFormatTag;
    return tag == kWaveFormatMpeg || tag == kWaveFormatMpegLayer3;
  }
  std::int32_t code = 0;
  MPEG_HANDLE probe = Mpeg().Init(&code, nullptr, nullptr);
  if (code != 0 || probe == nullptr) return false;
  const bool isMpeg =
      Mpeg().SetFileName(probe, name.c_str()) == 0 && !MpegBool(Mpeg().GetEmpty(probe));
  Mpeg().Done(&probe);
  return isMpeg;
}

}  // namespace sources
