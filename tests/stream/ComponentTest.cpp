#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "stream/Component.h"
#include "stream/MMObject.h"
#include "stream/Observer.h"

namespace stream {
namespace {

class ChangingObject : public TMMObject {
 public:
  void Touch() {
    DoChange();
    DoChangeIndexed(7);
  }
  std::vector<bool> changed;

 protected:
  void Changed(bool flag) override { changed.push_back(flag); }
};

TEST(MMObjectTest, UpdatesHoldBackChangeNotifications) {
  ChangingObject object;
  int changes = 0, index = -1;
  object.OnChange = [&](TObject*) { ++changes; };
  object.OnChangeIndexed = [&](TObject*, int i) { index = i; };

  object.BeginUpdate();
  object.BeginUpdate();
  object.Touch();
  object.EndUpdate();
  object.Touch();
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(index, -1);

  object.EndUpdate();
  object.Touch();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(index, 7);
  EXPECT_EQ(object.changed, (std::vector<bool>{true, false}));

  object.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(object.UpdateCount(), 0);
  EXPECT_EQ(object.changed.size(), 2u);
}

TEST(ObserverTest, ObserversAreToldLastAttachedFirst) {
  TMMObservable subject;
  TMMObserver first, second, third;
  std::vector<TMMObserver*> told;
  for (TMMObserver* o : {&first, &second, &third}) {
    o->OnNotify = [&](TMMObserver* sender, int data) {
      EXPECT_EQ(data, 42);
      told.push_back(sender);
    };
    subject.AddObserver(o);
  }
  third.OnNotify = [&](TMMObserver* sender, int) {
    told.push_back(sender);
    subject.RemoveObserver(sender);  // detaching while being told
  };

  subject.NotifyObservers(42);
  EXPECT_EQ(told, (std::vector<TMMObserver*>{&third, &second, &first}));

  told.clear();
  second.SetDisabled(true);
  subject.SetLocked(true);
  subject.NotifyObservers(42);
  EXPECT_TRUE(told.empty());
  subject.SetLocked(false);
  subject.NotifyObservers(42);
  EXPECT_EQ(told, (std::vector<TMMObserver*>{&first}));
}

TEST(ObserverTest, AnObserverBelongsToOneObservableAndDetachesWhenEitherSideDies) {
  TMMObserver survivor;
  {
    TMMObservable a, b;
    a.AddObserver(&survivor);
    b.AddObserver(&survivor);
    EXPECT_TRUE(a.Observers().empty());
    a.RemoveObserver(&survivor);  // not attached to a: nothing happens
    EXPECT_EQ(survivor.Observable(), &b);
    {
      TMMObserver shortLived;
      b.AddObserver(&shortLived);
    }
    EXPECT_EQ(b.Observers(), (std::vector<TMMObserver*>{&survivor}));
  }
  EXPECT_EQ(survivor.Observable(), nullptr);
}

class Probe : public TComponent {
 public:
  Probe(TComponent* owner, const std::string& name, std::vector<std::string>* log)
      : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~Probe() override { log_->push_back("~" + Name()); }

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) log_->push_back(Name() + " lost " + component->Name());
  }

 private:
  std::vector<std::string>* log_;
};

TEST(ComponentTest, AnOwnerDestroysWhatItOwnsAndTellsTheRestOfEachRemoval) {
  std::vector<std::string> log;
  auto owner = std::make_unique<Probe>(nullptr, "Owner", &log);
  auto* a = new Probe(owner.get(), "A", &log);
  auto* b = new Probe(owner.get(), "B", &log);
  auto* c = new Probe(owner.get(), "C", &log);
  EXPECT_EQ(b->Owner(), owner.get());

  delete b;
  EXPECT_EQ(log, (std::vector<std::string>{"~B", "A lost B", "C lost B", "Owner lost B"}));
  EXPECT_EQ(owner->Components(), (std::vector<TComponent*>{a, c}));

  log.clear();
  owner.reset();
  EXPECT_EQ(log, (std::vector<std::string>{"~Owner", "~C", "A lost C", "~A"}));
}

}  // namespace
}  // namespace stream
