// The stream component: one Input and one Output link, an owned wave format that travels
// downstream, the lifecycle flags, and the pull (BufferLoad) and push (BufferReady) of blocks.
// Threading: linking, formats, BufferSize and the lifecycle operations on the main thread;
// BufferLoad and BufferReady on the thread that the driving sound component moves blocks on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "stream/MMComponent.h"
#include "stream/MMTypes.h"
#include "stream/WaveFormat.h"

namespace stream {

constexpr std::int32_t kDefaultBufferSize = 2048;
constexpr std::size_t kMaxLinkNameLength = 20;

class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  explicit TMMDSPComponent(TComponent* owner);
  ~TMMDSPComponent() override;

  // Links. Writing runs the linking algorithm; refused links are ignored silently.
  virtual void SetInput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetInput() const { return input_; }
  virtual void SetOutput(TMMDSPComponent* value);
  virtual TMMDSPComponent* GetOutput() const { return output_; }

  // The own copy of the wave format (null when none). Writing copies and propagates.
  virtual void SetPWaveFormat(const TWaveFormatEx* format);
  virtual const TWaveFormatEx* GetPWaveFormat() const { return format_.get(); }

  // RealBufferSize while opened, else the requested size.
  virtual std::int32_t GetBufferSize() const;
  virtual void SetBufferSize(std::int32_t value);
  std::int32_t RealBufferSize() const { return realBufferSize_; }

  virtual void InputFormatChanged(const TWaveFormatEx* format);
  virtual void UpdateFormat();

  // Lifecycle; the plain versions only keep the flags.
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();
  virtual void Reset() {}
  virtual void NotifyLoop() {}

  bool Opened() const { return opened_; }
  bool Started() const { return started_; }
  bool Paused() const { return paused_; }

  // Push a filled block downstream / pull a block from upstream.
  virtual void BufferReady(PWaveHdr lpWaveHdr);
  virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);

  // Whether `component` may become this one's Input (Output): not self, it must offer the
  // opposite link, and it must not already sit downstream (upstream), which would close a loop.
  virtual bool CanConnectInput(TMMDSPComponent* component);
  virtual bool CanConnectOutput(TMMDSPComponent* component);

  // Published link properties as the form system sees them. Descendants that publish Input or
  // Output say so in their constructor with PublishLinks; LinkChanging and CanConnect look the
  // links up by name through these. They are plain fields, not virtual functions, because a
  // dying component unlinks itself in the base destructor, where overrides no longer apply.
  bool PublishesInput() const { return publishesInput_; }
  bool PublishesOutput() const { return publishesOutput_; }
  // The value of the published link property `name`; false when there is no such property.
  virtual bool FindLinkProperty(std::string_view name, TMMDSPComponent*& value) const;

  const std::string& InputLinkName() const { return inputLinkName_; }
  const std::string& OutputLinkName() const { return outputLinkName_; }

  // Lets a composite take an inner component as Input (Output) without publishing the link.
  bool AllowInputLink = false;
  bool AllowOutputLink = false;

  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

  // Every live stream component, oldest first.
  static std::vector<TMMDSPComponent*> ComponentList();

 protected:
  // Called on every live component when a link is about to change (see NotifyLinkChange, which
  // calls this base version: the list also holds components under construction).
  virtual void LinkChanging(TMMDSPComponent* sender, bool inputSide, std::string_view propName);
  // Only store the reference and the name (cut to 20 characters).
  virtual void SetInputLink(TMMDSPComponent* component, std::string_view name);
  virtual void SetOutputLink(TMMDSPComponent* component, std::string_view name);
  // Calls LinkChanging on every live component in list order.
  static void NotifyLinkChange(TMMDSPComponent* sender, bool inputSide, std::string_view propName);

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  void PublishLinks(bool input, bool output) {
    publishesInput_ = input;
    publishesOutput_ = output;
  }

  bool LoadingOrDestroying() const { return InState(csLoading | csReading | csDestroying); }

  bool opened_ = false;
  bool started_ = false;
  bool paused_ = false;

 private:
  TMMDSPComponent* input_ = nullptr;   // not owned
  TMMDSPComponent* output_ = nullptr;  // not owned
  WaveFormatPtr format_;
  std::int32_t bufferSize_ = kDefaultBufferSize;
  std::int32_t realBufferSize_ = kDefaultBufferSize;
  std::string inputLinkName_;
  std::string outputLinkName_;
  bool publishesInput_ = false;
  bool publishesOutput_ = false;
};

}  // namespace stream
