#include "meters/ConnectorRegistry.h"

#include <QCoreApplication>
#include <algorithm>
#include <exception>

#include "meters/Connector.h"
#include "platform/ExceptionHandler.h"

namespace meters {

namespace {

// A round of the loop feeds every slice that fell due since the previous one, so it need not
// run more often than the eye follows a bar: 40 rounds a second, the period of the meters' peak
// timer. A meter then shows a slice at most 25 ms after it is heard, in one paint per round,
// and the main thread wakes 40 times a second for it instead of 1,000 (each wake and paint of
// the event loop costs more than the feeding itself). The 1 ms pace is kept for a connector
// without Synchronize, which has no due times to catch up on and shows one slice per round.
constexpr std::chrono::milliseconds kFrameInterval{25};
constexpr std::chrono::milliseconds kRoundPerSliceInterval{1};
// With an idle handler installed the loop runs whenever the event loop has nothing else to do.
constexpr std::chrono::milliseconds kIdleLoopInterval{0};

bool Terminating() {
  return QCoreApplication::instance() == nullptr || QCoreApplication::closingDown();
}

}  // namespace

bool ConnectorRegistry::Served(const TMMConnector& c) {
  return c.autoTrigger_ && c.enabled_ && c.state_ == TMMConnector::State::Running;
}

ConnectorRegistry& ConnectorRegistry::Instance() {
  static ConnectorRegistry registry;
  return registry;
}

ConnectorRegistry::ConnectorRegistry() : largestSpeed(TMMConnector::kMaxSpeed) {}

TMMConnector* ConnectorRegistry::Find(std::uint64_t id) const {
  for (TMMConnector* c : list) {
    if (c->id_ == id) return c;
  }
  return nullptr;
}

void ConnectorRegistry::RecomputeLargestSpeed() {
  largestSpeed = TMMConnector::kMinSpeed;
  for (const TMMConnector* c : list) largestSpeed = std::max(largestSpeed, c->speed_);
}

std::chrono::milliseconds ConnectorRegistry::LoopInterval() const {
  if (idleHandlerInstalled) return kIdleLoopInterval;
  const bool roundPerSlice = std::any_of(list.begin(), list.end(), [](const TMMConnector* c) {
    return Served(*c) && !c->synchronize_.load();
  });
  return roundPerSlice ? kRoundPerSliceInterval : kFrameInterval;
}

void ConnectorRegistry::InstallIdleHandler() {
  if (idleHandlerInstalled) return;
  idleHandlerInstalled = true;
  if (loop && loop->isActive()) StartLoop();
}

void ConnectorRegistry::RemoveIdleHandler() {
  if (!idleHandlerInstalled) return;
  idleHandlerInstalled = false;
  if (loop && loop->isActive()) StartLoop();
}

void ConnectorRegistry::StartLoop() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;  // no event loop to run in
  if (!loop) {
    loop = new QTimer(app);
    loop->setTimerType(Qt::PreciseTimer);
    QObject::connect(loop, &QTimer::timeout, app, [] { Instance().LoopPass(); });
  }
  // Setting the interval restarts the timer: only when it changes.
  const auto interval = LoopInterval();
  if (loop->intervalAsDuration() != interval) loop->setInterval(interval);
  if (!loop->isActive()) loop->start();
}

void ConnectorRegistry::StopLoop() {
  if (loop) loop->stop();
}

void ConnectorRegistry::StopLoopWhenIdle() {
  if (runningAutoTriggered <= 0 || Terminating() || list.empty()) StopLoop();
}

void ConnectorRegistry::LoopPass() {
  try {
    // Qt's loop serves pending events once between rounds; a lower Speed gives it more turns.
    for (std::int32_t i = largestSpeed; i < TMMConnector::kMaxSpeed; ++i) {
      QCoreApplication::processEvents();
    }
    if (runningAutoTriggered > 0 && !Terminating()) {
      std::vector<std::uint64_t> ids;
      ids.reserve(list.size());
      for (const TMMConnector* c : list) ids.push_back(c->id_);
      // A refresh may run handlers that destroy connectors: look each one up again.
      for (const std::uint64_t id : ids) {
        TMMConnector* c = Find(id);
        if (c != nullptr && Served(*c)) c->Refresh();
      }
    }
  } catch (...) {
    // Like a message handler that failed: reported, and the loop is not continued.
    StopLoop();
    platform::HandleException(std::current_exception());
    return;
  }
  StopLoopWhenIdle();
  if (loop && loop->isActive()) StartLoop();  // Synchronize may have changed
}

void ConnectorRegistry::WindowProc(const platform::Message& message) {
  ConnectorRegistry& r = Instance();
  TMMConnector* c = r.Find(static_cast<std::uint64_t>(message.lParam));
  if (c == nullptr) return;  // the connector is gone
  switch (message.id) {
    case TMMConnector::kStartMessage:
      c->HandleStartMessage();
      break;
    case TMMConnector::kTriggerMessage:
      // The count goes down whatever happens, so a dropped request never blocks the next.
      c->pendingTriggers_.fetch_sub(1);
      if (c->enabled_ && c->Running()) c->Refresh();
      break;
    default:
      break;
  }
}

}  // namespace meters
