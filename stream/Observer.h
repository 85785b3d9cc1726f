// Observers: an observable tells every attached observer about a change, last attached first.
// Threading: the thread that owns the observable.
#pragma once

#include <functional>
#include <vector>

namespace stream {

class TMMObserver;

class TMMObservable {
 public:
  TMMObservable() = default;
  ~TMMObservable();  // detaches every observer
  TMMObservable(const TMMObservable&) = delete;
  TMMObservable& operator=(const TMMObservable&) = delete;

  // Detaches `observer` from its previous observable and appends it here.
  void AddObserver(TMMObserver* observer);
  // Removes `observer` only when it is attached here.
  void RemoveObserver(TMMObserver* observer);
  // Calls Update(data) on every observer from the last to the first, unless locked.
  void NotifyObservers(int data);

  void SetLocked(bool locked) { locked_ = locked; }
  bool Locked() const { return locked_; }
  const std::vector<TMMObserver*>& Observers() const { return observers_; }

 private:
  std::vector<TMMObserver*> observers_;  // not owned
  bool locked_ = false;
};

class TMMObserver {
 public:
  using NotifyEvent = std::function<void(TMMObserver* Sender, int Data)>;

  TMMObserver() = default;
  virtual ~TMMObserver();  // detaches from its observable
  TMMObserver(const TMMObserver&) = delete;
  TMMObserver& operator=(const TMMObserver&) = delete;

  // Calls OnNotify(this, data) unless disabled.
  virtual void Update(int data);

  TMMObservable* Observable() const { return observable_; }
  bool Disabled() const { return disabled_; }
  void SetDisabled(bool disabled) { disabled_ = disabled; }

  NotifyEvent OnNotify;

 private:
  friend class TMMObservable;
  TMMObservable* observable_ = nullptr;  // not owned
  bool disabled_ = false;
};

}  // namespace stream
