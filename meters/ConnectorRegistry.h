// What all connectors share: the live list, the hidden window, the refresh loop and its count of
// running auto-triggered connectors, the largest Speed, EnterIdle and the idle handler.
// Threading: main thread, except that the window handle and EnterIdle are read from any thread.
#pragma once

#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/Dispatcher.h"

namespace meters {

class TMMConnector;

struct ConnectorRegistry {
  std::vector<TMMConnector*> list;  // not owned
  std::atomic<platform::WindowHandle> window{platform::kNoWindow};
  std::int32_t runningAutoTriggered = 0;
  std::int32_t largestSpeed;
  std::atomic<bool> enterIdle{false};
  // The idle handler: while installed the loop timer fires whenever Qt's loop is idle.
  bool idleHandlerInstalled = false;
  QPointer<QTimer> loop;  // owned by the application object
  std::uint64_t nextId = 1;

  static ConnectorRegistry& Instance();

  ConnectorRegistry();
  TMMConnector* Find(std::uint64_t id) const;
  // Whether the loop refreshes `c`: running, enabled and auto-triggered.
  static bool Served(const TMMConnector& c);
  void RecomputeLargestSpeed();

  // The pause between two rounds of the loop, for what runs now.
  std::chrono::milliseconds LoopInterval() const;
  void InstallIdleHandler();
  void RemoveIdleHandler();
  // Starts the loop, or gives a running one the interval that fits what runs now.
  void StartLoop();
  void StopLoop();
  // Off when no running auto-triggered connector is left.
  void StopLoopWhenIdle();
  // One round of the refresh loop.
  void LoopPass();

  static void WindowProc(const platform::Message& message);
};

}  // namespace meters
