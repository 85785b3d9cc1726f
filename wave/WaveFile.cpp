#include "wave/WaveFile.h"

#include <array>
#include <cstring>

#include "platform/DiskSpace.h"
#include "stream/DSPThread.h"
#include "wave/Silence.h"

namespace wave {

using stream::PWaveHdr;
using stream::TWaveFormatEx;

TMMCustomWaveFile::TMMCustomWaveFile(stream::TComponent* owner)
    : stream::TMMDSPComponent(owner),
      wave_(std::make_unique<TMMWave>()),
      observer_(std::make_unique<stream::TMMObserver>()),
      freeSpace_(platform::FreeBytesForPath) {
  observer_->OnNotify = [this](stream::TMMObserver*, int) { WaveChanged(); };
  wave_->AddObserver(observer_.get());
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  Destroying();
  Close();
  wave_->OnChange = nullptr;
  wave_->RemoveObserver(observer_.get());
  wave_.reset();
  observer_.reset();
}

void TMMCustomWaveFile::SetWave(const TMMWave* wave) {
  if (wave != wave_.get()) wave_->Assign(wave);
}

std::string TMMCustomWaveFile::FailureMessage() const {
  std::lock_guard lock(failureMutex_);
  return failureMessage_;
}

void TMMCustomWaveFile::Fail(const char* message) {
  {
    std::lock_guard lock(failureMutex_);
    if (failed_) return;  // the first cause is the one that counts
    failureMessage_ = message;
  }
  failed_ = true;
  if (OnError) OnError(this);
}

void TMMCustomWaveFile::WaveChanged() {
  if (OnChange) OnChange(this);
  try {
    // A sink named for a file not created yet keeps the format it has.
    if (wave_->FileMustExist() || wave_->GetPWaveFormat() != nullptr) {
      SetPWaveFormat(wave_->GetPWaveFormat());
    }
  } catch (...) {
    if (OnChanged) OnChanged(this);
    throw;
  }
  if (OnChanged) OnChanged(this);
}

void TMMCustomWaveFile::SetPWaveFormat(const TWaveFormatEx* format) {
  stream::TMMDSPComponent::SetPWaveFormat(format);
  silenceValue_ = SilenceByte(GetPWaveFormat());
}

void TMMCustomWaveFile::DoOpen() {
  if (OnOpen) stream::SynchronizeEvent([this] { OnOpen(this); });
}

void TMMCustomWaveFile::DoClose() {
  if (OnClose) stream::SynchronizeEvent([this] { OnClose(this); });
}

void TMMCustomWaveFile::Open() {
  stream::TMMDSPComponent::Open();
  if (waveOpened_) return;
  if (GetInput() != nullptr) {
    failed_ = false;
    SetPWaveFormat(GetInput()->GetPWaveFormat());
    if (GetPWaveFormat() != nullptr && !wave_->FileName().empty()) {
      if (overwriteExisting_ || wave_->IsEmpty()) {
        const std::string name = wave_->FileName();
        wave_->CreateWaveFile(name, GetPWaveFormat());
      } else {
        wave_->OpenFile();
      }
      waveOpened_ = true;
    }
  } else if (!wave_->IsEmpty()) {
    wave_->OpenFile();
    savedPosition_ = wave_->GetPosition();
    waveOpened_ = true;
  }
  if (waveOpened_) DoOpen();
}

void TMMCustomWaveFile::Start() {
  stream::TMMDSPComponent::Start();
  if (waveStarted_ || !waveOpened_) return;
  waveStarted_ = true;
  if (GetInput() == nullptr) wave_->SetPosition(savedPosition_);
  wave_->PositionHook(false);
}

void TMMCustomWaveFile::Stop() {
  if (waveOpened_ && waveStarted_) waveStarted_ = false;
  stream::TMMDSPComponent::Stop();
}

void TMMCustomWaveFile::Reset() {
  stream::TMMDSPComponent::Reset();
  if (waveStarted_ && waveOpened_) wave_->RewindHook();
}

void TMMCustomWaveFile::Close() {
  if (waveOpened_) {
    Stop();
    if (GetInput() != nullptr && !wave_->FileName().empty() && GetPWaveFormat() != nullptr &&
        wave_->DataSize() == 0) {
      // A file never ends with an empty "data" chunk.
      std::array<char, kSilenceTailBytes> silence{};
      FillSilence(GetPWaveFormat(), silence.data(), kSilenceTailBytes);
      wave_->WriteBytes(silence.data(), kSilenceTailBytes);
    }
    wave_->CloseFile();
    if (GetInput() != nullptr && wave_->CloseFailed()) Fail(kFinalizeFailedMessage);
    waveOpened_ = false;
    DoClose();
  }
  stream::TMMDSPComponent::Close();
}

void TMMCustomWaveFile::WriteBlock(PWaveHdr hdr) {
  if (!waveStarted_ || !enabled_ || GetInput() == nullptr || wave_->FileName().empty() ||
      hdr->dwBytesRecorded == 0) {
    return;
  }
  const std::uint64_t bytes = hdr->dwBytesRecorded;
  const std::optional<std::uint64_t> free =
      freeSpace_ ? freeSpace_(wave_->FileName()) : std::nullopt;
  if (!free ||
      *free < static_cast<std::uint64_t>(wave_->IOBufferSize()) + bytes + kFreeSpaceReserve) {
    Fail(kDiskFullMessage);
    Close();
    return;
  }
  const std::int64_t written = wave_->WriteBytes(hdr->Data(), static_cast<std::int64_t>(bytes));
  if (written < static_cast<std::int64_t>(bytes)) {
    // Nothing or only part of the block reached the file: stop here with a valid file.
    Fail(kWriteFailedMessage);
    Close();
  }
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
  WriteBlock(lpWaveHdr);
  stream::TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr hdr, bool& MoreBuffers) {
  if (GetInput() != nullptr) {
    stream::TMMDSPComponent::BufferLoad(hdr, MoreBuffers);
    WriteBlock(hdr);
    return;
  }
  if (wave_->IsEmpty()) {
    hdr->dwBytesRecorded = 0;
    return;
  }
  if (!waveStarted_ || !enabled_) {
    std::memset(hdr->Data(), silenceValue_, hdr->dwBufferLength);
    hdr->dwBytesRecorded = hdr->dwBufferLength;
    MoreBuffers = true;
    return;
  }
  const std::int64_t got =
      std::max<std::int64_t>(wave_->ReadBytes(hdr->Data(), hdr->dwBufferLength), 0);
  hdr->dwBytesRecorded = static_cast<std::uint32_t>(got);
  if (got == 0) return;
  if (wave_->BytesLeft() > 0) {
    MoreBuffers = true;
    return;
  }
  if (hdr->Looping == 0) return;  // the last block
  if (hdr->LoopCount > 0) --hdr->LoopsLeft;
  if (hdr->LoopCount != 0 && hdr->LoopsLeft < 0) return;
  wave_->SetPosition(0);
  wave_->RewindHook();
  if (OnLooping) OnLooping(this);
  MoreBuffers = true;
  hdr->LoopMark = -1;
}

}  // namespace wave
