#include "cli/JobList.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <compare>
#include <map>
#include <set>
#include <string_view>
#include <system_error>

#include "cli/WaveProbe.h"
#include "platform/PartialFile.h"

namespace cli {

using platform::PartialFile;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCannotReadFolder = "cannot read folder: ";

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

// What a path leads to (symlinks followed): a hard link, a symlink and another spelling of a
// path are all the same file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};

std::optional<FileId> IdOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

bool IsWave(const fs::path& file) {
  return EqualsIgnoringCase(file.extension().native(), ".wav");
}

// What a walk meets: an audio file, another file (`other`, with --copy-others), or a folder that
// could not be read (with `error` set). `relative` is the path below the folder the walk started
// from.
struct Found {
  fs::path path;
  fs::path relative;
  std::string error;
  bool other = false;
};

fs::path Absolute(const fs::path& path) {
  std::error_code ec;
  const fs::path full = fs::absolute(path, ec);
  return (ec ? path : full).lexically_normal();
}

// Builds the list argument by argument, remembering the sources, folders and destinations seen.
// Threading: one thread, the caller of BuildJobList.
class Lister {
 public:
  explicit Lister(const ListingOptions& options)
      : options_(options),
        outputDir_(options.outputDir),
        outputId_(outputDir_ ? IdOf(*outputDir_) : std::nullopt) {}

  void AddFile(const fs::path& source) {
    Job job{source, {}, {}, JobKind::kConvert, source};
    if (!outputDir_) {
      job.destination = WavName(source);
    } else if (!options_.relativeTo) {
      job.destination = *outputDir_ / WavName(source.filename());
    } else {
      const fs::path below = Absolute(source).lexically_relative(Absolute(*options_.relativeTo));
      if (below.empty() || *below.begin() == ".." || below == ".") {
        job.error = "not below " + options_.relativeTo->native() + " (--relative-to)";
      } else {
        job.destination = *outputDir_ / below.parent_path() / WavName(below.filename());
      }
    }
    Add(std::move(job));
  }

  void AddFolder(const fs::path& folder) {
    std::vector<Found> found;
    Walk(folder, {}, found);
    // One order for the whole tree, by path, as a listing sorted by name shows it.
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.path.native() < b.path.native(); });
    for (const Found& item : found) {
      if (!item.error.empty()) {
        jobs_.push_back({item.path, {}, item.error, JobKind::kConvert, item.relative});
      } else if (item.other) {
        Add({item.path, *outputDir_ / item.relative, {}, JobKind::kCopy, item.relative});
      } else {
        const fs::path destination = outputDir_ ? *outputDir_ / item.relative.parent_path() /
                                                      WavName(item.relative.filename())
                                                : WavName(item.path);
        if (IsEarlierResult(item.path, destination)) continue;
        Add({item.path, destination, {}, JobKind::kConvert, item.relative});
      }
    }
  }

  std::vector<Job> Take() { return std::move(jobs_); }

 private:
  // A file met in a walk: a source, another file to copy, or neither.
  void Collect(const fs::path& path, const fs::path& relative, std::vector<Found>& found) const {
    const fs::path name = path.filename();
    if (HasAudioExtension(name)) {
      found.push_back({path, relative, {}, false});
    } else if (options_.copyOthers && outputDir_ && !PartialFile::IsPartialName(name.native())) {
      found.push_back({path, relative, {}, true});
    }
  }

  // Collects the files under `folder` and the folders that cannot be read, going on past every
  // failure. A folder already walked (given twice, or inside one given before) is not walked
  // again; the output folder is not entered; a symlink to a folder is not followed, one to a file
  // is taken as that file.
  void Walk(const fs::path& folder, const fs::path& relative, std::vector<Found>& found) {
    if (const std::optional<FileId> id = IdOf(folder); id && !walked_.insert(*id).second) return;
    std::vector<std::pair<fs::path, fs::path>> subfolders;
    {
      std::error_code ec;
      fs::directory_iterator it(folder, ec);
      for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code statusError;
        const fs::path name = entry.path().filename();
        if (entry.is_symlink(statusError)) {
          if (entry.is_regular_file(statusError)) Collect(entry.path(), relative / name, found);
        } else if (entry.is_directory(statusError)) {
          // An output folder inside the searched one holds earlier results, not sources.
          if (!outputId_ || IdOf(entry.path()) != outputId_) {
            subfolders.emplace_back(entry.path(), relative / name);
          }
        } else if (entry.is_regular_file(statusError)) {
          Collect(entry.path(), relative / name, found);
        }
      }
      if (ec) found.push_back({folder, relative, std::string(kCannotReadFolder) + ec.message()});
    }
    for (const auto& [path, below] : subfolders) Walk(path, below, found);
  }

  // A file found in a walk that converting would not change: its own output (Song.WAV beside
  // the sources, or in the output folder itself), or, with the default output, a WAVE file that
  // is already plain PCM.
  bool IsEarlierResult(const fs::path& file, const fs::path& destination) const {
    const std::optional<FileId> id = IdOf(file);
    if (Key(file) == Key(destination) || (id && IdOf(destination) == id)) return true;
    return options_.leavePlainPcm && IsWave(file) && IsPlainPcmWave(file);
  }

  void Add(Job job) {
    job.destination = job.destination.lexically_normal();
    if (!job.error.empty()) {
      jobs_.push_back(std::move(job));
      return;
    }
    // One file (whatever its spelling, or a link to it) for one destination is listed once;
    // a link that leads somewhere else gets its own output.
    const std::optional<FileId> id = IdOf(job.source);
    const std::string identity =
        id ? std::to_string(id->device) + ":" + std::to_string(id->inode) : Key(job.source);
    const std::string destination = Key(job.destination);
    if (!listed_.emplace(identity, destination).second) return;
    // Two sources writing one file would race and one result would be lost.
    if (id) {
      const auto [it, inserted] = destinations_.emplace(destination, job.source);
      if (!inserted) {
        job.error = "its output " + job.destination.native() + " is also the output of " +
                    it->second.native();
      }
    }
    jobs_.push_back(std::move(job));
  }

  const ListingOptions& options_;
  const std::optional<fs::path>& outputDir_;
  const std::optional<FileId> outputId_;
  std::vector<Job> jobs_;
  // (source identity, destination) pairs listed: dev:inode, or the normalised path of a source
  // that does not exist.
  std::set<std::pair<std::string, std::string>> listed_;
  std::set<FileId> walked_;  // folders walked
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
  ListingOptions options;
  options.outputDir = outputDir;
  return BuildJobList(inputs, options);
}

std::vector<Job> BuildJobList(const std::vector<fs::path>& inputs, const ListingOptions& options) {
  Lister lister(options);
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
