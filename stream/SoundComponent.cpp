#include "stream/SoundComponent.h"

namespace stream {

bool IsSoundComponent(const TMMDSPComponent* component) {
  return dynamic_cast<const TMMCustomSoundComponent*>(component) != nullptr;
}

TMMDSPComponent* TMMCustomSoundComponent::StartPoint(bool* upstreamDriver) const {
  if (upstreamDriver != nullptr) *upstreamDriver = false;
  TMMDSPComponent* head = const_cast<TMMCustomSoundComponent*>(this);
  while (TMMDSPComponent* up = head->GetInput()) {
    if (up == this) break;  // links never form a loop; stay safe if one was forced
    if (IsSoundComponent(up)) {
      if (upstreamDriver != nullptr) *upstreamDriver = true;
      return const_cast<TMMCustomSoundComponent*>(this);
    }
    head = up;
  }
  return head;
}

void TMMCustomSoundComponent::WalkDown(Operation op) {
  for (TMMDSPComponent* c = StartPoint(); c != nullptr; c = c->GetOutput()) {
    if (c == this) continue;
    (c->*op)();
    if (IsSoundComponent(c)) break;
  }
}

void TMMCustomSoundComponent::WalkDownstreamDriverFirst(Operation op) {
  for (TMMDSPComponent* c = GetOutput(); c != nullptr && c != this; c = c->GetOutput()) {
    if (IsSoundComponent(c)) {
      (c->*op)();
      break;
    }
  }
  for (TMMDSPComponent* c = StartPoint(); c != nullptr; c = c->GetOutput()) {
    if (c == this) continue;
    if (IsSoundComponent(c)) break;
    (c->*op)();
  }
}

void TMMCustomSoundComponent::Open() {
  TMMDSPComponent* start = StartPoint(&hasUpstreamDriver_);
  const std::int32_t size = GetBufferSize();
  for (TMMDSPComponent* c = start; c != nullptr; c = c->GetOutput()) {
    if (c == this) continue;
    c->SetBufferSize(size);
    c->Open();
    if (IsSoundComponent(c)) break;
  }
  TMMDSPComponent::Open();
}

void TMMCustomSoundComponent::Close() {
  WalkDownstreamDriverFirst(&TMMDSPComponent::Close);
  TMMDSPComponent::Close();
}

void TMMCustomSoundComponent::Stop() {
  WalkDownstreamDriverFirst(&TMMDSPComponent::Stop);
  TMMDSPComponent::Stop();
}

void TMMCustomSoundComponent::Start() {
  WalkDown(&TMMDSPComponent::Start);
  TMMDSPComponent::Start();
}

void TMMCustomSoundComponent::Pause() {
  WalkDown(&TMMDSPComponent::Pause);
  TMMDSPComponent::Pause();
}

void TMMCustomSoundComponent::Restart() {
  WalkDown(&TMMDSPComponent::Restart);
  TMMDSPComponent::Restart();
}

void TMMCustomSoundComponent::Reset() {
  WalkDown(&TMMDSPComponent::Reset);
  TMMDSPComponent::Reset();
}

void TMMCustomSoundComponent::NotifyLoop() {
  WalkDown(&TMMDSPComponent::NotifyLoop);
  TMMDSPComponent::NotifyLoop();
}

}  // namespace stream
