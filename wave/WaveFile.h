// The wave file component connects a chain to a WAVE file. With an Input it is a sink: at Open it
// creates (or reopens) the file with the format that arrives from upstream and writes every
// block that passes. Without an Input it is a source that reads the file block by block, with
// looping and silence.
// Threading: Open, Start, Stop, Close and Reset on the main thread through the driving
// component's chain walks; BufferReady and BufferLoad on the driver's worker (a Close that a
// failed write triggers runs there too). OnOpen and OnClose reach the main thread through
// SynchronizeEvent; OnLooping, OnChange, OnChanged and OnError come on the thread that caused
// them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "stream/DSPComponent.h"
#include "stream/Observer.h"
#include "wave/Wave.h"

namespace wave {

// Free bytes available on the file system that holds a path; empty when unknown.
using FreeSpaceQuery = std::function<std::optional<std::uint64_t>(const std::string& path)>;

// Room a sink needs beyond the I/O buffer and the block before each write.
constexpr std::uint64_t kFreeSpaceReserve = 10240;

inline constexpr const char* kDiskFullMessage = "Not enough free disk space to write the wave file";
inline constexpr const char* kWriteFailedMessage = "Error writing wave file";
inline constexpr const char* kFinalizeFailedMessage = "Error completing wave file";

class TMMCustomWaveFile : public stream::TMMDSPComponent {
 public:
  explicit TMMCustomWaveFile(stream::TComponent* owner);
  ~TMMCustomWaveFile() override;

  TMMWave* Wave() const { return wave_.get(); }
  // Copies `wave` into the own wave object.
  void SetWave(const TMMWave* wave);

  void SetPWaveFormat(const stream::TWaveFormatEx* format) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void Reset() override;
  void BufferReady(stream::PWaveHdr lpWaveHdr) override;
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  bool OverwriteExisting() const { return overwriteExisting_; }
  void SetOverwriteExisting(bool value) { overwriteExisting_ = value; }
  std::uint16_t SilenceValue() const { return silenceValue_; }
  bool WaveOpened() const { return waveOpened_; }
  bool WaveStarted() const { return waveStarted_; }

  // A sink that lost data (no room on the disk, a failed write, a file that could not be
  // completed) closes itself and keeps the valid file it has; this tells its owner so. Cleared
  // by the next Open.
  bool Failed() const { return failed_; }
  std::string FailureMessage() const;

  // Replaces the free-space query (the platform's by default); for tests.
  void SetFreeSpaceQuery(FreeSpaceQuery query) { freeSpace_ = std::move(query); }

  stream::TNotifyEvent OnOpen;
  stream::TNotifyEvent OnClose;
  stream::TNotifyEvent OnChange;
  stream::TNotifyEvent OnChanged;
  stream::TNotifyEvent OnLooping;
  // Raised when the sink gives up because of a failure (see Failed()).
  stream::TNotifyEvent OnError;

 protected:
  virtual void WaveChanged();
  void DoOpen();
  void DoClose();

 private:
  void WriteBlock(stream::PWaveHdr hdr);  // driver's worker
  void Fail(const char* message);

  std::unique_ptr<TMMWave> wave_;
  std::unique_ptr<stream::TMMObserver> observer_;
  std::int64_t savedPosition_ = 0;
  std::uint16_t silenceValue_ = 128;
  bool enabled_ = true;
  bool waveOpened_ = false;
  bool waveStarted_ = false;
  bool overwriteExisting_ = true;
  FreeSpaceQuery freeSpace_;
  std::atomic<bool> failed_{false};
  mutable std::mutex failureMutex_;
  std::string failureMessage_;
};

class TMMWaveFile : public TMMCustomWaveFile {
 public:
  explicit TMMWaveFile(stream::TComponent* owner) : TMMCustomWaveFile(owner) {
    PublishLinks(true, true);
  }
};

}  // namespace wave
