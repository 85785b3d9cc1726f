// The temporary file that a conversion writes into, in the destination's folder: it becomes the
// destination only when it is complete, by a rename that does not replace another file unless
// asked to, and is removed otherwise, so that an interrupted or failed conversion never leaves a
// file that looks like a finished one and never destroys one that was there.
// Threading: one object per conversion, used by the thread that runs it.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

class PartialFile {
 public:
  // Picks a short hidden name beside `destination`: ".qd-<hash of the destination's name>-<pid>-
  // <n>.part", at most 40 bytes, so that any name the file system takes for the destination
  // fits, and tied to its destination so that what a run that died left can be found again.
  // Nothing is created yet.
  explicit PartialFile(const std::filesystem::path& destination);
  ~PartialFile();  // removes the file unless published
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Whether `name` (a file name, no folder) is one that this class gives to partial files.
  static bool IsPartialName(const std::string& name);

  // Removes the partial files of earlier runs for the same destination whose process no longer
  // exists (killed, or the machine went down). Running conversions are left alone.
  void RemoveLeftovers() const;

  // Creates the file and removes it again: tells whether the writer will be able to create it,
  // and moves to a free name when a file of another process holds this one. Returns the error
  // text ("" on success).
  std::string ProbeCreate();

  enum class Outcome { kPublished, kExists, kError };
  // Renames the written file to the destination. Without `replace` an existing destination is
  // never replaced, not even one that appeared during the conversion (kExists). `error` gets the
  // reason of kError. On success the file is no longer removed.
  Outcome Publish(bool replace, std::string& error);

  // Removes the file now (no error when it does not exist).
  void Remove() const;

 private:
  std::filesystem::path destination_;
  std::filesystem::path path_;
  std::string prefix_;  // ".qd-<hash>-": the names of this destination's partial files
  bool published_ = false;
};

}  // namespace platform
