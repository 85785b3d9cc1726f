#include "sources/Mpeg.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "wave/PcmUtils.h"

namespace sources {

TMMMpeg::TMMMpeg() {
  if (!LoadDecoder()) throw EMMMpegError(kUnableToLoadDecoder);
  std::int32_t code = 0;
  handle_ = Mpeg().Init(&code, &TMMMpeg::ChangeCallback, this);
  if (code != 0) throw EMMMpegError(ErrorText(code));
}

TMMMpeg::~TMMMpeg() {
  try {
    CloseFile();
  } catch (...) {
    // The decoder goes away anyway.
  }
  if (handle_ != nullptr) Mpeg().Done(&handle_);
}

void TMMMpeg::Check(std::int32_t code) const {
  if (code != 0) throw EMMMpegError(ErrorText(code));
}

void TMMMpeg::ChangeCallback(std::intptr_t, void* data) {
  // Runs inside the library: nothing may unwind through it, so an error waits for the caller.
  auto* self = static_cast<TMMMpeg*>(data);
  try {
    self->FileChanged();
  } catch (...) {
    self->callbackError_ = std::current_exception();
  }
}

void TMMMpeg::FileChanged() {
  if (!IsEmpty()) Check(Mpeg().GetFileInfo(handle_, &info_));
  UpdatePCMFormat();
  DoChange();
}

void TMMMpeg::UpdatePCMFormat() {
  if (IsEmpty()) return;
  const int channels = (Mode() == smSingleChannel || ChannelMode() != cmBoth) ? 1 : 2;
  const std::int32_t format = SampleFormat();
  const int bits = format == MPEG_SAMPLES_S24 ? 24 : format == MPEG_SAMPLES_S16 ? 16 : 32;
  wave::MakePCMFormat(pcmFormat_, bits, channels, static_cast<std::uint32_t>(PlayBackRate()));
  if (format == MPEG_SAMPLES_FLOAT32) pcmFormat_.wFormatTag = kWaveFormatIeeeFloat;
}

const stream::TWaveFormatEx* TMMMpeg::PCMFormat() const {
  return IsEmpty() ? nullptr : &pcmFormat_;
}

bool TMMMpeg::IsEmpty() const {
  return MpegBool(Mpeg().GetEmpty(handle_));
}
bool TMMMpeg::IsDone() const {
  return MpegBool(Mpeg().GetDone(handle_));
}

std::int32_t TMMMpeg::CallingBack(std::int32_t code) {
  if (callbackError_) std::rethrow_exception(std::exchange(callbackError_, nullptr));
  return code;
}

bool TMMMpeg::Unbind() {
  if (IsEmpty()) return false;
  callbackError_ = nullptr;
  // The decoder reports the change through the callback.
  Check(CallingBack(Mpeg().Clear(handle_)));
  return true;
}

void TMMMpeg::SetFileName(const std::string& name) {
  CloseFile();
  if (name.empty()) {
    // An empty name unbinds the file, if there is one.
    Unbind();
    return;
  }
  callbackError_ = nullptr;
  Check(CallingBack(Mpeg().SetFileName(handle_, name.c_str())));
}

std::string TMMMpeg::FileName() const {
  char buffer[256] = {};
  const std::int32_t code = Mpeg().GetFileName(handle_, buffer, sizeof buffer);
  if (code == MPEG_ERR_NO_FILE) return {};  // an empty decoder has no name
  Check(code);
  buffer[sizeof buffer - 1] = 0;
  return buffer;
}

void TMMMpeg::SetTrailingHeader(std::int32_t value) {
  if (value == trailingHeader_) return;
  trailingHeader_ = value;
  Check(Mpeg().SetTrailingHeader(handle_, value));
}

void TMMMpeg::SetExactposition(bool value) {
  exactPosition_ = value;
  Check(Mpeg().SetExactPosition(handle_, value ? 1 : 0));
}

void TMMMpeg::SetChannelMode(TChannelMode mode) {
  if (fileOpened_) throw EMMMpegError(kChangeWhileOpen);
  Check(Mpeg().SetChannelMode(handle_, mode));
  UpdatePCMFormat();
}

TChannelMode TMMMpeg::ChannelMode() const {
  std::int32_t value = cmBoth;
  Mpeg().GetChannelMode(handle_, &value);
  return static_cast<TChannelMode>(value & 0xFF);
}

void TMMMpeg::SetSampleFormat(std::int32_t format) {
  if (fileOpened_) throw EMMMpegError(kChangeWhileOpen);
  if (Mpeg().SetSampleFormat == nullptr) {
    if (format != MPEG_SAMPLES_S16) Check(MPEG_ERR_UNSUPPORTED);
    return;
  }
  Check(Mpeg().SetSampleFormat(handle_, format));
  UpdatePCMFormat();
}

std::int32_t TMMMpeg::SampleFormat() const {
  std::int32_t format = MPEG_SAMPLES_S16;
  if (Mpeg().GetSampleFormat != nullptr) Check(Mpeg().GetSampleFormat(handle_, &format));
  return format;
}

std::int64_t TMMMpeg::ClippedSamples() const {
  std::int64_t count = 0;
  if (Mpeg().GetClipCount != nullptr) Check(Mpeg().GetClipCount(handle_, &count));
  return count;
}

TMpegVersion TMMMpeg::Version() const {
  return IsEmpty() ? v1 : static_cast<TMpegVersion>(info_.Version);
}
std::int32_t TMMMpeg::Layer() const {
  return IsEmpty() ? 0 : info_.Layer;
}
TSampleMode TMMMpeg::Mode() const {
  return IsEmpty() ? smStereo : static_cast<TSampleMode>(info_.Mode);
}
std::int32_t TMMMpeg::BitRate() const {
  return IsEmpty() ? 0 : info_.BitRate;
}
std::int32_t TMMMpeg::SampleRate() const {
  return IsEmpty() ? 0 : info_.SampleRate;
}
std::int32_t TMMMpeg::PlayBackRate() const {
  return IsEmpty() ? 0 : info_.PlayBackRate;
}
std::int32_t TMMMpeg::Frames() const {
  return IsEmpty() ? 0 : info_.Frames;
}
std::int32_t TMMMpeg::Time() const {
  return IsEmpty() ? 0 : info_.Time;
}
double TMMMpeg::FrameTime() const {
  return IsEmpty() ? 0.0 : info_.FrameTime;
}

std::int32_t TMMMpeg::BytesPerFrame() const {
  if (IsEmpty()) return 0;
  // Rounded to nearest (halves to even), then down to whole stereo sample frames of the sample
  // size (4 bytes for 16-bit), which are whole mono ones as well.
  const double bytes = std::nearbyint(pcmFormat_.nAvgBytesPerSec * FrameTime() / 1000.0);
  if (!(bytes > 0)) return 0;
  const auto n = static_cast<std::int32_t>(std::min<double>(bytes, kScratchBytes));
  const std::int32_t stereoFrame = 2 * (pcmFormat_.wBitsPerSample / 8);
  return n - n % stereoFrame;
}

void TMMMpeg::OpenFile() {
  if (IsEmpty() || fileOpened_) return;
  Check(Mpeg().OpenFile(handle_));
  fileOpened_ = true;
}

std::vector<TMpegSegment> TMMMpeg::PlanSegments(int max, std::int64_t minSamples) {
  if (Mpeg().PlanSegments == nullptr) Check(MPEG_ERR_UNSUPPORTED);
  std::vector<TMpegSegment> segments(static_cast<std::size_t>(std::max(max, 1)));
  std::int32_t count = 0;
  Check(Mpeg().PlanSegments(handle_, max, minSamples, segments.data(), &count));
  segments.resize(static_cast<std::size_t>(count));
  return segments;
}

void TMMMpeg::OpenSegment(const TMpegSegment& segment) {
  if (Mpeg().OpenSegment == nullptr) Check(MPEG_ERR_UNSUPPORTED);
  Check(Mpeg().OpenSegment(handle_, &segment));
  fileOpened_ = true;
}

void TMMMpeg::CloseFile() {
  if (!fileOpened_) return;
  fileOpened_ = false;
  Check(Mpeg().CloseFile(handle_));
}

void TMMMpeg::ResetFile() {
  if (fileOpened_) Check(Mpeg().ResetFile(handle_));
}

std::int32_t TMMMpeg::ReadData(void* buffer, std::int32_t count) {
  if (!fileOpened_) return 0;
  const std::int32_t n = Mpeg().ReadDataBytes(handle_, buffer, count);
  if (n < 0) throw EMMMpegError(ErrorText(-n));
  return n;
}

std::int32_t TMMMpeg::Position() const {
  return Mpeg().GetPosition(handle_);
}

void TMMMpeg::SetPosition(std::int32_t frame) {
  const std::int32_t target =
      fileOpened_ ? std::max(frame - kPositionLeadFrames, 0) : std::max(frame, 0);
  if (const std::int32_t code = Mpeg().SetPosition(handle_, target); code != 0) {
    throw EMMMpegError(std::to_string(frame) + ": " + ErrorText(code));
  }
  if (!fileOpened_) return;
  std::vector<char> scratch(kScratchBytes);
  const std::int32_t bytes = BytesPerFrame();
  for (int i = 0; i < kMaxPositionReads && Position() < frame && !IsDone(); ++i) {
    ReadData(scratch.data(), bytes);
  }
}

bool TMMMpeg::Clear() {
  CloseFile();
  return Unbind();
}

void TMMMpeg::Assign(const TMMMpeg* source) {
  const bool changed = Clear();
  if (source == nullptr) {
    // One change is reported either way.
    if (!changed) FileChanged();
    return;
  }
  SetTrailingHeader(source->TrailingHeader());
  const std::string name = source->FileName();
  if (!name.empty()) SetFileName(name);
  SetChannelMode(source->ChannelMode());
  SetSampleFormat(source->SampleFormat());
  // An empty decoder has no position to take over.
  if (!IsEmpty()) SetPosition(source->Position());
}

}  // namespace sources
