// The temporary file that a conversion writes into, in the destination's folder: it becomes the
// destination only by a rename once it is complete, and is removed otherwise, so that an
// interrupted or failed conversion never leaves a file that looks like a finished one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace cli {

class PartialFile {
 public:
  // Picks a name of its own beside `destination` (".<name>.partial-<pid>-<n>", shorter when that
  // would make the path longer than `maxPathLength` bytes). Nothing is created yet.
  PartialFile(const std::filesystem::path& destination, std::size_t maxPathLength);
  ~PartialFile();  // removes the file unless committed
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Whether the name fits the length limit.
  bool NameFits() const { return fits_; }

  // Creates the file and removes it again: tells whether the writer will be able to create it.
  // Returns the error text ("" on success).
  std::string ProbeCreate() const;
  // Renames the written file to the destination. Returns the error text ("" on success); on
  // success the file is no longer removed.
  std::string Commit();
  // Removes the file now (no error when it does not exist).
  void Remove() const;

 private:
  std::filesystem::path destination_;
  std::filesystem::path path_;
  bool fits_ = true;
  bool committed_ = false;
};

}  // namespace cli
