// What to convert: the arguments expanded into one job per source file, each with the name of
// the WAVE file it becomes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// What a job does with its source: convert it, or (--copy-others) copy it as it is.
enum class JobKind { kConvert, kCopy };

struct Job {
  std::filesystem::path source;
  std::filesystem::path destination;
  // A problem found while listing (an unreadable folder, two sources for one destination, a
  // file outside the --relative-to folder); a job that has one is reported as failed without
  // being converted.
  std::string error{};
  JobKind kind = JobKind::kConvert;
  // What decides the job's shard: the path below the folder given on the command line for what
  // a walk found, the name as given for a file named on the command line or listed.
  std::filesystem::path shardKey{};
};

struct ListingOptions {
  std::optional<std::filesystem::path> outputDir;  // -o
  // --relative-to: files named or listed keep their sub-folders below this folder under -o.
  std::optional<std::filesystem::path> relativeTo;
  bool copyOthers = false;  // --copy-others: walked files that are not audio are copied too
  // Walked WAVE files of 8- or 16-bit PCM are left alone: with the default output (16 bits, no
  // normalization) converting them would only copy them.
  bool leavePlainPcm = true;
};

// The output name of a source: its extension replaced by "WAV" (Song.mp3 -> Song.WAV, Song ->
// Song.WAV).
std::filesystem::path WavName(const std::filesystem::path& source);

// Whether a file found in a folder is one to convert: .mp3, .mp2, .mp1, .mpa or .wav in any case.
bool HasAudioExtension(const std::filesystem::path& file);

// Expands the arguments in order. A folder contributes its audio files (recursively, sorted by
// path); anything else is a file to convert, whatever its name. With `outputDir` the outputs go
// there, the files of a folder keeping their place relative to that folder; without it each
// output goes beside its source.
// - A source met more than once for the same destination (the same name twice, another
//   spelling, a hard link or symlink to it in the same place) is listed once, where it first
//   appears. A hard link or symlink that leads to another destination (src/a/song.mp3 and a
//   link src/b/song.mp3 into out/a and out/b) is listed for each. A folder given twice, or
//   inside one given before, is walked once.
// - With `relativeTo` a file named on the command line goes to outputDir / (its path below
//   relativeTo); a file outside that folder becomes a job with the error "not below DIR".
// - With `copyOthers` and an output folder, a walk also lists the files that are not audio
//   files (cover.jpg, booklet.pdf, .cue) as copy jobs to the same place below the output folder.
// - A folder that cannot be read, at the top or anywhere below, becomes a job with the error
//   "cannot read folder: <reason>" under its own path, and the walk goes on with the rest.
// - A walk leaves out earlier results: a file that is its own output, and a WAVE file that is
//   already 8- or 16-bit PCM. Files named on the command line are always listed.
// - The output folder is not entered when it lies inside a searched folder; symlinks to folders
//   are not followed, symlinks to files are taken.
std::vector<Job> BuildJobList(const std::vector<std::filesystem::path>& inputs,
                              const ListingOptions& options);
std::vector<Job> BuildJobList(const std::vector<std::filesystem::path>& inputs,
                              const std::optional<std::filesystem::path>& outputDir);

}  // namespace cli
