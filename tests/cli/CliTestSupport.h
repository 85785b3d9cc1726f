// Shared by the converter's tests: a scratch folder, the MPEG fixtures, WAVE files built byte by
// byte, and a check that a file is a complete PCM WAVE file.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/PartialFile.h"

namespace cli::test {

namespace fs = std::filesystem;
using platform::PartialFile;

inline fs::path Fixture(const std::string& name) {
  return fs::path(QD_MP3_FIXTURES) / name;
}

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> serial{0};
    path_ = fs::temp_directory_path() /
            ("qd-cli-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A tmpfs mounted over a folder for the life of the object; Mounted() is false when this process
// may not mount (the tests that need one skip then).
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& where, const char* options, unsigned long flags = 0) : where_(where) {
    fs::create_directories(where);
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", flags, options) == 0;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  fs::path where_;
  bool mounted_ = false;
};

// Files under `folder` whose name is that of a partial output.
// Starts `binary` with `args` in `cwd`: standard input and error on /dev/null, standard output
// into `out` (relative to `cwd`; empty: /dev/null), under a file size limit when `maxFileBytes`
// is not 0. Returns its process id.
inline pid_t StartProgram(const char* binary, const std::vector<std::string>& args,
                          const fs::path& cwd, const fs::path& out = {}, rlim_t maxFileBytes = 0) {
  std::vector<char*> argv{const_cast<char*>(binary)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int null = ::open("/dev/null", O_RDWR);
  ::dup2(null, 0);
  ::dup2(out.empty() ? null : ::open((cwd / out).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
  ::dup2(null, 2);
  if (maxFileBytes != 0) {
    const rlimit limit{maxFileBytes, maxFileBytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (::chdir(cwd.c_str()) == 0) ::execv(argv[0], argv.data());
  ::_exit(127);
}

inline std::vector<fs::path> PartialFiles(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (PartialFile::IsPartialName(entry.path().filename().native())) found.push_back(entry.path());
  }
  return found;
}

// The name that process `pid` gives to its first partial file for `destination`.
inline std::string PartialNameOf(const fs::path& destination, pid_t pid) {
  const std::string ours = PartialFile(destination).Path().filename().native();
  const std::string prefix = ours.substr(0, ours.find('-', 4) + 1);  // ".qd-<hash>-"
  return prefix + std::to_string(pid) + "-0.part";
}

// Little-endian fields.
inline std::string U16(unsigned v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
inline std::string U32(std::uint32_t v) {
  return U16(v & 0xFFFF) + U16(v >> 16);
}

// A RIFF chunk: id, size, body and the pad byte of an odd size.
inline std::string RiffChunk(const std::string& id, const std::string& body) {
  return id + U32(static_cast<std::uint32_t>(body.size())) + body +
         std::string(body.size() & 1, '\0');
}

// A WAVE file: a "fmt " chunk with these fields (formats other than PCM also get cbSize and
// `extra`), the "data" chunk, then `chunks`.
inline std::string WaveFile(unsigned tag, unsigned channels, unsigned rate, unsigned bits,
                            unsigned blockAlign, const std::string& data,
                            const std::string& chunks = {}, const std::string& extra = {}) {
  std::string fmt =
      U16(tag) + U16(channels) + U32(rate) + U32(rate * blockAlign) + U16(blockAlign) + U16(bits);
  if (tag != 1) fmt += U16(static_cast<unsigned>(extra.size())) + extra;
  return RiffChunk("RIFF", "WAVE" + RiffChunk("fmt ", fmt) + RiffChunk("data", data) + chunks);
}

// The "data" chunk of a whole PCM WAVE file: the RIFF size matches the file, a PCM "fmt " chunk
// comes before a non-empty "data" chunk that lies within the file. Empty otherwise.
inline std::string PcmData(const fs::path& path) {
  const std::string b = ReadAll(path);
  auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  };
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return {};
  if (u32(4) != b.size() - 8) return {};
  bool pcm = false;
  for (std::size_t at = 12; at + 8 <= b.size();) {
    const std::string id = b.substr(at, 4);
    const std::uint32_t size = u32(at + 4);
    if (at + 8 + size > b.size()) return {};
    if (id == "fmt " && size >= 16) pcm = b[at + 8] == 1 && b[at + 9] == 0;
    if (id == "data") return pcm ? b.substr(at + 8, size) : std::string();
    at += 8 + size + (size & 1);
  }
  return {};
}

inline std::uint32_t PcmDataBytes(const fs::path& path) {
  return static_cast<std::uint32_t>(PcmData(path).size());
}

inline bool IsCompletePcmWav(const fs::path& path) {
  return PcmDataBytes(path) > 0;
}

}  // namespace cli::test
