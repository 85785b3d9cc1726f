#include "stream/DSPComponent.h"

#include <algorithm>
#include <mutex>

#include "stream/TimeConversions.h"

namespace stream {
namespace {

// The process-wide list of live components. Linking reads the links of every component, so a
// link change holds this lock from start to end: chains built on different threads (the
// command-line converter builds one per job) never see each other's links half-changed. A
// component is listed from its base constructor to the end of its base destructor, so the list
// may hold components that another thread is still constructing or already destroying: link
// changes call only the base class's LinkChanging on them, which reads and writes base fields
// (all written under this lock), never a virtual function. This is the one lock that chains on
// different threads need.
std::recursive_mutex& ListMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}
std::vector<TMMDSPComponent*>& List() {
  static std::vector<TMMDSPComponent*> list;
  return list;
}

std::string CutLinkName(std::string_view name) {
  return std::string(name.substr(0, kMaxLinkNameLength));
}

}  // namespace

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {
  std::lock_guard lock(ListMutex());
  List().push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  Destroying();
  SetInput(nullptr);
  SetOutput(nullptr);
  SetPWaveFormat(nullptr);
  std::lock_guard lock(ListMutex());
  auto& list = List();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::vector<TMMDSPComponent*> TMMDSPComponent::ComponentList() {
  std::lock_guard lock(ListMutex());
  return List();
}

// ---- links ----

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
  std::lock_guard lock(ListMutex());
  if (value == input_) return;
  if (value != nullptr && !CanConnectInput(value)) return;
  Stop();
  if (input_ != nullptr) {
    NotifyLinkChange(this, false, "Input");
    SetInputLink(nullptr, "");
    InputFormatChanged(nullptr);
  }
  if (value == nullptr) return;
  NotifyLinkChange(value, true, "Output");
  SetInputLink(value, "Output");
  value->SetOutputLink(this, "Input");
  UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
  std::lock_guard lock(ListMutex());
  if (value == output_) return;
  if (value != nullptr && !CanConnectOutput(value)) return;
  Stop();
  if (output_ != nullptr) {
    NotifyLinkChange(this, true, "Output");
    output_->InputFormatChanged(nullptr);
    SetOutputLink(nullptr, "");
  }
  if (value == nullptr) return;
  NotifyLinkChange(value, false, "Input");
  SetOutputLink(value, "Input");
  value->SetInputLink(this, "Output");
  UpdateFormat();
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, std::string_view name) {
  input_ = component;
  inputLinkName_ = CutLinkName(name);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, std::string_view name) {
  output_ = component;
  outputLinkName_ = CutLinkName(name);
}

void TMMDSPComponent::NotifyLinkChange(TMMDSPComponent* sender, bool inputSide,
                                       std::string_view propName) {
  std::lock_guard lock(ListMutex());
  // The list holds components that other threads may still be constructing or destroying, so
  // their virtual functions must not be called: the link check reads base fields only.
  for (TMMDSPComponent* c : List()) c->TMMDSPComponent::LinkChanging(sender, inputSide, propName);
}

bool TMMDSPComponent::FindLinkProperty(std::string_view name, TMMDSPComponent*& value) const {
  // A dying component answers for its unpublished links too, so that a neighbour linked to it
  // through AllowInputLink/AllowOutputLink forgets it instead of keeping a dangling link.
  const bool dying = InState(csDestroying);
  if (name == "Input" && (dying || PublishesInput())) {
    value = GetInput();
    return true;
  }
  if (name == "Output" && (dying || PublishesOutput())) {
    value = GetOutput();
    return true;
  }
  return false;
}

void TMMDSPComponent::LinkChanging(TMMDSPComponent* sender, bool inputSide,
                                   std::string_view propName) {
  TMMDSPComponent* back = nullptr;
  if (inputSide) {
    if (input_ == sender && inputLinkName_ == propName &&
        sender->FindLinkProperty(propName, back) && back == this) {
      SetInputLink(nullptr, "");
    }
  } else {
    if (output_ == sender && outputLinkName_ == propName &&
        sender->FindLinkProperty(propName, back) && back == this) {
      SetOutputLink(nullptr, "");
    }
  }
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* component) {
  if (component == nullptr || component == this) return false;
  if (!component->PublishesOutput() && !component->AllowOutputLink) return false;
  return output_ == nullptr || output_->CanConnectInput(component);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* component) {
  if (component == nullptr || component == this) return false;
  if (!component->PublishesInput() && !component->AllowInputLink) return false;
  return input_ == nullptr || input_->CanConnectOutput(component);
}

void TMMDSPComponent::Notification(TComponent* component, TOperation operation) {
  TMMCustomDSPComponent::Notification(component, operation);
  if (operation != TOperation::opRemove || component == nullptr) return;
  if (component == input_) {
    SetInput(nullptr);
  } else if (component == output_) {
    SetOutput(nullptr);
  }
}

// ---- format ----

void TMMDSPComponent::SetPWaveFormat(const TWaveFormatEx* format) {
  if (format != format_.get()) {
    if (started_) Stop();
    format_ = CopyWaveFormat(format);
  }
  if (!LoadingOrDestroying() && output_ != nullptr) output_->InputFormatChanged(format_.get());
}

void TMMDSPComponent::InputFormatChanged(const TWaveFormatEx* format) {
  SetPWaveFormat(format);
}

void TMMDSPComponent::UpdateFormat() {
  if (LoadingOrDestroying()) return;
  if (input_ != nullptr) {
    InputFormatChanged(input_->GetPWaveFormat());
  } else if (output_ != nullptr) {
    output_->InputFormatChanged(GetPWaveFormat());
  }
}

void TMMDSPComponent::Loaded() {
  TMMCustomDSPComponent::Loaded();
  SetPWaveFormat(format_.get());
}

// ---- buffer size and lifecycle ----

std::int32_t TMMDSPComponent::GetBufferSize() const {
  return opened_ ? realBufferSize_ : bufferSize_;
}

void TMMDSPComponent::SetBufferSize(std::int32_t value) {
  if (value == bufferSize_) return;
  if (started_) Stop();
  bufferSize_ = value;
}

void TMMDSPComponent::Open() {
  if (opened_) return;
  const TWaveFormatEx* format = GetPWaveFormat();
  // A block holds whole sample frames, at least one. A format without a block size (0) would
  // divide by zero; such a format keeps the requested size.
  if (format != nullptr && format->nBlockAlign != 0) {
    const std::int32_t align = format->nBlockAlign;
    realBufferSize_ = Max(bufferSize_ - (bufferSize_ % align), align);
  } else {
    realBufferSize_ = bufferSize_;
  }
  opened_ = true;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Close() {
  opened_ = false;
}

void TMMDSPComponent::Start() {
  if (opened_) started_ = true;
}

void TMMDSPComponent::Pause() {
  paused_ = true;
}

void TMMDSPComponent::Restart() {
  paused_ = false;
}

void TMMDSPComponent::Stop() {
  if (!started_) return;
  started_ = false;
  paused_ = false;
}

// ---- data path ----

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (output_ != nullptr) output_->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (input_ != nullptr) input_->BufferLoad(lpWaveHdr, MoreBuffers);
}

}  // namespace stream
