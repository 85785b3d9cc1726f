#include "platform/RegistryFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/ExceptionHandler.h"
#include "platform/FileDescriptor.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kConfigFolderName = "quelbarin";
constexpr const char* kFileName = "registry.reg";
constexpr const char* kTempInfix = ".tmp.";  // registry.reg.tmp.XXXXXX
constexpr mode_t kFolderMode = 0700;
constexpr int kMaxDamagedCopies = 99;
constexpr auto kLockWaitStep = std::chrono::milliseconds(10);
constexpr std::size_t kCopyChunkBytes = 65536;

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
    return user->pw_dir;
  }
  return "/";
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Creates each missing folder of `folder`, new ones private to the user.
bool MakeFolders(const std::string& folder) {
  fs::path partial;
  for (const fs::path& part : fs::path(folder)) {
    partial /= part;
    struct stat info {};
    if (::mkdir(partial.c_str(), kFolderMode) != 0 &&
        (::stat(partial.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
      return false;
    }
  }
  return true;
}

// Holds an exclusive lock on a folder; waits a bounded time for another holder.
bool LockFolder(int folderFd) {
  for (int step = 0; step < RegistryFile::kLockWaitSteps; ++step) {
    if (::flock(folderFd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    std::this_thread::sleep_for(kLockWaitStep);
  }
  return false;
}

bool CopyFile(const std::string& from, const std::string& to) {
  FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return false;
  FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.Get() < 0) return false;
  char buffer[kCopyChunkBytes];
  for (;;) {
    const ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out.Get(), buffer, static_cast<std::size_t>(n)))) {
      ::unlink(to.c_str());
      return false;
    }
    if (n == 0) break;
  }
  if (::fsync(out.Get()) != 0 || !out.Close()) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string RegistryFile::DefaultPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // The XDG rules ignore a relative setting.
  const std::string base =
      config != nullptr && config[0] == '/' ? std::string(config) : HomeFolder() + "/.config";
  return base + "/" + kConfigFolderName + "/" + kFileName;
}

RegistryFile::RegistryFile(std::string path)
    : path_(std::move(path)), folder_(fs::path(path_).parent_path().string()) {
  if (folder_.empty()) folder_ = ".";
}

RegistryFile::Contents RegistryFile::Read() const {
  Contents contents;
  FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return contents;  // first run: no settings yet
    contents.state = State::kUnreadable;
    contents.problem = std::strerror(errno);
    return contents;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    contents.state = State::kUnreadable;
    contents.problem = "not a regular file";
    return contents;
  }
  if (info.st_size > kMaxFileBytes) {
    contents.state = State::kDamaged;
    contents.problem = "larger than " + std::to_string(kMaxFileBytes) + " bytes";
    return contents;
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::read(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      contents.state = State::kUnreadable;
      contents.problem = std::strerror(errno);
      return contents;
    }
    if (n == 0) break;  // shrank while being read: parse what is there
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  RegistryParseResult parsed = ParseRegistryText(text);
  if (!parsed.hive) {
    contents.state = State::kDamaged;
    contents.problem = "line " + std::to_string(parsed.error.line) + ": " + parsed.error.reason;
    return contents;
  }
  contents.state = State::kRead;
  contents.hive = std::move(*parsed.hive);
  return contents;
}

void RegistryFile::ReportOnce(const Contents& contents) const {
  if (contents.state != State::kDamaged && contents.state != State::kUnreadable) return;
  static std::mutex mutex;
  static std::set<std::string> reported;  // files already reported by this process
  {
    std::lock_guard lock(mutex);
    if (!reported.insert(path_).second) return;
  }
  if (contents.state == State::kDamaged) {
    ShowErrorMessage("The settings file '" + path_ + "' is damaged (" + contents.problem +
                     "); the default settings are used. The damaged file is kept beside it, " +
                     "under a name ending in \"" + kDamagedSuffix + "\", before it is replaced.");
  } else {
    ShowErrorMessage("The settings file '" + path_ + "' cannot be read (" + contents.problem +
                     "); the default settings are used and the file is left as it is.");
  }
}

RegistryHive RegistryFile::Load() const {
  Contents contents = Read();
  ReportOnce(contents);
  return std::move(contents.hive);
}

bool RegistryFile::KeepDamagedCopy() const {
  for (int n = 1; n <= kMaxDamagedCopies; ++n) {
    std::string name = path_ + kDamagedSuffix;
    if (n > 1) name += "." + std::to_string(n);
    std::error_code error;
    if (!fs::exists(name, error) && !error) return CopyFile(path_, name);
  }
  return false;
}

bool RegistryFile::ReplaceLocked(int folderFd, const std::string& text) const {
  const std::string prefix = fs::path(path_).filename().string() + kTempInfix;
  // Every writer holds the lock while its temporary file exists, so any found now was left by a
  // writer that died.
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) fs::remove(entry.path(), error);
  }
  std::string temp = path_ + kTempInfix + "XXXXXX";
  FileDescriptor fd(::mkstemp(temp.data()));  // mode 0600
  if (fd.Get() < 0) return false;
  if (!WriteAll(fd.Get(), text.data(), text.size()) || ::fsync(fd.Get()) != 0 || !fd.Close() ||
      ::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename is in place; syncing the folder makes it survive a power cut. If that fails the
  // new file is still the one everybody reads, so the write stands.
  ::fsync(folderFd);
  return true;
}

std::optional<RegistryHive> RegistryFile::Update(
    const std::function<void(RegistryHive&)>& change) const {
  if (!MakeFolders(folder_)) return std::nullopt;
  FileDescriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0 || !LockFolder(folder.Get())) return std::nullopt;
  // The lock goes with the descriptor.
  Contents contents = Read();
  ReportOnce(contents);
  if (contents.state == State::kUnreadable) return std::nullopt;
  if (contents.state == State::kDamaged && !KeepDamagedCopy()) return std::nullopt;
  change(contents.hive);
  if (!ReplaceLocked(folder.Get(), FormatRegistryText(contents.hive))) return std::nullopt;
  return std::move(contents.hive);
}

}  // namespace platform
