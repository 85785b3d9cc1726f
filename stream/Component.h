// Component base: an owner that destroys what it owns, a name, the component state flags, an
// after-load hook and removal notifications to the other components of the owner.
// Threading: main thread. A component given an owner must be created with `new`; the owner
// deletes it. A component without an owner belongs to whoever created it.
#pragma once

#include <string>
#include <vector>

#include "stream/Object.h"

namespace stream {

enum TComponentStateFlag : unsigned {
  csLoading = 1u << 0,     // properties are being restored; Loaded() follows
  csReading = 1u << 1,     // properties are being read from a stored form
  csDestroying = 1u << 2,  // the destructor has begun
  csDesigning = 1u << 3,   // the component sits in a designer, not in a running program
};

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  unsigned ComponentState() const { return state_; }
  bool InState(unsigned flags) const { return (state_ & flags) != 0; }
  const std::vector<TComponent*>& Components() const { return components_; }

  // Restoring stored properties: BeginLoading sets csLoading and csReading, EndLoading clears
  // them and runs Loaded().
  void BeginLoading();
  void EndLoading();
  // Sets csDestroying. Destructors of descendants call it first, so that everything they run
  // while tearing down already sees the flag.
  void Destroying() { state_ |= csDestroying; }
  void SetDesigning(bool value);

 protected:
  // After-load hook: runs when loading ends.
  virtual void Loaded() {}
  // Called on every component of an owner when one of them is inserted or removed.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_ = nullptr;          // not owned
  std::vector<TComponent*> components_;  // owned
  std::string name_;
  unsigned state_ = 0;
};

}  // namespace stream
