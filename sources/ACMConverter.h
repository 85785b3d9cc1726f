// Format converters: TMMACMConverter converts the wave format passing through it with the audio
// compression manager, in a pull chain (BufferLoad) or a push chain (BufferReady);
// TMMPCMConverter always produces PCM and decides its output from its input and a few PCM
// parameters. With equal input and output formats both are transparent.
// Threading: format changes, Open, Close and properties on the main thread; BufferLoad and
// BufferReady on the driving worker.
#pragma once

#include <cstdint>
#include <memory>

#include "sources/AcmChain.h"
#include "stream/DSPComponent.h"
#include "stream/MMError.h"

namespace sources {

class EMMConverterError : public stream::EMMError {
 public:
  using stream::EMMError::EMMError;
};

inline constexpr const char* kUnableToConvert = "Unable to convert to destination format";
inline constexpr const char* kInvalidWaveFormat = "Invalid WaveFormat";
constexpr std::uint32_t kConvertChunkSize = 8192;
constexpr int kMaxEmptyConversions = 5;

class TMMACMConverter : public stream::TMMDSPComponent {
 public:
  explicit TMMACMConverter(stream::TComponent* owner);
  ~TMMACMConverter() override;

  void InputFormatChanged(const stream::TWaveFormatEx* format) override;
  // On a converter this is the requested output format.
  void SetPWaveFormat(const stream::TWaveFormatEx* format) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void Reset() override;
  void BufferReady(stream::PWaveHdr lpWaveHdr) override;
  void BufferLoad(stream::PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMConvertQuality Quality() const { return quality_; }
  void SetQuality(TMMConvertQuality value);
  bool NeedsConversion() const { return needsConversion_; }
  bool CanConvert() const { return canConvert_; }
  bool Prepared() const { return prepared_; }
  const stream::TWaveFormatEx* InputFormat() const { return inputFormat_.get(); }
  const stream::TWaveFormatEx* OutputFormat() const { return outputFormat_.get(); }
  const AcmChain* Chain() const { return chain_.get(); }

 protected:
  virtual void ComputeOutputFormat();
  void UpdateOutput();
  void Loaded() override;
  bool Converting() const;

  stream::WaveFormatPtr inputFormat_;
  stream::WaveFormatPtr desiredFormat_;
  stream::WaveFormatPtr outputFormat_;

 private:
  void DiscardOutput();
  std::int64_t FlushOrFail(std::uint32_t n);

  bool enabled_ = true;
  bool prepared_ = false;
  bool running_ = false;
  std::uint32_t chunkSize_ = 0;
  bool needsConversion_ = false;
  bool canConvert_ = false;
  std::unique_ptr<AcmChain> chain_;
  bool inputMore_ = false;
  bool inputEnded_ = false;
  TMMConvertQuality quality_ = cqLow;
};

enum TMMRequiredParam : unsigned { rpBits = 1u << 0, rpChannels = 1u << 1, rpSampleRate = 1u << 2 };
using TMMRequiredParams = unsigned;

class TMMPCMConverter : public TMMACMConverter {
 public:
  static constexpr std::int32_t kDefaultSampleRate = 11025;
  static constexpr std::int32_t kMinSampleRate = 8000;
  static constexpr std::int32_t kMaxSampleRate = 88200;

  explicit TMMPCMConverter(stream::TComponent* owner);

  // Accepts only PCM the converters can handle (or anything while designing).
  void SetPWaveFormat(const stream::TWaveFormatEx* format) override;

  bool AutoConvert() const { return autoConvert_; }
  void SetAutoConvert(bool value);
  std::int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(std::int32_t value);
  stream::TMMBits BitLength() const { return bitLength_; }
  void SetBitLength(stream::TMMBits value);
  stream::TMMMode Mode() const { return mode_; }
  void SetMode(stream::TMMMode value);
  TMMRequiredParams Required() const { return required_; }
  void SetRequired(TMMRequiredParams value);

 protected:
  void ComputeOutputFormat() override;

 private:
  void ParametersChanged();

  bool autoConvert_ = true;
  std::int32_t sampleRate_ = kDefaultSampleRate;
  stream::TMMBits bitLength_ = stream::b8Bit;
  stream::TMMMode mode_ = stream::mMono;
  TMMRequiredParams required_ = rpBits | rpChannels | rpSampleRate;
};

}  // namespace sources
