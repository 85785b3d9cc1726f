#include "stream/Component.h"

#include <algorithm>

namespace stream {

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Owned components go last-created first; each one leaves this list as it is destroyed.
  while (!components_.empty()) delete components_.back();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::BeginLoading() {
  state_ |= csLoading | csReading;
}

void TComponent::EndLoading() {
  state_ &= ~(csLoading | csReading);
  Loaded();
}

void TComponent::SetDesigning(bool value) {
  if (value) {
    state_ |= csDesigning;
  } else {
    state_ &= ~csDesigning;
  }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // The owner passes every insertion and removal on to all the components it owns.
  for (TComponent* child : std::vector<TComponent*>(components_)) {
    if (child != component) child->Notification(component, operation);
  }
}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  Notification(component, TOperation::opRemove);
  components_.erase(std::remove(components_.begin(), components_.end(), component),
                    components_.end());
  component->owner_ = nullptr;
}

}  // namespace stream
