// The audio player: plays a WAV or MPEG file through the wave output. It owns a private chain,
// audio file source -> pitch stage -> wave output, whose Output is the player itself; every
// buffer the device has played is passed on through the player's own Output link (the meters'
// connector in the window). A natural end and StopPlayback both end in a closed output and one
// OnStop.
// The DirectSound output of the classic player has no counterpart on Linux: UseDSound is kept
// as a flag (with its refusal while the output is open) and playback always goes through the
// wave output.
// Threading: every operation, property and event on the thread that handles the output's buffer
// completions - with CallBackMode cmWindow, as the window uses it, the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "playback/Pitch.h"
#include "playback/WaveOut.h"
#include "sources/AudioFile.h"
#include "stream/MMError.h"

namespace playback {

class EMMAudioPlayerError : public stream::EMMError {
 public:
  using EMMError::EMMError;
};

class TMMAudioPlayer : public sources::TMMBaseAudioFile {
 public:
  static constexpr bool kDefaultResetPosition = true;
  static constexpr bool kDefaultUseDSound = false;
  static constexpr std::int32_t kNoStopPosition = -1;

  explicit TMMAudioPlayer(stream::TComponent* owner);
  ~TMMAudioPlayer() override;

  // ---- file ----
  // Binds the file to the inner audio file source (which raises EMMAudioError for a file it
  // cannot read).
  void OpenFile(const std::string& name) { SetFileName(name); }
  void CloseFile();
  void SetFileName(const std::string& name) override;
  std::string FileName() const override;
  sources::TMMAudioFileType FileType() const;
  void SetFileType(sources::TMMAudioFileType) {}  // has no effect

  // ---- playback ----
  // Starts playing from Position; from 0 when Position is at or past the end. Does nothing
  // while playing or without a file.
  void Play();
  // Stops and closes the output; OnStop follows once the device is closed.
  void StopPlayback();
  bool Playing() const;

  // Milliseconds: while playing, the audible position; otherwise the file's own position.
  std::int64_t Position();
  // Seeks; while the output is open the queued buffers are dropped and refilled from there,
  // without OnPause or OnRestart reaching the user.
  void SetPosition(std::int64_t ms);

  // ---- properties read from and written to the current output ----
  std::int32_t GetBufferSize() const override;
  void SetBufferSize(std::int32_t value) override;
  std::int32_t NumBuffers() const { return output_->GetNumBuffers(); }
  void SetNumBuffers(std::int32_t value) { output_->SetNumBuffers(value); }
  stream::TMMDeviceId DeviceID() const { return output_->GetDeviceID(); }
  void SetDeviceID(stream::TMMDeviceId value) { output_->SetDeviceID(value); }
  std::string ProductName() const { return output_->GetProductName(); }
  stream::TMMCBMode CallBackMode() const { return output_->GetCallBackMode(); }
  void SetCallBackMode(stream::TMMCBMode value) { output_->SetCallBackMode(value); }

  // ---- player properties ----
  bool ResetPosition() const { return resetPosition_; }
  void SetResetPosition(bool value) { resetPosition_ = value; }
  // 16384 is unity; clamped to 0..32768 and applied by the audio file source.
  std::int32_t Volume() const { return volume_; }
  void SetVolume(std::int32_t value);
  // Clamped to -32768..32768 and applied by the audio file source.
  std::int32_t Panning() const { return panning_; }
  void SetPanning(std::int32_t value);
  // Percent, clamped to -50..50, given to the pitch stage.
  float Pitch() const { return pitch_; }
  void SetPitch(float value);
  // Raises "Change to property while device was open" while the output is open; otherwise
  // stored, without changing the output (see the class comment).
  bool UseDSound() const { return useDSound_; }
  void SetUseDSound(bool value);

  // The inner parts, for callers that need to look at them.
  sources::TMMAudioFile* AudioFile() const { return audioFile_.get(); }
  TMMPitch* PitchStage() const { return pitchStage_.get(); }
  TMMWaveOut* WaveOut() const { return output_; }

  stream::TNotifyEvent OnStart;
  stream::TNotifyEvent OnStop;
  stream::TNotifyEvent OnPause;
  stream::TNotifyEvent OnRestart;
  stream::TNotifyEvent OnChange;
  stream::TMMBufferEvent OnData;

 private:
  // Handlers of the output's and the audio file's events.
  void OutputStart();
  void OutputStop();
  void OutputClose();
  void OutputPause();
  void OutputRestart();
  void OutputBufferReady(stream::PWaveHdr hdr);
  void AudioFileChange();

  std::unique_ptr<sources::TMMAudioFile> audioFile_;
  std::unique_ptr<TMMPitch> pitchStage_;
  std::unique_ptr<TMMWaveOut> waveOut_;
  TMMWaveOut* output_ = nullptr;  // the current output, not owned (waveOut_)

  float pitch_ = TMMPitch::kDefaultPitch;
  std::int32_t volume_ = sources::kUnityVolume;
  std::int32_t panning_ = 0;
  std::int64_t startOffsetMs_ = 0;  // file position at which the current playback began
  std::int64_t stopPositionMs_ = kNoStopPosition;
  bool resetPosition_ = kDefaultResetPosition;
  bool useDSound_ = kDefaultUseDSound;
  bool suppressPauseEvents_ = false;
};

}  // namespace playback
