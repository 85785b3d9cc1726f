// preview_play FILE: plays FILE once to its end on the default wave device, built as the window
// builds its preview (player with 30 buffers of 2048 bytes on the wave mapper, window callbacks,
// a connector feeding a left and a right level meter), on Qt's offscreen platform unless
// QT_QPA_PLATFORM names another. Prints one line: "result=ok" with the device, the play's wall
// time and this process's CPU time (user + system) over it, or "result=error" with the message.
// Exit status 0 after a whole play, 1 on an error, 2 on a usage error.
// Threading: everything on the main thread, inside Qt's event loop (the player's buffer
// completions reach it through the platform dispatcher).
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/MainForm.h"
#include "app/QtDispatcherHook.h"
#include "meters/Connector.h"
#include "meters/Level.h"
#include "platform/ExceptionHandler.h"
#include "playback/AudioPlayer.h"
#include "stream/Component.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Errors that escape an event handler end the play as a failure instead of a message box.
// Threading: ShowError on whichever thread handled the exception; Error on the main thread.
class QuitOnError : public platform::ErrorReporter {
 public:
  void ShowError(const std::string& text) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!error_) error_ = text;
    }
    QCoreApplication::exit(1);  // thread-safe
  }
  std::optional<std::string> Error() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

 private:
  std::mutex mutex_;
  std::optional<std::string> error_;
};

// The single line, with quotes and line breaks kept out of the quoted message.
std::string Quoted(std::string text) {
  for (char& c : text) {
    if (c == '"' || c == '\n' || c == '\r') c = ' ';
  }
  return '"' + text + '"';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  app::QtDispatcherHook dispatcherHook;
  QuitOnError reporter;
  platform::SetErrorReporter(&reporter);

  auto owner = std::make_unique<stream::TComponent>(nullptr);
  auto* player = new playback::TMMAudioPlayer(owner.get());
  player->SetBufferSize(app::TForm1::kPreviewBufferSize);
  player->SetNumBuffers(app::TForm1::kPreviewNumBuffers);
  player->SetDeviceID(stream::MapperId);
  player->SetCallBackMode(stream::cmWindow);
  auto* connector = new meters::TMMConnector(owner.get());
  player->SetOutput(connector);
  connector->SetEnterIdle(false);
  QWidget panel;
  panel.resize(254, 68);
  meters::TMMLevel* levels[2] = {};
  for (int i = 0; i < 2; ++i) {
    levels[i] = new meters::TMMLevel(&panel);
    levels[i]->setGeometry(50, i == 0 ? 14 : 44, 132, 10);  // as in the window
    levels[i]->SetChannel(i == 0 ? stream::chLeft : stream::chRight);
    levels[i]->SetMode(stream::mStereo);
    levels[i]->SetNumPeaks(2);
    levels[i]->SetDecayMode(meters::dmStepUp);
    levels[i]->SetDecay(8);
  }
  connector->SetLevel1(levels[0]);
  connector->SetLevel2(levels[1]);
  panel.show();

  bool stopped = false;
  player->OnStop = [&](stream::TObject*) {
    stopped = true;
    QCoreApplication::quit();
  };
  using Clock = std::chrono::steady_clock;
  Clock::time_point started;
  double cpuAtStart = 0;
  QTimer::singleShot(0, [&] {
    try {
      player->OpenFile(argv[1]);
      cpuAtStart = CpuSeconds();
      started = Clock::now();
      player->Play();
      // Play does nothing for a file it could not read.
      if (!player->Playing())
        reporter.ShowError(std::string("the player did not start ") + argv[1]);
    } catch (...) {
      reporter.ShowError(platform::ExceptionMessage(std::current_exception()));
    }
  });
  application.exec();
  const double wall = std::chrono::duration<double>(Clock::now() - started).count();
  const double cpu = CpuSeconds() - cpuAtStart;
  const std::string device = player->ProductName();

  player->OnStop = nullptr;
  try {
    player->StopPlayback();
  } catch (...) {
    reporter.ShowError(platform::ExceptionMessage(std::current_exception()));
  }
  connector->SetLevel1(nullptr);
  connector->SetLevel2(nullptr);
  owner.reset();
  platform::SetErrorReporter(nullptr);

  const std::optional<std::string> error = reporter.Error();
  if (error || !stopped) {
    std::printf("result=error message=%s\n",
                Quoted(error.value_or("the event loop ended before the play")).c_str());
    return 1;
  }
  std::printf("result=ok device=%s wall_s=%.3f cpu_s=%.3f cpu_percent=%.2f\n",
              Quoted(device).c_str(), wall, cpu, 100.0 * cpu / wall);
  return 0;
}
