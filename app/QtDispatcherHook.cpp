#include "app/QtDispatcherHook.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/Dispatcher.h"

namespace app {

void QtDispatcherHook::Schedule(const std::shared_ptr<State>& state) {
  if (state->scheduled.exchange(true)) return;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [state] {
        // Cleared first: work queued while these messages run schedules the next call.
        state->scheduled.store(false);
        if (state->alive.load()) platform::Dispatcher::Instance().ProcessMessages();
      },
      Qt::QueuedConnection);
}

QtDispatcherHook::QtDispatcherHook() {
  std::weak_ptr<State> weak = state_;
  platform::Dispatcher::Instance().SetWakeHook([weak] {
    if (const std::shared_ptr<State> state = weak.lock()) Schedule(state);
  });
  Schedule(state_);  // work queued before the hook existed
}

QtDispatcherHook::~QtDispatcherHook() {
  platform::Dispatcher::Instance().SetWakeHook({});
  state_->alive.store(false);
}

}  // namespace app
