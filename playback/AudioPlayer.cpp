#include "playback/AudioPlayer.h"

#include <algorithm>

namespace playback {
namespace {

const std::string kChangeWhileOpen = "Change to property while device was open";

}  // namespace

TMMAudioPlayer::TMMAudioPlayer(stream::TComponent* owner)
    : sources::TMMBaseAudioFile(owner),
      audioFile_(std::make_unique<sources::TMMAudioFile>(nullptr)),
      pitchStage_(std::make_unique<TMMPitch>(nullptr)),
      waveOut_(std::make_unique<TMMWaveOut>(nullptr)) {
  PublishLinks(false, true);
  audioFile_->OnChange = [this](stream::TObject*) { AudioFileChange(); };
  pitchStage_->SetInput(audioFile_.get());

  waveOut_->SetTimeFormat(stream::tfMillisecond);
  waveOut_->SetInput(pitchStage_.get());
  // The player publishes no Input; the output may name it as its Output all the same.
  AllowInputLink = true;
  waveOut_->SetOutput(this);
  AllowInputLink = false;
  waveOut_->OnStart = [this](stream::TObject*) { OutputStart(); };
  waveOut_->OnStop = [this](stream::TObject*) { OutputStop(); };
  waveOut_->OnClose = [this](stream::TObject*) { OutputClose(); };
  waveOut_->OnPause = [this](stream::TObject*) { OutputPause(); };
  waveOut_->OnRestart = [this](stream::TObject*) { OutputRestart(); };
  waveOut_->OnBufferReady = [this](stream::TObject*, stream::PWaveHdr hdr) {
    OutputBufferReady(hdr);
  };
  output_ = waveOut_.get();
}

TMMAudioPlayer::~TMMAudioPlayer() {
  if (output_ != nullptr) {
    try {
      StopPlayback();
    } catch (...) {
      // A device that fails while the player goes away has nothing left to report to.
    }
  }
  // The parts unlink from each other and from this player as they go; no event reaches the
  // player from here on.
  audioFile_->OnChange = nullptr;
  waveOut_.reset();
  pitchStage_.reset();
  audioFile_.reset();
}

// ---- file ----

void TMMAudioPlayer::CloseFile() {
  audioFile_->CloseFile();
}

void TMMAudioPlayer::SetFileName(const std::string& name) {
  audioFile_->SetFileName(name);
}

std::string TMMAudioPlayer::FileName() const {
  return audioFile_->FileName();
}

sources::TMMAudioFileType TMMAudioPlayer::FileType() const {
  return audioFile_->FileType();
}

// ---- playback ----

bool TMMAudioPlayer::Playing() const {
  return output_->HasState(TMMWaveOut::wsStarted);
}

void TMMAudioPlayer::Play() {
  if (Playing()) return;
  if (audioFile_->IsEmpty()) return;
  if (Position() >= audioFile_->FileLength()) SetPosition(0);
  startOffsetMs_ = Position();
  stopPositionMs_ = kNoStopPosition;
  // A newly opened file gets the player's settings.
  SetPitch(pitch_);
  SetVolume(volume_);
  SetPanning(panning_);
  output_->Start();
}

void TMMAudioPlayer::StopPlayback() {
  stopPositionMs_ = Position();
  output_->Stop();
  output_->Close();
}

std::int64_t TMMAudioPlayer::Position() {
  if (Playing()) return output_->GetPosition() + startOffsetMs_;
  return audioFile_->Position();
}

void TMMAudioPlayer::SetPosition(std::int64_t ms) {
  if (!output_->HasState(TMMWaveOut::wsOpen)) {
    audioFile_->SetPosition(ms);
    return;
  }
  suppressPauseEvents_ = true;
  try {
    const bool wasPaused = output_->HasState(TMMWaveOut::wsPaused);
    output_->Pause();
    audioFile_->SetPosition(ms);
    startOffsetMs_ = ms;
    output_->ResetBuffers();
    if (!wasPaused) output_->Restart();
  } catch (...) {
    suppressPauseEvents_ = false;
    throw;
  }
  suppressPauseEvents_ = false;
}

// ---- properties ----

std::int32_t TMMAudioPlayer::GetBufferSize() const {
  return output_ != nullptr ? output_->GetBufferSize() : stream::TMMDSPComponent::GetBufferSize();
}

void TMMAudioPlayer::SetBufferSize(std::int32_t value) {
  // The output's chain walk hands every component its size, this player included.
  if (output_ == nullptr || value == output_->GetBufferSize()) return;
  output_->SetBufferSize(value);
}

void TMMAudioPlayer::SetVolume(std::int32_t value) {
  volume_ = std::clamp(value, 0, sources::kMaxVolume);
  audioFile_->SetVolume(volume_);
}

void TMMAudioPlayer::SetPanning(std::int32_t value) {
  panning_ = std::clamp(value, -sources::kMaxPanning, sources::kMaxPanning);
  audioFile_->SetPanning(panning_);
}

void TMMAudioPlayer::SetPitch(float value) {
  pitch_ = std::clamp(value, TMMPitch::kMinPitch, TMMPitch::kMaxPitch);
  pitchStage_->SetPitch(pitch_);
}

void TMMAudioPlayer::SetUseDSound(bool value) {
  if (value == useDSound_) return;
  if (output_->HasState(TMMWaveOut::wsOpen)) throw EMMAudioPlayerError(kChangeWhileOpen);
  useDSound_ = value;
}

// ---- events ----

void TMMAudioPlayer::OutputStart() {
  if (OnStart) OnStart(this);
}

void TMMAudioPlayer::OutputStop() {
  if (stopPositionMs_ == kNoStopPosition) stopPositionMs_ = Position();
  output_->Close();
}

void TMMAudioPlayer::OutputClose() {
  if (!resetPosition_) SetPosition(stopPositionMs_);
  if (OnStop) OnStop(this);
}

void TMMAudioPlayer::OutputPause() {
  if (!suppressPauseEvents_ && OnPause) OnPause(this);
}

void TMMAudioPlayer::OutputRestart() {
  if (!suppressPauseEvents_ && OnRestart) OnRestart(this);
}

void TMMAudioPlayer::OutputBufferReady(stream::PWaveHdr hdr) {
  if (OnData) OnData(this, hdr);
}

void TMMAudioPlayer::AudioFileChange() {
  StopPlayback();
  if (OnChange) OnChange(this);
}

}  // namespace playback
