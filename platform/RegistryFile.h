// The file that holds the registry's HKEY_CURRENT_USER (layout in RegistryText.h): where it
// lives, reading it, and replacing it so that a crash never leaves it half written.
// Threading: any thread. Replacements by threads and processes are serialized by a lock on the
// file's folder; reads need no lock because the file is only ever replaced by a rename.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/RegistryText.h"

namespace platform {

class RegistryFile {
 public:
  // A damaged file is kept under its name + this suffix (then ".2", ".3"...) before it is
  // replaced.
  static constexpr const char* kDamagedSuffix = ".damaged";
  // Files larger than this are not settings: they are treated as damaged.
  static constexpr long kMaxFileBytes = 1 << 20;
  // How long a replacement waits for another writer to finish (10 ms steps).
  static constexpr int kLockWaitSteps = 500;

  // $XDG_CONFIG_HOME/quelbarin/registry.reg; $XDG_CONFIG_HOME unset, empty or not absolute means
  // ~/.config. Read from the environment at each call.
  static std::string DefaultPath();

  explicit RegistryFile(std::string path);

  const std::string& Path() const { return path_; }

  // The keys in the file. A missing file holds none. A damaged or unreadable file is reported
  // once per process through ShowErrorMessage, naming the file, and read as holding none.
  RegistryHive Load() const;

  // Re-reads the file while holding the folder's lock, lets `change` edit the keys, and puts the
  // result in place of the file: written to a temporary file in the same folder, flushed to disk
  // and renamed over the old one. The folder is created (mode 0700) when missing. A damaged file
  // is first copied beside it (kDamagedSuffix); an unreadable one is never replaced. Returns the
  // keys as written, or nothing when the file could not be replaced; the old file is then
  // unchanged and no temporary file is left.
  std::optional<RegistryHive> Update(const std::function<void(RegistryHive&)>& change) const;

 private:
  enum class State { kMissing, kRead, kDamaged, kUnreadable };
  struct Contents {
    State state = State::kMissing;
    RegistryHive hive;    // kRead only
    std::string problem;  // kDamaged, kUnreadable: what is wrong, for the report
  };

  Contents Read() const;
  void ReportOnce(const Contents& contents) const;
  bool KeepDamagedCopy() const;
  bool ReplaceLocked(int folderFd, const std::string& text) const;

  std::string path_;
  std::string folder_;
};

}  // namespace platform
