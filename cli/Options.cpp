#include "cli/Options.h"

#include <charconv>

namespace cli {
namespace {

constexpr unsigned kMaxJobs = 1024;

bool ParseJobs(std::string_view text, unsigned& jobs) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value == 0 || value > kMaxJobs) return false;
  jobs = value;
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
      case 'o':
        if (!Value(option, inlineValue, hasInline, value)) return;
        if (value.empty()) return Fail("option '" + option + "' needs a folder");
        o.outputDir = std::filesystem::path(value);
        break;
      case 'j':
        if (!Value(option, inlineValue, hasInline, value)) return;
        if (!ParseJobs(value, o.jobs)) {
          Fail("invalid number of jobs '" + value + "' (1 to " + std::to_string(kMaxJobs) + ")");
        }
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
                                           {"--output", 'o', true},
                                           {"--jobs", 'j', true}};
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
};

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  return Parser(args).Parse();
}

std::string UsageText() {
  return std::string("Usage: ") + kProgramName +
         " [options] [--] FILE-OR-FOLDER...\n"
         "Converts MPEG audio files (MP3, MP2, MP1) and WAVE files to PCM WAVE files.\n"
         "Each output has the source's name with the extension WAV (Song.mp3 -> Song.WAV).\n"
         "Folders are searched recursively for .mp3, .mp2, .mp1, .mpa and .wav files.\n"
         "\n"
         "Options:\n"
         "  -o, --output DIR  write the outputs into DIR (created if missing); the files found\n"
         "                    in a folder keep their sub-folders below DIR. Default: beside\n"
         "                    each source.\n"
         "  -j, --jobs N      convert N files at a time (default: one per processor)\n"
         "  -q, --quiet       show no progress bar\n"
         "  -v, --verbose     print \"SOURCE -> DESTINATION\" for each converted file\n"
         "  -h, --help        show this help\n"
         "  --                end of options (for file names starting with '-')\n"
         "\n"
         "Exit status: 0 when every file was converted, 1 when any failed, 2 for a usage\n"
         "error, 130 when interrupted.\n";
}

}  // namespace cli
