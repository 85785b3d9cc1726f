#include "stream/MMObject.h"

namespace stream {

void TMMObject::BeginUpdate() {
  if (updateCount_ == 0) Changed(true);
  ++updateCount_;
}

void TMMObject::EndUpdate() {
  if (updateCount_ == 0) return;  // unbalanced call: nothing to end
  if (--updateCount_ == 0) Changed(false);
}

void TMMObject::DoChange() {
  if (updateCount_ == 0 && OnChange) OnChange(this);
}

void TMMObject::DoChangeIndexed(int index) {
  if (updateCount_ == 0 && OnChangeIndexed) OnChangeIndexed(this, index);
}

}  // namespace stream
