// The decoder object: one instance of the MPEG decoder library, the file bound to it, its
// description and the PCM format it delivers.
// Threading: binding, properties, OpenFile/CloseFile and positioning on the main thread;
// ReadData, ResetFile, IsEmpty and IsDone on the driving worker while a chain runs.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "mpegdec/mpegdec.h"
#include "sources/MpegBinding.h"
#include "sources/MpegTypes.h"
#include "stream/MMObject.h"
#include "stream/WaveFormat.h"

namespace sources {

inline constexpr const char* kChangeWhileOpen = "Change to property while device was open";
// Scratch space for the frames decoded and dropped while positioning: twice the largest decoded
// frame in the widest sample format (1152 sample frames of 32-bit stereo, 8 bytes).
constexpr std::int32_t kScratchBytes = 18432;
// The format tag of float PCM.
constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
constexpr std::int32_t kPositionLeadFrames = 2;
constexpr int kMaxPositionReads = 10;

class TMMMpeg : public stream::TMMObject {
 public:
  TMMMpeg();
  ~TMMMpeg() override;
  TMMMpeg(const TMMMpeg&) = delete;
  TMMMpeg& operator=(const TMMMpeg&) = delete;

  // Runs when the decoder reports that the bound file changed.
  virtual void FileChanged();

  // Binds a file; an empty name unbinds it.
  void SetFileName(const std::string& name);
  // The bound file's name; "" when none is bound.
  std::string FileName() const;
  void SetTrailingHeader(std::int32_t value);
  std::int32_t TrailingHeader() const { return trailingHeader_; }
  void SetExactposition(bool value);
  bool Exactposition() const { return exactPosition_; }
  void SetChannelMode(TChannelMode mode);
  TChannelMode ChannelMode() const;
  // The sample format (MPEG_SAMPLES_*, 16-bit by default) of the PCM of the next OpenFile. A
  // decoder library without the entry point takes 16-bit only.
  void SetSampleFormat(std::int32_t format);
  std::int32_t SampleFormat() const;
  // Samples clipped to the output range by the open decoding (or the last one of the file);
  // 0 with a decoder library that does not count them.
  std::int64_t ClippedSamples() const;

  TMpegVersion Version() const;
  std::int32_t Layer() const;
  TSampleMode Mode() const;
  std::int32_t BitRate() const;
  std::int32_t SampleRate() const;
  std::int32_t PlayBackRate() const;
  std::int32_t Frames() const;
  std::int32_t Time() const;
  double FrameTime() const;
  const TMpegFileInfo& Info() const { return info_; }

  // The decoded PCM format; null while no file is bound. Integer samples are PCM (tag 1), float
  // ones tag 3.
  const stream::TWaveFormatEx* PCMFormat() const;
  bool IsEmpty() const;
  bool IsDone() const;
  std::int32_t BytesPerFrame() const;

  void OpenFile();
  // Cuts the bound file into at most `max` segments of at least `minSamples` sample frames that,
  // decoded apart (OpenSegment on instances bound to the same file) and put in order, give
  // exactly one decode; a single segment when the file cannot be cut. Throws without a bound file
  // or with a decoder library older than version 22. Each instance of a split decode is bound,
  // opened and read on the one thread that decodes its segment.
  std::vector<TMpegSegment> PlanSegments(int max, std::int64_t minSamples);
  // Opens the bound file for one segment of a plan of the same file: ReadData then delivers that
  // segment's samples and IsDone turns true at its end. CloseFile ends it.
  void OpenSegment(const TMpegSegment& segment);
  void CloseFile();
  void ResetFile();
  bool FileOpened() const { return fileOpened_; }
  // PCM bytes decoded into buffer (0 when the file is not open).
  std::int32_t ReadData(void* buffer, std::int32_t count);
  std::int32_t Position() const;
  // Frame-exact: restarts two frames early and decodes into the wanted frame.
  void SetPosition(std::int32_t frame);
  // Closes and unbinds the file; true when one was bound (the change has been reported).
  bool Clear();
  // Takes over another decoder's settings, file and position (null: clears and reports the
  // change once).
  void Assign(const TMMMpeg* source);

 private:
  static void ChangeCallback(std::intptr_t unused, void* data);
  // Rethrows what the change callback raised during the call that returned `code`.
  std::int32_t CallingBack(std::int32_t code);
  // Unbinds the file when one is bound; true when it did.
  bool Unbind();
  void UpdatePCMFormat();
  void Check(std::int32_t code) const;

  MPEG_HANDLE handle_ = nullptr;
  std::int32_t trailingHeader_ = 0;
  bool exactPosition_ = false;
  TMpegFileInfo info_{};
  // Aligned so that its fields, packed as in a file, still lie on their natural boundaries.
  alignas(4) stream::TWaveFormatEx pcmFormat_{};
  bool fileOpened_ = false;
  std::exception_ptr callbackError_;  // raised in the callback, rethrown by the caller
};

}  // namespace sources
