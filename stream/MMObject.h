// Base of the library's persistent objects: an update counter that holds back change
// notifications while updates are under way.
// Threading: the thread that owns the object.
#pragma once

#include <cstdint>
#include <functional>

#include "stream/Object.h"

namespace stream {

class TMMObject : public TObject {
 public:
  using ChangeEvent = std::function<void(TObject* Sender)>;
  using IndexedChangeEvent = std::function<void(TObject* Sender, int Index)>;

  void BeginUpdate();
  void EndUpdate();
  std::int32_t UpdateCount() const { return updateCount_; }

  ChangeEvent OnChange;
  IndexedChangeEvent OnChangeIndexed;

 protected:
  // Called with true when BeginUpdate leaves 0 and with false when EndUpdate returns to 0.
  virtual void Changed(bool /*Flag*/) {}
  // Raise the notifications unless an update is under way.
  void DoChange();
  void DoChangeIndexed(int index);

 private:
  std::int32_t updateCount_ = 0;
};

}  // namespace stream
