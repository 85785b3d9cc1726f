// Test doubles for stream chains: a plain component and a driving sound component that publish
// both links, count their Stop calls and append "Name.Op" to a shared log for every lifecycle
// operation once it has run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/SoundComponent.h"

namespace stream {

using CallLog = std::vector<std::string>;

inline TWaveFormatEx PcmFormat(std::uint32_t rate = 44100, std::uint16_t channels = 2,
                               std::uint16_t bits = 16) {
  const auto align = static_cast<std::uint16_t>(channels * bits / 8);
  return TWaveFormatEx{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// A driver without a device: the device accessors do nothing.
class DeviceLessSound : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;
  void SetNumBuffers(std::int32_t) override {}
  std::int32_t GetNumBuffers() const override { return 0; }
  void SetDeviceID(TMMDeviceId) override {}
  TMMDeviceId GetDeviceID() const override { return MapperId; }
  void SetProductName(const std::string&) override {}
  std::string GetProductName() const override { return {}; }
  void SetCallBackMode(TMMCBMode) override {}
  TMMCBMode GetCallBackMode() const override { return cmWindow; }
};

template <class Base>
class Recording : public Base {
 public:
  explicit Recording(const std::string& name, CallLog* log = nullptr, TComponent* owner = nullptr)
      : Base(owner), log_(log) {
    this->SetName(name);
    this->PublishLinks(true, true);
  }

  int stops = 0;

  using Base::Notification;
  using Base::PublishLinks;

  void Open() override {
    Base::Open();
    Note("Open");
  }
  void Close() override {
    Base::Close();
    Note("Close");
  }
  void Start() override {
    Base::Start();
    Note("Start");
  }
  void Pause() override {
    Base::Pause();
    Note("Pause");
  }
  void Restart() override {
    Base::Restart();
    Note("Restart");
  }
  void Reset() override {
    Base::Reset();
    Note("Reset");
  }
  void NotifyLoop() override {
    Base::NotifyLoop();
    Note("NotifyLoop");
  }
  void Stop() override {
    ++stops;
    Base::Stop();
    Note("Stop");
  }

 private:
  void Note(const char* op) {
    if (log_ != nullptr) log_->push_back(this->Name() + "." + op);
  }
  CallLog* log_;
};

using TestComponent = Recording<TMMDSPComponent>;
using TestDriver = Recording<DeviceLessSound>;

}  // namespace stream
