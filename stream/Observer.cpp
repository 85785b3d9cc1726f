#include "stream/Observer.h"

#include <algorithm>

namespace stream {

TMMObservable::~TMMObservable() {
  for (TMMObserver* o : observers_) o->observable_ = nullptr;
}

void TMMObservable::AddObserver(TMMObserver* observer) {
  if (observer == nullptr) return;
  if (observer->observable_ != nullptr) observer->observable_->RemoveObserver(observer);
  observers_.push_back(observer);
  observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
  if (observer == nullptr || observer->observable_ != this) return;
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
  observer->observable_ = nullptr;
}

void TMMObservable::NotifyObservers(int data) {
  if (locked_ || observers_.empty()) return;
  // An observer may detach itself while it is told; walk a snapshot.
  const std::vector<TMMObserver*> snapshot(observers_);
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    if ((*it)->observable_ == this) (*it)->Update(data);
  }
}

TMMObserver::~TMMObserver() {
  if (observable_ != nullptr) observable_->RemoveObserver(this);
}

void TMMObserver::Update(int data) {
  if (!disabled_ && OnNotify) OnNotify(this, data);
}

}  // namespace stream
