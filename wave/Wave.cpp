#include "wave/Wave.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "stream/TimeConversions.h"
#include "wave/Silence.h"

namespace wave {

using stream::TWaveFormatEx;

namespace {

// Size of the file on disk, -1 when it does not exist.
std::int64_t DiskFileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

}  // namespace

std::string ExpandFileName(const std::string& name) {
  if (name.empty()) return name;
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return full.lexically_normal().string();
}

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
  CloseAll();
}

// ---- format and conversions ----

const TWaveFormatEx* TMMWave::GetPWaveFormat() const {
  return handle_ ? handle_->Format() : nullptr;
}

std::int64_t TMMWave::SamplesToBytes(std::int64_t samples) const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? stream::SamplesToBytes(*f, samples) : 0;
}

std::int64_t TMMWave::BytesToSamples(std::int64_t bytes) const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? stream::BytesToSamples(*f, bytes) : 0;
}

std::int64_t TMMWave::SamplesToTime(std::int64_t samples) const {
  const TWaveFormatEx* f = GetPWaveFormat();
  if (f == nullptr) return 0;
  switch (timeFormat_) {
    case stream::tfMillisecond:
      return stream::SamplesToMs(*f, samples);
    case stream::tfByte:
      return stream::SamplesToBytes(*f, samples);
    case stream::tfSample:
      break;
  }
  return samples;
}

std::int64_t TMMWave::TimeToSamples(std::int64_t value) const {
  const TWaveFormatEx* f = GetPWaveFormat();
  if (f == nullptr) return 0;
  switch (timeFormat_) {
    case stream::tfMillisecond:
      return stream::MsToSamples(*f, value);
    case stream::tfByte:
      return stream::BytesToSamples(*f, value);
    case stream::tfSample:
      break;
  }
  return value;
}

// ---- properties ----

void TMMWave::SetTimeFormat(stream::TMMTimeFormats value) {
  if (value == timeFormat_) return;
  timeFormat_ = value;
  BuildPlayList();
}

void TMMWave::SetFileMustExist(bool value) {
  if (value != fileMustExist_ && !IsMemoryWave()) fileMustExist_ = value;
}

void TMMWave::SetIOBufferSize(std::int32_t value) {
  if (value == ioBufferSize_) return;
  ioBufferSize_ = std::max(value, kMinIOBufferSize);
  if (handle_ && handle_->file != nullptr &&
      WaveIOSetBuffer(handle_.get(), ioBufferSize_) != kWaveIOOk) {
    throw EMMWaveError(kUnableToSetupBuffer);
  }
}

std::uint16_t TMMWave::BitLength() const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? f->wBitsPerSample : 0;
}

stream::TMMMode TMMWave::Mode() const {
  const TWaveFormatEx* f = GetPWaveFormat();
  if (f != nullptr && f->nChannels == 2) return stream::mStereo;
  if (f != nullptr && f->nChannels > 2) return stream::mMultiChannel;
  return stream::mMono;
}

std::uint16_t TMMWave::FormatTag() const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? f->wFormatTag : 0;
}

std::string TMMWave::FormatString() const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? WaveFormatName(f) : kUnknownFormat;
}

std::uint32_t TMMWave::SampleRate() const {
  const TWaveFormatEx* f = GetPWaveFormat();
  return f ? f->nSamplesPerSec : kDefaultSampleRate;
}

std::int64_t TMMWave::FileSize() const {
  return handle_ ? static_cast<std::int64_t>(handle_->fileSize) : 0;
}

std::int64_t TMMWave::DataSize() const {
  return handle_ ? SamplesToTime(handle_->samples) : 0;
}

std::int64_t TMMWave::PlayLength() const {
  if (!handle_) return 0;
  if (playList_.empty()) return MapSampleIn(endSample_ - startSample_);
  std::int64_t length = 0;
  for (const TMMPlayRange& r : playList_) length += r.length;
  return length;
}

std::int64_t TMMWave::GetPosition() const {
  return handle_ ? SamplesToTime(position_) : -1;
}

// ---- naming, attaching and closing ----

void TMMWave::SetFileName(const std::string& name) {
  const std::string path = ExpandFileName(name);
  if (IsMemoryWave()) {
    if (path.empty()) return;
    std::ifstream file(path, std::ios::binary);
    try {
      if (!file) throw EMMWaveError(kErrorReadingWave);
      ReadImage(file);
    } catch (const EMMWaveError&) {
      throw EMMWaveError(RiffFileExists(path) ? kInvalidWaveFile : kErrorReadingWave);
    }
    return;
  }
  if (!path.empty() && path == fileName_ && DiskFileSize(path) == FileSize()) return;
  if (path.empty()) {
    Discard();
    return;
  }
  const bool exists = RiffFileExists(path);
  WaveIOHandlePtr handle;
  if (exists && WaveIOReadInfo(handle, path, nullptr, kFourCCWave, kRiffModePath) == kWaveIOOk) {
    AdoptHandle(std::move(handle), path);
    return;
  }
  if (!exists && !fileMustExist_) {
    CloseAll();
    fileName_ = path;
    NotifyChange();
    return;
  }
  throw EMMWaveError(exists ? kInvalidWaveFile : kErrorReadingWave);
}

void TMMWave::CloseAll() {
  CloseFile();
  fileName_.clear();
  handle_.reset();
  playList_.clear();
  startSample_ = endSample_ = position_ = bytesRemaining_ = playBytes_ = 0;
  if (memoryImage_) memoryImage_->clear();
}

void TMMWave::Discard() {
  if (fileName_.empty() && !handle_ && !(memoryImage_ && !memoryImage_->empty())) return;
  CloseAll();
  NotifyChange();
}

void TMMWave::AdoptHandle(WaveIOHandlePtr handle, const std::string& fileName,
                          std::unique_ptr<std::vector<char>> image) {
  CloseAll();
  if (image) memoryImage_ = std::move(image);  // the handle points into this block
  handle_ = std::move(handle);
  fileName_ = fileName;
  startSample_ = handle_->firstSample;
  endSample_ = handle_->lastSample;
  position_ = handle_->position;
  bytesRemaining_ = handle_->bytesLeft;
  BuildPlayList();
  NotifyChange();
}

void TMMWave::AttachFormat(const TWaveFormatEx* format) {
  if (format == nullptr) return;
  WaveIOHandlePtr handle;
  if (WaveIOFromFormat(handle, format) != kWaveIOOk) return;
  if (IsMemoryWave()) throw EMMWaveError(kCantWriteMemoryWave);
  AdoptHandle(std::move(handle), std::string());
}

void TMMWave::CreateWaveFile(const std::string& name, const TWaveFormatEx* format) {
  if (IsMemoryWave()) throw EMMWaveError(kCantWriteMemoryWave);
  if (format == nullptr || name.empty()) return;
  const std::string path = ExpandFileName(name);
  WaveIOHandlePtr handle;
  bool created = path.size() <= kMaxPathLength && RiffNameValid(path);
  if (created) {
    if (RiffFileExists(path)) RiffFileDelete(path);
    created = WaveIOFromFormat(handle, format) == kWaveIOOk;
    if (created) handle->rf64 = rf64_;
    created = created && WaveIOCreateFile(handle.get(), path) == kWaveIOOk;
  }
  if (!created) {
    if (handle) {
      WaveIOFinalize(handle.get());
      WaveIOFree(handle);
    }
    throw EMMWaveError(kUnableToCreateWave);
  }
  AdoptHandle(std::move(handle), path);
  if (WaveIOSetBuffer(handle_.get(), ioBufferSize_) != kWaveIOOk) {
    throw EMMWaveError(kUnableToSetupBuffer);
  }
}

void TMMWave::OpenFile() {
  if (!handle_) return;
  if (WaveIOReopen(handle_.get()) != kWaveIOOk) throw EMMWaveError(kUnableToOpenWave);
  if (WaveIOSetBuffer(handle_.get(), ioBufferSize_) != kWaveIOOk) {
    throw EMMWaveError(kUnableToSetupBuffer);
  }
  BuildPlayList();
  PositionHook(false);
  opened_ = true;
  SetPosition(GetPosition());
}

void TMMWave::CloseFile() {
  if (handle_) closeFailed_ = WaveIOFinalize(handle_.get()) != kWaveIOOk;
  opened_ = false;
  position_ = 0;
  bytesRemaining_ = 0;
}

// ---- play list and position ----

void TMMWave::SetCutList(const TMMCutList* list) {
  cutList_ = list;
  BuildPlayList();
}

void TMMWave::BuildPlayList() {
  playList_.clear();
  if (GetPWaveFormat() == nullptr) return;
  const std::int64_t a = MapSampleIn(startSample_);
  const std::int64_t b = MapSampleIn(endSample_);
  auto add = [this](std::int64_t first, std::int64_t length) {
    // Ranges stay sorted; one that starts inside an existing range is refused.
    for (const TMMPlayRange& r : playList_) {
      if (first >= r.first && first < r.first + r.length) return;
    }
    const TMMPlayRange range{first, SamplesToBytes(first), length, SamplesToBytes(length)};
    playList_.insert(
        std::upper_bound(playList_.begin(), playList_.end(), first,
                         [](std::int64_t f, const TMMPlayRange& r) { return f < r.first; }),
        range);
  };
  if (cutList_ == nullptr || cutList_->empty()) {
    add(a, b - a);
    return;
  }
  TMMCutList cuts(*cutList_);
  std::sort(cuts.begin(), cuts.end(),
            [](const TMMCutRange& x, const TMMCutRange& y) { return x.first < y.first; });
  std::int64_t from = a;
  for (const TMMCutRange& cut : cuts) {
    const std::int64_t cutStart = std::max(cut.first, a);
    const std::int64_t cutEnd = std::min(cut.first + cut.length, b);
    if (cutEnd <= cutStart) continue;
    if (cutStart > from) add(from, cutStart - from);
    from = std::max(from, cutEnd);
  }
  if (from < b) add(from, b - from);
  if (playList_.empty()) add(a, 0);
}

void TMMWave::SetPosition(std::int64_t value) {
  if (!handle_) return;
  position_ = TimeToSamples(value);
  if (!opened_) return;
  const std::int64_t target = std::clamp<std::int64_t>(MapSampleIn(position_), 0, PlayLength());
  playBytes_ = PlayBytes();
  bytesRemaining_ = playBytes_ - SamplesToBytes(target);
  currentRange_ = -1;
  bytesLeftInRange_ = -1;
  PositionHook(true);
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < playList_.size(); ++i) {
    const TMMPlayRange& r = playList_[i];
    sum += r.length;
    if (sum < target) continue;
    const std::int64_t fileSample = MapSampleOut(r.first + r.length - (sum - target));
    if (WaveIOSeek(handle_.get(), fileSample) != kWaveIOOk &&
        WaveIOSeek(handle_.get(), fileSample) != kWaveIOOk) {
      throw EMMWaveError(kErrorSeeking);
    }
    bytesLeftInRange_ = SamplesToBytes(sum - target);
    currentRange_ = static_cast<std::int32_t>(i);
    return;
  }
  throw EMMWaveError(kErrorSeeking);
}

std::int64_t TMMWave::ReadDirect(void* buffer, std::int64_t count) {
  return WaveIORead(handle_.get(), buffer, count);
}

std::int64_t TMMWave::ReadBytes(void* buffer, std::int64_t count) {
  if (!handle_ || bytesRemaining_ <= 0 || count <= 0) return -1;
  auto* out = static_cast<char*>(buffer);
  std::int64_t want = std::min(count, bytesRemaining_);
  std::int64_t got = 0;
  while (want > 0) {
    if (bytesLeftInRange_ > 0) {
      const std::int64_t r = ReadDirect(out + got, std::min(want, bytesLeftInRange_));
      if (r <= 0) break;
      want -= r;
      bytesLeftInRange_ -= r;
      got += r;
    }
    if (bytesLeftInRange_ <= 0) {
      const auto next = static_cast<std::size_t>(currentRange_ + 1);
      if (next < playList_.size()) {
        currentRange_ = static_cast<std::int32_t>(next);
        bytesLeftInRange_ = playList_[next].lengthBytes;
        WaveIOSeek(handle_.get(), MapSampleOut(playList_[next].first));
      } else {
        bytesRemaining_ = 0;
        break;
      }
    }
  }
  if (got > 0) {
    // Running out of ranges already set the count to 0; it must not go below.
    bytesRemaining_ = std::max<std::int64_t>(bytesRemaining_ - got, 0);
    position_ = MapSampleOut(BytesToSamples(playBytes_ - bytesRemaining_));
    return got;
  }
  // The file ended before the play list did: hand out a short block of silence so that a caller
  // that counts down by the result still ends, and mark the play as finished.
  const auto filler = static_cast<std::uint32_t>(std::min<std::int64_t>(kSilenceTailBytes, count));
  FillSilence(GetPWaveFormat(), out, filler);
  bytesRemaining_ = 0;
  bytesLeftInRange_ = 0;
  position_ = PlayLength();
  return filler;
}

std::int64_t TMMWave::WriteBytes(const void* buffer, std::int64_t count) {
  if (IsMemoryWave()) throw EMMWaveError(kCantWriteMemoryWave);
  if (!handle_) return -1;
  const std::int64_t r = WaveIOWrite(handle_.get(), buffer, count);
  endSample_ = handle_->lastSample;
  BuildPlayList();
  return r;
}

// ---- change notification and copying ----

void TMMWave::NotifyChange() {
  if (assigning_) {
    changePending_ = true;
    return;
  }
  changePending_ = false;
  DoChange();
  observable_.NotifyObservers(0);
}

void TMMWave::DoProgress(std::int64_t curByte, std::int64_t numBytes, bool& cancel) {
  if (OnProgress) OnProgress(this, curByte, numBytes, cancel);
}

void TMMWave::Assign(const TMMWave* source) {
  if (source == nullptr) {
    Discard();
    SetCutList(nullptr);
    return;
  }
  if (source == this) return;
  if (!IsMemoryWave() && source->IsMemoryWave()) {
    throw EMMWaveError("Cannot assign a memory wave to a file wave");
  }
  CloseAll();
  if (!IsMemoryWave()) {
    fileMustExist_ = source->fileMustExist_;
    rf64_ = source->rf64_;
  }
  assigning_ = true;
  try {
    if (IsMemoryWave()) {
      if (source->IsMemoryWave()) {
        if (!source->memoryImage_->empty()) {
          std::istringstream image(
              std::string(source->memoryImage_->begin(), source->memoryImage_->end()));
          ReadImage(image);
        }
      } else if (!source->fileName_.empty()) {
        SetFileName(source->fileName_);
      }
    } else if (!source->fileName_.empty()) {
      SetFileName(source->fileName_);
    } else if (source->GetPWaveFormat() != nullptr) {
      AttachFormat(source->GetPWaveFormat());
    } else {
      NotifyChange();
    }
    timeFormat_ = source->timeFormat_;
    startSample_ = source->startSample_;
    endSample_ = source->endSample_;
    position_ = source->position_;
    ioBufferSize_ = source->ioBufferSize_;
    cutList_ = source->cutList_;
    BuildPlayList();
  } catch (...) {
    assigning_ = false;
    throw;
  }
  assigning_ = false;
  if (changePending_) NotifyChange();
}

// ---- memory images ----

void TMMWave::ReadImage(std::istream& stream) {
  if (!IsMemoryWave()) return;
  auto image = std::make_unique<std::vector<char>>(std::istreambuf_iterator<char>(stream),
                                                   std::istreambuf_iterator<char>());
  WaveIOHandlePtr handle;
  if (WaveIOFromMemory(handle, image->data(), static_cast<std::int64_t>(image->size())) !=
      kWaveIOOk) {
    throw EMMWaveError(kErrorReadingWave);
  }
  AdoptHandle(std::move(handle), std::string(), std::move(image));
}

void TMMWave::WriteImage(std::ostream& stream) {
  if (memoryImage_) {
    stream.write(memoryImage_->data(), static_cast<std::streamsize>(memoryImage_->size()));
  }
}

}  // namespace wave
