// The wave object: one WAVE file (or a file image in memory) with its format, a play list of
// sample ranges, a read position in a selectable time unit, and block reads and writes.
// Threading: no lock of its own. Its owner serialises access (the wave file component touches it
// from the driving worker only between its Open and Close on the main thread).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "stream/MMError.h"
#include "stream/MMObject.h"
#include "stream/MMTypes.h"
#include "stream/Observer.h"
#include "wave/WaveIO.h"

namespace wave {

class EMMWaveError : public stream::EMMError {
 public:
  using stream::EMMError::EMMError;
};

// Message texts and their string-table ids.
inline constexpr const char* kErrorReadingWave = "Error reading wave file";            // 28130
inline constexpr const char* kCantWriteMemoryWave = "Can't write to MemoryWave";       // 28131
inline constexpr const char* kInvalidWaveFile = "Invalid wave file...";                // 28133
inline constexpr const char* kUnableToSetupBuffer = "Unable to setup file IO buffer";  // 28137
inline constexpr const char* kUnableToOpenWave = "Unable to open wave file";           // 28138
inline constexpr const char* kUnableToCreateWave = "Unable to create wave file";       // 28139
inline constexpr const char* kErrorSeeking = "Error seeking file position";            // 28147
inline constexpr const char* kUnknownFormat = "Unknown";                               // 28006

constexpr std::int32_t kDefaultIOBufferSize = 32768;
constexpr std::int32_t kMinIOBufferSize = 8192;
constexpr std::uint32_t kDefaultSampleRate = 11025;
// The longest path a file can be created under (the platform's PATH_MAX less the terminator).
constexpr std::size_t kMaxPathLength = 4095;

// Sample frames left out of the play: [first, first + length).
struct TMMCutRange {
  std::int64_t first = 0;
  std::int64_t length = 0;
};
using TMMCutList = std::vector<TMMCutRange>;

struct TMMPlayRange {
  std::int64_t first = 0;
  std::int64_t firstBytes = 0;
  std::int64_t length = 0;
  std::int64_t lengthBytes = 0;
};

using TMMWaveProgress = std::function<void(stream::TObject* Sender, std::int64_t CurByte,
                                           std::int64_t NumBytes, bool& Cancel)>;

class TMMWave : public stream::TMMObject {
 public:
  TMMWave();
  ~TMMWave() override;

  // Reads through the handle.
  virtual std::int64_t ReadDirect(void* buffer, std::int64_t count);
  virtual const stream::TWaveFormatEx* GetPWaveFormat() const;
  // Positions in TimeFormat units.
  virtual void SetPosition(std::int64_t value);
  std::int64_t GetPosition() const;
  virtual std::int64_t SamplesToBytes(std::int64_t samples) const;
  virtual std::int64_t BytesToSamples(std::int64_t bytes) const;
  // Mappings of sample numbers into and out of the play list; identity here.
  virtual std::int64_t MapSampleIn(std::int64_t sample) const { return sample; }
  virtual std::int64_t MapSampleOut(std::int64_t sample) const { return sample; }
  virtual std::int64_t SamplesToTime(std::int64_t samples) const;
  virtual std::int64_t TimeToSamples(std::int64_t value) const;
  // Stores an outside cut list (not owned; null for none) and rebuilds the play list.
  virtual void SetCutList(const TMMCutList* list);
  virtual void SetFileName(const std::string& name);
  const std::string& FileName() const { return fileName_; }

  // The stored "Data" property of a memory wave.
  virtual void LoadDataProperty(std::istream& stream) { ReadImage(stream); }
  virtual void StoreDataProperty(std::ostream& stream) { WriteImage(stream); }
  virtual void ReadImage(std::istream& stream);
  virtual void WriteImage(std::ostream& stream);

  virtual void OpenFile();
  // Finalizes a written file and closes it; the handle, format and sizes stay.
  virtual void CloseFile();
  // Whether the last CloseFile could not complete the file on disk (its data may be incomplete).
  bool CloseFailed() const { return closeFailed_; }

  // Hooks for descendants: called when the position is set and when the wave is rewound.
  virtual void PositionHook(bool /*reading*/) {}
  virtual void RewindHook() {}

  void CreateWaveFile(const std::string& name, const stream::TWaveFormatEx* format);
  // Bytes delivered along the play list, or -1 when nothing more is to be read.
  std::int64_t ReadBytes(void* buffer, std::int64_t count);
  // Bytes written at the file position, 0, or -1.
  std::int64_t WriteBytes(const void* buffer, std::int64_t count);
  std::int64_t BytesLeft() const { return bytesRemaining_; }
  std::int64_t PlayLength() const;
  std::int64_t PlayBytes() const { return SamplesToBytes(PlayLength()); }
  std::int64_t PlayTime() const { return SamplesToTime(PlayLength()); }
  bool IsEmpty() const { return DataSize() == 0; }
  void Discard();
  void AttachFormat(const stream::TWaveFormatEx* format);
  // Copies another wave (null: discards this one).
  void Assign(const TMMWave* source);

  void AddObserver(stream::TMMObserver* observer) { observable_.AddObserver(observer); }
  void RemoveObserver(stream::TMMObserver* observer) { observable_.RemoveObserver(observer); }

  // Properties.
  stream::TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(stream::TMMTimeFormats value);
  bool FileMustExist() const { return fileMustExist_; }
  void SetFileMustExist(bool value);
  std::int32_t IOBufferSize() const { return ioBufferSize_; }
  void SetIOBufferSize(std::int32_t value);
  // Whether CreateWaveFile makes an RF64 file (64-bit sizes, no 4 GiB limit) instead of RIFF.
  bool Rf64() const { return rf64_; }
  void SetRf64(bool value) { rf64_ = value; }
  std::uint16_t BitLength() const;
  stream::TMMMode Mode() const;
  std::uint16_t FormatTag() const;
  std::string FormatString() const;
  std::uint32_t SampleRate() const;
  std::int64_t FileSize() const;
  std::int64_t DataSize() const;
  bool Opened() const { return opened_; }
  bool IsMemoryWave() const { return memoryImage_ != nullptr; }
  const TWaveIOHandle* Handle() const { return handle_.get(); }
  const std::vector<TMMPlayRange>& PlayList() const { return playList_; }

  TMMWaveProgress OnProgress;

 protected:
  // A memory wave holds a file image; descendants that are memory waves create an empty one.
  void MakeMemoryImage() { memoryImage_ = std::make_unique<std::vector<char>>(); }
  void NotifyChange();
  void DoProgress(std::int64_t curByte, std::int64_t numBytes, bool& cancel);

 private:
  void CloseAll();
  void BuildPlayList();
  // Makes `handle` the wave's own: closes what was there, takes the name (and, for a memory
  // wave, the image block the handle reads from), its sample range and position, and tells the
  // observers.
  void AdoptHandle(WaveIOHandlePtr handle, const std::string& fileName,
                   std::unique_ptr<std::vector<char>> image = nullptr);

  std::unique_ptr<std::vector<char>> memoryImage_;
  WaveIOHandlePtr handle_;
  std::string fileName_;
  bool fileMustExist_ = true;
  bool rf64_ = false;
  std::int32_t ioBufferSize_ = kDefaultIOBufferSize;
  stream::TMMTimeFormats timeFormat_ = stream::tfSample;
  std::int64_t startSample_ = 0;
  std::int64_t endSample_ = 0;
  std::int64_t position_ = 0;  // sample frames along the play list
  std::int64_t bytesRemaining_ = 0;
  std::int64_t playBytes_ = 0;
  const TMMCutList* cutList_ = nullptr;  // not owned
  std::vector<TMMPlayRange> playList_;
  std::int32_t currentRange_ = -1;
  std::int64_t bytesLeftInRange_ = 0;
  bool opened_ = false;
  bool assigning_ = false;
  bool changePending_ = false;
  bool closeFailed_ = false;
  stream::TMMObservable observable_;
};

// A wave that holds its file as an image in memory.
class TMMMemoryWave : public TMMWave {
 public:
  TMMMemoryWave() { MakeMemoryImage(); }
};

// The absolute, normalised form of `name` ("" stays "").
std::string ExpandFileName(const std::string& name);

}  // namespace wave
