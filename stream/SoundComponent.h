// A sound component drives a chain: it opens, starts, pauses, restarts, stops and closes the
// plain components of its section and gives them its block size.
// Threading: main thread (the chain's lifecycle operations).
#pragma once

#include <cstdint>
#include <string>

#include "stream/DSPComponent.h"

namespace stream {

class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  // Chain walks, upstream first; each ends with this component's own plain operation.
  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void Reset() override;
  void NotifyLoop() override;

  // Set by Open when another sound component drives the chain upstream of this one.
  bool HasUpstreamDriver() const { return hasUpstreamDriver_; }

  virtual void SetNumBuffers(std::int32_t value) = 0;
  virtual std::int32_t GetNumBuffers() const = 0;
  virtual void SetDeviceID(TMMDeviceId value) = 0;
  virtual TMMDeviceId GetDeviceID() const = 0;
  virtual void SetProductName(const std::string& value) = 0;
  virtual std::string GetProductName() const = 0;
  virtual void SetCallBackMode(TMMCBMode value) = 0;
  virtual TMMCBMode GetCallBackMode() const = 0;

 protected:
  using Operation = void (TMMDSPComponent::*)();

  // The component the walks start from: the head of the chain, or this component when another
  // sound component sits upstream (then *upstreamDriver is set).
  TMMDSPComponent* StartPoint(bool* upstreamDriver = nullptr) const;
  // From the start point down: every plain component gets `op`, this one is skipped, and the
  // first sound component below this one gets `op` too and ends the walk.
  void WalkDown(Operation op);
  // Close and Stop: the first sound component below this one first, then the plain components
  // from the start point down to the first other sound component.
  void WalkDownstreamDriverFirst(Operation op);

 private:
  bool hasUpstreamDriver_ = false;
};

// A sound component that plays through a device; the device supplies these operations.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;

  // Playing position in the component's time format.
  virtual std::int64_t GetPosition() = 0;
  // Drops the queued buffers and refills them from the source (after a jump or a wrap).
  virtual void ResetBuffers() = 0;
};

bool IsSoundComponent(const TMMDSPComponent* component);

}  // namespace stream
