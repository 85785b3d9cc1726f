// Time of one normalization pass over a WAV file, in place, as the window runs it: the same
// pass object and wave file components, with a host whose message pump does nothing.
//
// Usage: normalize_bench <file.wav>
// The file is normalized (rewritten) unless it is already at full scale. Prints key=value
// lines: seconds (the whole Normalize call, fsync and rename included), result, bytes,
// progress_updates and the caption the pass last set.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "app/NormalizationPass.h"
#include "wave/WaveFile.h"

namespace {

class QuietHost : public app::NormalizeHost {
 public:
  void SetGaugeCaption(const QString& caption) override { lastCaption = caption; }
  void SetGaugeProgress(int) override { ++progressUpdates; }
  void ProcessMessages() override {}
  void SetBusyCursor(bool) override {}

  QString lastCaption;
  long long progressUpdates = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: normalize_bench <file.wav>\n");
    return 2;
  }
  const std::string path = argv[1];
  wave::TMMWaveFile src(nullptr);
  wave::TMMWaveFile dst(nullptr);
  QuietHost host;
  app::TNormalizationPass pass(src, dst, host);
  try {
    const auto bytes = static_cast<long long>(std::filesystem::file_size(path));
    const auto start = std::chrono::steady_clock::now();
    const bool result = pass.Normalize(path);
    const auto end = std::chrono::steady_clock::now();
    std::printf("seconds=%.4f\nresult=%d\nbytes=%lld\nprogress_updates=%lld\ncaption=%s\n",
                std::chrono::duration<double>(end - start).count(), result ? 1 : 0, bytes,
                host.progressUpdates, host.lastCaption.toStdString().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
