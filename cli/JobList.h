// What to convert: the arguments expanded into one job per source file, each with the name of
// the WAVE file it becomes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct Job {
  std::filesystem::path source;
  std::filesystem::path destination;
  // A problem found while listing (an unreadable folder, two sources for one destination); a job
  // that has one is reported as failed without being converted.
  std::string error;
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
// - A source met more than once (the same name twice, another spelling, a hard link or symlink to
//   it, a folder given twice or inside one given before) is listed once, where it first appears,
//   with the destination given there.
// - A folder that cannot be read, at the top or anywhere below, becomes a job with the error
//   "cannot read folder: <reason>" under its own path, and the walk goes on with the rest.
// - A walk leaves out earlier results: a file that is its own output, and a WAVE file that is
//   already 8- or 16-bit PCM. Files named on the command line are always listed.
// - The output folder is not entered when it lies inside a searched folder; symlinks to folders
//   are not followed, symlinks to files are taken.
std::vector<Job> BuildJobList(const std::vector<std::filesystem::path>& inputs,
                              const std::optional<std::filesystem::path>& outputDir);

}  // namespace cli
