#include "cli/JobList.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <string_view>
#include <system_error>

namespace cli {
namespace fs = std::filesystem;

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// Paths compared as absolute, normalised byte strings.
std::string Key(const fs::path& path) {
  std::error_code ec;
  const fs::path full = fs::absolute(path, ec);
  return (ec ? path : full).lexically_normal().native();
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

class Lister {
 public:
  explicit Lister(const std::optional<fs::path>& outputDir) : outputDir_(outputDir) {}

  void AddFile(const fs::path& source) {
    Add(source, outputDir_ ? *outputDir_ / WavName(source.filename()) : WavName(source));
  }

  void AddFolder(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec);
    if (ec) return Fail(folder, "cannot read folder: " + ec.message());
    for (const fs::recursive_directory_iterator end; it != end;) {
      const fs::directory_entry& entry = *it;
      std::error_code typeError;
      if (entry.is_directory(typeError)) {
        // An output folder inside the searched one holds earlier results, not sources.
        if (outputDir_ && SameFile(entry.path(), *outputDir_)) it.disable_recursion_pending();
      } else if (entry.is_regular_file(typeError) && HasAudioExtension(entry.path())) {
        // A file that is its own output name (Song.WAV beside the sources) is an earlier result.
        if (outputDir_ || WavName(entry.path()) != entry.path()) files.push_back(entry.path());
      }
      it.increment(ec);
      if (ec) {
        Fail(folder, "cannot read folder: " + ec.message());
        ec.clear();
      }
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    for (const fs::path& file : files) {
      if (!outputDir_) {
        Add(file, WavName(file));
        continue;
      }
      const fs::path relative = file.lexically_relative(folder);
      Add(file, *outputDir_ / relative.parent_path() / WavName(relative.filename()));
    }
  }

  std::vector<Job> Take() { return std::move(jobs_); }

 private:
  void Fail(const fs::path& source, std::string error) {
    jobs_.push_back({source, {}, std::move(error)});
  }

  void Add(const fs::path& source, const fs::path& destination) {
    Job job{source, destination.lexically_normal(), {}};
    std::error_code ec;
    // Two sources writing one file would race and one result would be lost.
    if (fs::exists(source, ec)) {
      const auto [it, inserted] = destinations_.emplace(Key(job.destination), source);
      if (!inserted) {
        job.error = "its output " + job.destination.native() + " is also the output of " +
                    it->second.native();
      }
    }
    jobs_.push_back(std::move(job));
  }

  const std::optional<fs::path>& outputDir_;
  std::vector<Job> jobs_;
  std::map<std::string, fs::path> destinations_;
};

}  // namespace

fs::path WavName(const fs::path& source) {
  fs::path name = source;
  name.replace_extension("WAV");
  return name;
}

bool HasAudioExtension(const fs::path& file) {
  static constexpr std::array<std::string_view, 5> kExtensions = {".mp3", ".mp2", ".mp1", ".mpa",
                                                                  ".wav"};
  const std::string extension = file.extension().native();
  return std::any_of(kExtensions.begin(), kExtensions.end(),
                     [&](std::string_view e) { return EqualsIgnoringCase(extension, e); });
}

std::vector<Job> BuildJobList(const std::vector<fs::path>& inputs,
                              const std::optional<fs::path>& outputDir) {
  Lister lister(outputDir);
  for (const fs::path& input : inputs) {
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      lister.AddFolder(input);
    } else {
      lister.AddFile(input);
    }
  }
  return lister.Take();
}

}  // namespace cli
