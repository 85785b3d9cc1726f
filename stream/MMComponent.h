// The library's component layers between the component base and the stream component.
#pragma once

#include "stream/Component.h"

namespace stream {

class TMMComponent : public TComponent {
 public:
  using TComponent::TComponent;

  // Calls ApplyDesigning only when `value` differs from the design-time flag.
  virtual void ChangeDesigning(bool value) {
    if (value != InState(csDesigning)) ApplyDesigning(value);
  }
  virtual void ApplyDesigning(bool value) { SetDesigning(value); }
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
};

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  using TMMNonVisualComponent::TMMNonVisualComponent;
};

}  // namespace stream
