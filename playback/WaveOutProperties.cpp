// Construction, the properties and their limits, and the error reports.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/Desktop.h"
#include "playback/WaveOut.h"
#include "playback/WaveOutTexts.h"
#include "playback/WaveOutThread.h"
#include "stream/TimeConversions.h"

namespace playback {
namespace {

namespace text = waveout_text;
constexpr std::size_t kErrorTextSize = 255;

}  // namespace

TMMWaveOut::TMMWaveOut(stream::TComponent* owner) : TMMCustomWaveOutComponent(owner) {
  PublishLinks(true, true);
  numDevs_ = platform::waveOutGetNumDevs();
  SetDeviceID(kDefaultDeviceId);
}

void TMMWaveOut::SetBufferSize(std::int32_t value) {
  if (value == GetBufferSize()) return;
  if (HasState(wsOpen)) Error(text::kChangeWhileOpen);
  allocator_.FreeAll();
  TMMCustomWaveOutComponent::SetBufferSize(stream::Max(value, kMinBufferSize));
}

void TMMWaveOut::SetPWaveFormat(const stream::TWaveFormatEx* format) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(format);
}

void TMMWaveOut::SetNumBuffers(std::int32_t value) {
  if (HasState(wsOpen)) Error(text::kChangeWhileOpen);
  if (value < kMinNumBuffers) return;
  numBuffers_ = stream::Min(value, kMaxBuffers);
}

void TMMWaveOut::SetDeviceID(stream::TMMDeviceId value) {
  if (HasState(wsOpen)) Error(text::kChangeWhileOpen);
  productName_ = text::kNoDevice;
  const bool valid = value >= stream::MapperId &&
                     static_cast<std::int64_t>(value) < static_cast<std::int64_t>(numDevs_);
  if (numDevs_ > 0 && valid &&
      platform::waveOutGetDevCaps(static_cast<std::uint32_t>(value), &caps_, sizeof(caps_)) ==
          platform::MMSYSERR_NOERROR) {
    productName_.assign(caps_.szPname, strnlen(caps_.szPname, sizeof(caps_.szPname)));
  }
  deviceId_ = valid ? value : stream::InvalidId;
}

void TMMWaveOut::SetCallBackMode(stream::TMMCBMode value) {
  if (HasState(wsOpen)) Error(text::kChangeWhileOpen);
  if (value == stream::cmCallback) {
    // Completions inside the driver callback are not offered here.
    platform::ShowMessage(text::kCallbackRefused);
    return;
  }
  callBackMode_ = value;
}

void TMMWaveOut::SetLooping(bool value) {
  if (value == looping_) return;
  looping_ = value;
  loopsLeft_ = loopCount_.load();
}

void TMMWaveOut::SetLoopCount(std::uint16_t value) {
  loopCount_ = value;
  loopsLeft_ = value;
}

void TMMWaveOut::SetPriority(stream::TThreadPriority value) {
  priority_ = value;
  std::lock_guard lock(mutex_);
  if (thread_) thread_->SetPriorityLevel(value);
}

// ---- errors ----

void TMMWaveOut::FireError() {
  if (OnError) OnError(this);
}

void TMMWaveOut::Error(const std::string& message) {
  FireError();
  throw EMMWaveOutError(message);
}

std::string TMMWaveOut::DeviceErrorText(platform::MMRESULT code) const {
  char buffer[kErrorTextSize + 1] = {};
  if (platform::waveOutGetErrorText(code, buffer, kErrorTextSize) != platform::MMSYSERR_NOERROR) {
    return text::kUnknownError;
  }
  return buffer;
}

void TMMWaveOut::Check(platform::MMRESULT result, const char* prefix) {
  if (result != platform::MMSYSERR_NOERROR) Error(prefix + DeviceErrorText(result));
}

}  // namespace playback
