// The command line of the converter: options, file and folder arguments, and the usage text.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/FileConverter.h"
#include "cli/OutputSettings.h"
#include "cli/Shard.h"

namespace cli {

inline constexpr const char* kProgramName = "quelbarin-convert";

struct Options {
  std::optional<std::filesystem::path> outputDir;   // -o; beside each source when empty
  unsigned jobs = 0;                                // -j; 0: one per hardware thread
  bool quiet = false;                               // -q: no progress bar, no summary
  bool verbose = false;                             // -v: one line per converted file
  ExistingFiles existing = ExistingFiles::kRefuse;  // -f: kReplace, -n: kSkip
  OutputSettings output;                            // --bits, --normalize, --no-dither, --no-tags
  std::optional<ShardSpec> shard;                   // --shard K/N: only that share of sources
  std::optional<std::filesystem::path> filesFrom;   // --files-from; "-": standard input
  bool nullSeparated = false;                       // -0, --null: the list is NUL-separated
  std::optional<std::filesystem::path> relativeTo;  // --relative-to
  std::optional<std::filesystem::path> report;      // --report; "-": standard output
  bool copyOthers = false;                          // --copy-others
  bool help = false;                                // -h, --help
  bool version = false;                             // --version
  std::vector<std::filesystem::path> inputs;        // files and folders, in the given order
};

struct ParsedCommandLine {
  Options options;
  std::string error;  // a usage error when not empty
};

// Parses the arguments after the program name. Short options may be bundled (-qv, -j4, -oDIR);
// long ones take their value as "--jobs=4" or as the next argument. "--" ends the options.
// Having no file is not an error here (see the caller); -f with -n is, and so are -0 without
// --files-from, and --relative-to or --copy-others without -o.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();
// "quelbarin-convert 1.0" and a new line.
std::string VersionText();

}  // namespace cli
