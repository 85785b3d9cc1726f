#include "cli/Options.h"

#include "cli/NumberText.h"

#ifndef QD_VERSION
#error "QD_VERSION (the project version) is set by cli/CMakeLists.txt"
#endif

namespace cli {
namespace {

constexpr unsigned kMaxJobs = 1024;
// The options that have a one-letter form; --version has none.
constexpr std::string_view kShortKeys = "hqvfnoj0";
constexpr char kVersionKey = 'V';
// Options with a long form only.
constexpr char kBitsKey = 'B';
constexpr char kNormalizeKey = 'N';
constexpr char kNoDitherKey = 'D';
constexpr char kNoTagsKey = 'T';
constexpr char kShardKey = 'S';
constexpr char kFilesFromKey = 'F';
constexpr char kNullKey = '0';
constexpr char kRelativeToKey = 'R';
constexpr char kReportKey = 'P';
constexpr char kCopyOthersKey = 'C';

bool ParseJobs(std::string_view text, unsigned& jobs) {
  const std::optional<std::int64_t> value = ParseInteger(text);
  if (!value || *value < 1 || *value > kMaxJobs) return false;
  jobs = static_cast<unsigned>(*value);
  return true;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParsedCommandLine Parse() {
    bool optionsEnded = false;
    for (next_ = 0; next_ < args_.size() && result_.error.empty();) {
      const std::string& arg = args_[next_++];
      if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
        result_.options.inputs.emplace_back(arg);  // "-" alone is a file name too
      } else if (arg == "--") {
        optionsEnded = true;
      } else if (arg.starts_with("--")) {
        Long(arg);
      } else {
        Short(arg);
      }
    }
    if (!forceOption_.empty() && !skipOption_.empty()) {
      Fail("options '" + forceOption_ + "' and '" + skipOption_ + "' cannot be used together");
    }
    const Options& o = result_.options;
    if (o.nullSeparated && !o.filesFrom) Fail("option '-0' needs --files-from");
    if (o.relativeTo && !o.outputDir) Fail("option '--relative-to' needs -o");
    if (o.copyOthers && !o.outputDir) Fail("option '--copy-others' needs -o");
    return std::move(result_);
  }

 private:
  void Fail(std::string message) {
    if (result_.error.empty()) result_.error = std::move(message);
  }

  // The value of an option that needs one: the rest of the argument or the next argument.
  bool Value(const std::string& option, std::string_view inlineValue, bool hasInline,
             std::string& value) {
    if (hasInline) {
      value = inlineValue;
    } else if (next_ < args_.size()) {
      value = args_[next_++];
    } else {
      Fail("option '" + option + "' needs a value");
      return false;
    }
    return true;
  }

  // The value of an option that names a file or folder (`what`), which cannot be empty.
  void PathValue(const std::string& option, std::string_view inlineValue, bool hasInline,
                 const char* what, std::optional<std::filesystem::path>& target) {
    std::string value;
    if (!Value(option, inlineValue, hasInline, value)) return;
    if (value.empty()) return Fail("option '" + option + "' needs a " + what);
    target = std::filesystem::path(value);
  }

  void Apply(const std::string& option, char key, std::string_view inlineValue, bool hasInline) {
    Options& o = result_.options;
    std::string value;
    switch (key) {
      case 'h':
        o.help = true;
        break;
      case 'q':
        o.quiet = true;
        break;
      case 'v':
        o.verbose = true;
        break;
      case kVersionKey:
        o.version = true;
        break;
      case 'f':
        o.existing = ExistingFiles::kReplace;
        forceOption_ = option;
        break;
      case 'n':
        o.existing = ExistingFiles::kSkip;
        skipOption_ = option;
        break;
      case 'o':
        PathValue(option, inlineValue, hasInline, "folder", o.outputDir);
        break;
      case 'j':
        if (!Value(option, inlineValue, hasInline, value)) return;
        if (!ParseJobs(value, o.jobs)) {
          Fail("invalid number of jobs '" + value + "' (1 to " + std::to_string(kMaxJobs) + ")");
        }
        break;
      case kBitsKey:
        if (!Value(option, inlineValue, hasInline, value)) return;
        if (auto depth = ParseOutputDepth(value)) {
          o.output.depth = *depth;
        } else {
          Fail("invalid bit depth '" + value + "' (16, 24, 32 or 32f)");
        }
        break;
      case kNormalizeKey:
        if (!Value(option, inlineValue, hasInline, value)) return;
        if (auto spec = ParseNormalize(value)) {
          o.output.normalize = *spec;
        } else {
          Fail("invalid normalization '" + value + "' (peak, loudness or loudness=LUFS)");
        }
        break;
      case kNoDitherKey:
        o.output.dither = false;
        break;
      case kNoTagsKey:
        o.output.tags = false;
        break;
      case kShardKey:
        if (!Value(option, inlineValue, hasInline, value)) return;
        if (auto shard = ParseShard(value)) {
          o.shard = *shard;
        } else {
          Fail("invalid shard '" + value + "' (K/N with 1 <= K <= N)");
        }
        break;
      case kFilesFromKey:
        PathValue(option, inlineValue, hasInline, "file", o.filesFrom);
        break;
      case kNullKey:
        o.nullSeparated = true;
        break;
      case kRelativeToKey:
        PathValue(option, inlineValue, hasInline, "folder", o.relativeTo);
        break;
      case kReportKey:
        PathValue(option, inlineValue, hasInline, "file", o.report);
        break;
      case kCopyOthersKey:
        o.copyOthers = true;
        break;
      default:
        Fail("unknown option '" + option + "'");
    }
  }

  void Long(const std::string& arg) {
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    const std::string_view value = hasValue ? std::string_view(arg).substr(eq + 1) : "";
    struct LongOption {
      const char* name;
      char key;
      bool takesValue;
    };
    static constexpr LongOption kLong[] = {{"--help", 'h', false},
                                           {"--quiet", 'q', false},
                                           {"--verbose", 'v', false},
                                           {"--version", kVersionKey, false},
                                           {"--force", 'f', false},
                                           {"--skip-existing", 'n', false},
                                           {"--output", 'o', true},
                                           {"--jobs", 'j', true},
                                           {"--bits", kBitsKey, true},
                                           {"--normalize", kNormalizeKey, true},
                                           {"--no-dither", kNoDitherKey, false},
                                           {"--no-tags", kNoTagsKey, false},
                                           {"--shard", kShardKey, true},
                                           {"--files-from", kFilesFromKey, true},
                                           {"--null", kNullKey, false},
                                           {"--relative-to", kRelativeToKey, true},
                                           {"--report", kReportKey, true},
                                           {"--copy-others", kCopyOthersKey, false}};
    for (const LongOption& option : kLong) {
      if (name != option.name) continue;
      if (hasValue && !option.takesValue) return Fail("option '" + name + "' takes no value");
      return Apply(name, option.key, value, hasValue);
    }
    Fail("unknown option '" + name + "'");
  }

  void Short(const std::string& arg) {
    for (std::size_t i = 1; i < arg.size() && result_.error.empty(); ++i) {
      const char key = arg[i];
      const std::string option = std::string("-") + key;
      if (kShortKeys.find(key) == std::string_view::npos) {
        return Fail("unknown option '" + option + "'");
      }
      if (key == 'o' || key == 'j') {
        // The rest of the argument, if any, is the value.
        const bool hasInline = i + 1 < arg.size();
        Apply(option, key, std::string_view(arg).substr(i + 1), hasInline);
        return;
      }
      Apply(option, key, {}, false);
    }
  }

  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
  ParsedCommandLine result_;
  // How -f and -n were spelled, for the message when both are given; empty when not given.
  std::string forceOption_;
  std::string skipOption_;
};

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  return Parser(args).Parse();
}

std::string UsageText() {
  return std::string("Usage: ") + kProgramName +
         " [options] [--] FILE-OR-FOLDER...\n"
         "       " +
         kProgramName +
         " [options] --files-from LIST [FILE-OR-FOLDER...]\n"
         "Converts MPEG audio files (MP3, MP2, MP1) and WAVE files to PCM WAVE files.\n"
         "Each output has the source's name with the extension WAV (Song.mp3 -> Song.WAV).\n"
         "Folders are searched recursively for .mp3, .mp2, .mp1, .mpa and .wav files.\n"
         "An output that exists already is left alone and its source counts as failed,\n"
         "unless -f or -n is given.\n"
         "\n"
         "Options:\n"
         "  -o, --output DIR     write the outputs into DIR (created if missing); the files\n"
         "                       found in a folder keep their sub-folders below DIR.\n"
         "                       Default: beside each source.\n"
         "  -j, --jobs N         use N threads (default: one per processor): N files at a\n"
         "                       time, and threads without a file of their own decode\n"
         "                       segments of the running ones (same output, sooner)\n"
         "      --bits DEPTH     16 (default), 24 or 32 for integer samples, 32f for\n"
         "                       32-bit float (keeps a loud master's overs unclipped)\n"
         "      --normalize MODE peak: scale so that the peak reaches full scale;\n"
         "                       loudness[=LUFS]: scale to an integrated loudness (EBU R128,\n"
         "                       default -23 LUFS, e.g. loudness=-14), true peak <= -1 dBTP\n"
         "      --no-dither      no TPDF dither when a normalized output is cut to 16 bits\n"
         "      --no-tags        do not copy the tags (ID3, APE, a WAV's INFO list) into\n"
         "                       the WAV\n"
         "      --shard K/N      convert only share K of N of the sources: those whose path\n"
         "                       below the folder given (for a file: its name as given)\n"
         "                       hashes to K (FNV-1a 64 of the bytes, modulo N, plus 1).\n"
         "                       With -n, N runs on one shared tree convert each source\n"
         "                       once, and a run that was stopped completes when run again\n"
         "      --files-from LIST  also convert the files listed in LIST, one path a line\n"
         "                       (\"-\": standard input)\n"
         "  -0, --null           the paths in LIST end with a NUL byte, not a new line\n"
         "      --relative-to DIR  files named or listed keep their sub-folders below DIR\n"
         "                       under -o; a file outside DIR fails\n"
         "      --report FILE    write one JSON line per source as it ends (source, output,\n"
         "                       status, reason, seconds, frames, bytes), then the totals;\n"
         "                       \"-\": to standard output, instead of the progress bar\n"
         "      --copy-others    copy the other files of the folders searched (cover.jpg,\n"
         "                       .cue, .pdf) into their folders under -o, by the same rules\n"
         "                       as the outputs\n"
         "  -f, --force          replace outputs that exist already\n"
         "  -n, --skip-existing  skip the sources whose output exists already\n"
         "  -q, --quiet          show no progress bar and no summary\n"
         "  -v, --verbose        print \"SOURCE -> DESTINATION\" for each converted file, and\n"
         "                       the gain of a normalization\n"
         "  -h, --help           show this help\n"
         "      --version        show the program's version\n"
         "  --                   end of options (for file names starting with '-')\n"
         "\n"
         "Exit status:\n"
         "  0    every file was converted (or skipped)\n"
         "  1    any file failed\n"
         "  2    usage error\n"
         "  130  interrupted by SIGINT (Ctrl-C); likewise 143 for SIGTERM, 129 for SIGHUP,\n"
         "       141 for SIGPIPE and 153 for SIGXFSZ: 128 plus the signal's number\n"
         "A conversion that does not finish, for whatever reason, leaves no partial output.\n";
}

std::string VersionText() {
  return std::string(kProgramName) + " " + QD_VERSION + "\n";
}

}  // namespace cli
