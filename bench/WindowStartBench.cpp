// Time from the start of the window program to the main window's first paint: the application
// object, the main window with its settings and lists, the about window, then show() and the
// event loop until Form1 has painted once. Prints key=value lines; run it under a real X server
// (xvfb-run) through run-window-bench.sh.
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/MainForm.h"

namespace {

using Clock = std::chrono::steady_clock;

// Stops the event loop at the watched window's first paint.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted) {
      painted = true;
      at = Clock::now();
      QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
    }
    return QObject::eventFilter(watched, event);
  }
  bool painted = false;
  Clock::time_point at;
};

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point start = Clock::now();
  app::TApplication application(argc, argv);
  const Clock::time_point appReady = Clock::now();
  app::TForm1 form;
  app::Tform_about about;
  form.SetAboutForm(&about);
  const Clock::time_point windowsCreated = Clock::now();
  FirstPaint watcher;
  form.installEventFilter(&watcher);
  form.show();
  QTimer::singleShot(10000, qApp, [] { QCoreApplication::quit(); });
  application.exec();
  if (!watcher.painted) {
    std::fprintf(stderr, "the window did not paint within 10 s\n");
    return 1;
  }
  std::printf("application_ms=%.1f\nwindows_created_ms=%.1f\nfirst_paint_ms=%.1f\n",
              Ms(start, appReady), Ms(start, windowsCreated), Ms(start, watcher.at));
  return 0;
}
