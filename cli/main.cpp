// quelbarin-convert: converts MP3 (and WAVE) files to PCM WAVE files from the command line.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Batch.h"
#include "cli/FileConverter.h"
#include "cli/JobList.h"
#include "cli/LibraryMessages.h"
#include "cli/Options.h"
#include "cli/ProgressBar.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnSignal(int) {
  gInterrupted = true;
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Repeated signals change nothing: the running conversions stop at their next block anyway,
  // and a second signal often comes with the first (one to the process, one to its group).
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", cli::kProgramName,
               message.c_str(), cli::kProgramName);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const cli::ParsedCommandLine parsed =
      cli::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return UsageError(parsed.error);
  const cli::Options& options = parsed.options;
  if (options.help) {
    std::fputs(cli::UsageText().c_str(), stdout);
    return 0;
  }
  if (options.inputs.empty()) {
    std::fputs(cli::UsageText().c_str(), stderr);
    return kExitUsage;
  }

  InstallSignalHandlers();
  cli::InstallLibraryMessageReporter();

  const std::vector<cli::Job> jobs = cli::BuildJobList(options.inputs, options.outputDir);
  if (gInterrupted) return kExitInterrupted;
  if (jobs.empty()) {
    std::fprintf(stderr, "%s: no audio files found\n", cli::kProgramName);
    return 0;
  }

  unsigned workers = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
  if (workers == 0) workers = 1;

  cli::FileConverter converter;
  converter.SetCancelFlag(&gInterrupted);

  std::optional<cli::ProgressBar> bar;
  if (!options.quiet && ::isatty(STDERR_FILENO)) bar.emplace(STDERR_FILENO);

  cli::BatchCallbacks callbacks;
  callbacks.onResult = [&](const cli::Job& job, const cli::ConversionResult& result) {
    if (result.status == cli::ConversionResult::kFailed) {
      if (bar) bar->Clear();
      std::fprintf(stderr, "%s: %s: %s\n", cli::kProgramName, job.source.c_str(),
                   result.reason.c_str());
    } else if (result.status == cli::ConversionResult::kConverted && options.verbose) {
      if (bar) bar->Clear();
      std::fprintf(stdout, "%s -> %s\n", job.source.c_str(), job.destination.c_str());
      std::fflush(stdout);
    }
  };
  if (bar) callbacks.onTick = [&](const cli::BatchProgress& progress) { bar->Update(progress); };

  const std::size_t failed = cli::RunBatch(jobs, workers, converter, &gInterrupted, callbacks);
  bar.reset();
  if (gInterrupted) {
    std::fprintf(stderr, "%s: interrupted\n", cli::kProgramName);
    return kExitInterrupted;
  }
  return failed != 0 ? kExitFailed : 0;
}
