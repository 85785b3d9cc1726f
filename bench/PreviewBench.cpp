// The preview as the window runs it: the main window on Qt's offscreen platform, its player on
// the null device (real-time pace), the connector and both level meters. Plays IN.mp3 once from
// a click on the play button to its end and prints key=value lines: the process CPU time spent
// meanwhile as a share of one core (decoding, connector loop and meters included), and the time
// from the click to the first buffer written to the device.
// Usage: preview_bench FOLDER FILE   (FILE is the name of an MP3 inside FOLDER)
#include <sys/resource.h>

#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>

#include "app/Application.h"
#include "app/Funcoes.h"
#include "app/MainForm.h"
#include "app/Outline.h"
#include "playback/AudioPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct CpuTime {
  double user = 0;
  double system = 0;
};

CpuTime CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return {usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
          usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER FILE\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QD_WAVE_DEVICE", "null");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  app::GravarRegistro(app::kSettingsKey, "Origem", argv[1], app::kKindString);
  app::GravarRegistro(app::kSettingsKey, "Destino", config.path().toStdString() + "/",
                      app::kKindString);
  app::TApplication application(argc, argv);
  app::TForm1 form;
  form.show();

  auto* tree = form.findChild<app::TOutline*>("Outline1");
  auto* play = form.findChild<QPushButton*>("BitBtn1");
  auto* stop = form.findChild<QPushButton*>("BitBtn2");
  const QList<QTreeWidgetItem*> items = tree->findItems(argv[2], Qt::MatchExactly);
  if (items.isEmpty()) {
    std::fprintf(stderr, "%s is not in %s\n", argv[2], argv[1]);
    return 1;
  }
  tree->setCurrentItem(items.front());
  emit tree->click();  // as a click on the line
  if (!play->isEnabled()) {
    std::fprintf(stderr, "the preview did not load %s\n", argv[2]);
    return 1;
  }

  Clock::time_point firstBuffer{};
  form.Player().WaveOut()->OnBufferFilled = [&](stream::TObject*, stream::PWaveHdr) {
    if (firstBuffer == Clock::time_point{}) firstBuffer = Clock::now();
  };
  const CpuTime cpu0 = CpuSeconds();
  const Clock::time_point start = Clock::now();
  play->click();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!stop->isEnabled()) QCoreApplication::quit();
  });
  watch.start(100);
  application.exec();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const CpuTime cpu1 = CpuSeconds();
  const double user = cpu1.user - cpu0.user;
  const double system = cpu1.system - cpu0.system;
  std::printf(
      "wall_s=%.2f\nuser_s=%.3f\nsystem_s=%.3f\ncpu_share_percent=%.2f\n"
      "click_to_first_buffer_ms=%.1f\n",
      wall, user, system, 100.0 * (user + system) / wall,
      std::chrono::duration<double, std::milli>(firstBuffer - start).count());
  return 0;
}
