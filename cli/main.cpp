// quelbarin-convert: converts MP3 (and WAVE) files to PCM WAVE files from the command line.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Batch.h"
#include "cli/FileConverter.h"
#include "cli/FileCopier.h"
#include "cli/FileList.h"
#include "cli/JobList.h"
#include "cli/LibraryMessages.h"
#include "cli/Options.h"
#include "cli/ProgressBar.h"
#include "cli/Report.h"
#include "cli/Shard.h"
#include "cli/Summary.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Set by the first signal that ends the run; the conversions stop at their next block.
std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "set from a signal handler");

extern "C" void OnSignal(int signal) {
  int none = 0;
  gSignal.compare_exchange_strong(none, signal);
  gInterrupted = true;
}

// The signals that end a run the way an interrupt does, partial files removed: a closed
// terminal (SIGHUP), a reader that went away (SIGPIPE, as in "| head"), and a file size limit
// (SIGXFSZ; the write that passed it then fails and the file is dropped).
void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Repeated signals change nothing: the running conversions stop at their next block anyway,
  // and a second signal often comes with the first (one to the process, one to its group).
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
    sigaction(signal, &action, nullptr);
  }
}

// 128 + the signal's number, as a shell reports a program that the signal ended.
int InterruptedStatus() {
  return 128 + gSignal.load();
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", cli::kProgramName,
               message.c_str(), cli::kProgramName);
  return kExitUsage;
}

// The files named on the command line, then those of --files-from; an error text when the list
// cannot be read.
std::string CollectInputs(const cli::Options& options, std::vector<std::filesystem::path>& inputs) {
  inputs = options.inputs;
  if (!options.filesFrom) return {};
  cli::FileListRead list =
      cli::ReadFileList(*options.filesFrom, options.nullSeparated ? '\0' : '\n');
  inputs.insert(inputs.end(), list.paths.begin(), list.paths.end());
  return list.error;
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
  if (options.version) {
    std::fputs(cli::VersionText().c_str(), stdout);
    return 0;
  }
  if (options.inputs.empty() && !options.filesFrom) {
    std::fputs(cli::UsageText().c_str(), stderr);
    return kExitUsage;
  }

  InstallSignalHandlers();
  cli::InstallLibraryMessageReporter();

  std::vector<std::filesystem::path> inputs;
  if (const std::string error = CollectInputs(options, inputs); !error.empty()) {
    std::fprintf(stderr, "%s: %s\n", cli::kProgramName, error.c_str());
    return kExitUsage;
  }
  std::unique_ptr<cli::Report> report;
  if (options.report) {
    std::string error;
    report = cli::Report::Open(*options.report, error);
    if (!report) {
      std::fprintf(stderr, "%s: %s\n", cli::kProgramName, error.c_str());
      return kExitUsage;
    }
  }

  cli::ListingOptions listing;
  listing.outputDir = options.outputDir;
  listing.relativeTo = options.relativeTo;
  listing.copyOthers = options.copyOthers;
  // Another depth or a normalization changes plain PCM files too.
  listing.leavePlainPcm = options.output.depth == cli::OutputDepth::k16 &&
                          options.output.normalize.mode == cli::NormalizeSpec::kNone;
  std::vector<cli::Job> jobs = cli::BuildJobList(inputs, listing);
  if (gInterrupted) return InterruptedStatus();
  if (jobs.empty() && !options.filesFrom) {
    std::fprintf(stderr, "%s: no audio files found\n", cli::kProgramName);
    if (report) report->Totals({}, false);
    return 0;
  }
  // Another run takes the other shares; an empty share is a normal outcome.
  if (options.shard) jobs = cli::TakeShard(std::move(jobs), *options.shard);

  unsigned workers = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
  if (workers == 0) workers = 1;

  cli::FileConverter converter;
  converter.SetCancelFlag(&gInterrupted);
  converter.SetExistingFiles(options.existing);
  converter.SetOutputSettings(options.output);
  cli::FileCopier copier;
  copier.SetCancelFlag(&gInterrupted);
  copier.SetExistingFiles(options.existing);
  // Threads that have no file of their own help decode the running ones.
  cli::HelperPool pool(workers);
  converter.SetHelperPool(&pool);

  // The progress bar and the closing summary are for a person at a terminal; a report on
  // standard output takes the bar's place, and the per-file lines of -v move to standard error.
  const bool reportOnStdout = options.report && *options.report == "-";
  const bool terminal = !options.quiet && !reportOnStdout && ::isatty(STDERR_FILENO);
  std::FILE* const verboseOut = reportOnStdout ? stderr : stdout;
  std::optional<cli::ProgressBar> bar;
  if (terminal) bar.emplace(STDERR_FILENO);

  cli::BatchCallbacks callbacks;
  callbacks.onResult = [&](const cli::Job& job, const cli::ConversionResult& result) {
    if (result.status == cli::ConversionResult::kFailed) {
      if (bar) bar->Clear();
      std::fprintf(stderr, "%s: %s: %s\n", cli::kProgramName, job.source.c_str(),
                   result.reason.c_str());
    } else if (result.status == cli::ConversionResult::kConverted) {
      if (bar && (options.verbose || result.clipped != 0 || !result.notices.empty())) {
        bar->Clear();
      }
      for (const std::string& notice : result.notices) {
        std::fprintf(stderr, "%s: %s: %s\n", cli::kProgramName, job.source.c_str(), notice.c_str());
      }
      if (result.clipped != 0) {
        std::fprintf(stderr, "%s: %s: %lld samples clipped\n", cli::kProgramName,
                     job.source.c_str(), static_cast<long long>(result.clipped));
      }
      if (options.verbose) {
        std::fprintf(verboseOut, "%s -> %s%s%s%s%s%s%s\n", job.source.c_str(),
                     job.destination.c_str(), job.kind == cli::JobKind::kCopy ? " (copied)" : "",
                     result.gain.empty() ? "" : ", gain ", result.gain.c_str(),
                     result.gainReason.empty() ? "" : " (", result.gainReason.c_str(),
                     result.gainReason.empty() ? "" : ")");
        std::fflush(verboseOut);
      }
    } else if (result.status == cli::ConversionResult::kSkipped && options.verbose) {
      if (bar) bar->Clear();
      std::fprintf(verboseOut, "%s: skipped (%s)\n", job.source.c_str(), result.reason.c_str());
      std::fflush(verboseOut);
    }
  };
  if (report) {
    callbacks.onFinished = [&](const cli::Job& job, const cli::ConversionResult& result,
                               std::chrono::microseconds duration) {
      report->Record(job, result, duration);
    };
  }
  if (bar) callbacks.onTick = [&](const cli::BatchProgress& progress) { bar->Update(progress); };

  const cli::BatchSummary summary =
      cli::RunBatch(jobs, workers, converter, &gInterrupted, callbacks, &pool, &copier);
  bar.reset();
  if (report) {
    report->Totals(summary, gInterrupted);
    if (const int error = report->WriteError(); error != 0 && !gInterrupted) {
      std::fprintf(stderr, "%s: cannot write the report: %s\n", cli::kProgramName,
                   std::strerror(error));
      return kExitFailed;
    }
  }
  if (gInterrupted) {
    std::fprintf(stderr, "%s: interrupted\n", cli::kProgramName);
    return InterruptedStatus();
  }
  if (terminal)
    std::fprintf(stderr, "%s\n", cli::FormatSummary(summary, options.outputDir).c_str());
  return summary.failed != 0 ? kExitFailed : 0;
}
