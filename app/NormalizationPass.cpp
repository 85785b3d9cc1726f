#include "app/NormalizationPass.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "app/SampleScaler.h"
#include "stream/WaveFormat.h"
#include "wave/PcmUtils.h"
#include "wave/WaveFile.h"

namespace app {

namespace {

using stream::TWaveFormatEx;

// Percent of `total` that `done` makes, rounded to the nearest integer (halves to even).
int Percent(std::int64_t done, std::int64_t total) {
  return static_cast<int>(
      std::nearbyint(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

[[noreturn]] void ThrowSystemError(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// The largest sample magnitude of one block over all its channels.
std::int32_t BlockPeak(const std::uint8_t* data, std::size_t count, const TWaveFormatEx& format) {
  std::int16_t left = 0;
  std::int16_t right = 0;
  wave::FindPeak(right, left, count, data, format);
  if (format.wBitsPerSample == 8) {
    // FindPeak reports the raw byte, and 0 both for silence and for a byte of 0 (the loudest
    // there is): a 0 anywhere in the block settles it.
    if (std::memchr(data, 0, count) != nullptr) return 128;
    auto magnitude = [](std::int32_t byte) { return byte == 0 ? 0 : std::abs(byte - 128); };
    return std::max(magnitude(left), magnitude(right));
  }
  return std::max(std::abs(std::int32_t{left}), std::abs(std::int32_t{right}));
}

// Puts a finished file's data on the disk, so that a rename never publishes an empty file.
void SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowSystemError(errno, "Erro gravando " + Quoted(path));
  const int rc = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (rc != 0) ThrowSystemError(error, "Erro gravando " + Quoted(path));
}

// Makes a rename inside the folder of `path` durable; best effort.
void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Puts `temp` in the place of `target` in one step; on failure `target` is left as it was.
void ReplaceFile(const std::string& temp, const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    ::chmod(temp.c_str(), st.st_mode & 07777);  // keep the permissions the user gave it
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    ThrowSystemError(errno,
                     "Não foi possível substituir " + Quoted(target) + " pelo arquivo normalizado");
  }
  SyncFolderOf(target);
}

// Creates the temporary file for `target` exclusively and returns its name: TempFileName(target)
// when no file of that name exists, otherwise "<base>-1.TMP", "<base>-2.TMP", ... A file that is
// there already is never opened, so a user's own ".TMP" file survives the pass.
std::string ClaimTempFile(const std::string& target) {
  constexpr int kMaxAttempts = 1000;
  const std::string first = TempFileName(target);
  const std::string base = first.substr(0, first.size() - 4);  // without ".TMP"
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const std::string name = attempt == 0 ? first : base + "-" + std::to_string(attempt) + ".TMP";
    if (name == target) continue;  // never the file being read
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) ThrowSystemError(errno, "Não foi possível criar " + Quoted(name));
  }
  ThrowSystemError(EEXIST, "Não foi possível criar " + Quoted(first));
}

// Clears a flag when the scope ends, however it ends.
class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

TNormalizationPass::TNormalizationPass(wave::TMMWaveFile& srcFile, wave::TMMWaveFile& dstFile,
                                       NormalizeHost& host)
    : srcFile_(srcFile), dstFile_(dstFile), host_(host) {}

bool TNormalizationPass::Normalize(const std::string& fileName) {
  // A second pass started from the message pump would reuse the open files.
  if (running_) throw std::logic_error("TNormalizationPass::Normalize: a pass is under way");
  const ScopedFlag running(running_);
  wave::TMMWave& src = *srcFile_.Wave();
  wave::TMMWave& dst = *dstFile_.Wave();
  bool busy = false;
  std::string tempPath;  // set from just before the temporary file is created until it is gone
  try {
    src.SetTimeFormat(stream::tfByte);
    dst.SetTimeFormat(stream::tfByte);
    src.SetFileMustExist(true);
    src.SetFileName(fileName);
    const int bits = src.BitLength();
    const TWaveFormatEx* format = srcFile_.GetPWaveFormat();
    // Only 8- and 16-bit PCM can be scaled here; anything else (24-bit, float, compressed)
    // would be mangled, so it is left alone.
    if (src.FormatTag() != stream::WAVE_FORMAT_PCM || (bits != 8 && bits != 16) ||
        format == nullptr) {
      ReleaseFiles();
      return false;
    }
    const std::string target = src.FileName();
    src.OpenFile();
    host_.SetBusyCursor(true);
    busy = true;

    const std::int32_t peak = ScanPeak(src, *format);
    const std::int32_t fullScale = bits == 8 ? TSampleScaler::kTarget8 : TSampleScaler::kTarget16;
    // A file already at full scale needs nothing; a silent one has no gain that would help.
    if (peak > 0 && peak < fullScale) {
      src.SetPosition(0);
      tempPath = ClaimTempFile(target);
      dst.CreateWaveFile(tempPath, format);  // writes over the empty file just claimed
      host_.SetGaugeCaption(QString::fromUtf8(kNormalizeCaption));
      WriteScaled(src, dst, bits, peak);
      src.CloseFile();
      dst.CloseFile();
      if (dst.CloseFailed()) {
        throw std::runtime_error("Não foi possível completar " + Quoted(tempPath));
      }
      SyncFile(tempPath);
      ReplaceFile(tempPath, target);
      tempPath.clear();
    }
    ReleaseFiles();
    host_.SetBusyCursor(false);
    return true;
  } catch (...) {
    ReleaseFiles();
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    if (busy) {
      try {
        host_.SetBusyCursor(false);
      } catch (...) {  // the first error is the one to report
      }
    }
    throw;
  }
}

std::int32_t TNormalizationPass::ScanPeak(wave::TMMWave& src, const TWaveFormatEx& format) {
  // FindPeak reads more than two channels as two interleaved ones and would skip the last
  // sample of a block that ends inside such a frame; read as mono, every sample counts.
  TWaveFormatEx view = format;
  if (view.nChannels > 2) view.nChannels = 1;
  const std::int64_t total = src.DataSize();
  std::int64_t remaining = total;
  std::int64_t done = 0;
  std::int32_t peak = 0;
  while (remaining > 0) {
    const std::int64_t got = ReadBlock(src, remaining);
    peak = std::max(peak, BlockPeak(block_.data(), static_cast<std::size_t>(got), view));
    remaining -= got;
    done += got;
    host_.SetGaugeProgress(Percent(done, total));
  }
  return peak;
}

void TNormalizationPass::WriteScaled(wave::TMMWave& src, wave::TMMWave& dst, int bits,
                                     std::int32_t peak) {
  const std::int32_t fullScale = bits == 8 ? TSampleScaler::kTarget8 : TSampleScaler::kTarget16;
  const TSampleScaler scaler(bits, static_cast<long double>(fullScale) / peak);
  const std::int64_t total = src.DataSize();
  std::int64_t remaining = total;
  std::int64_t done = 0;
  while (remaining > 0) {
    const std::int64_t got = ReadBlock(src, remaining);
    scaler.Apply(block_.data(), static_cast<std::size_t>(got));
    if (dst.WriteBytes(block_.data(), got) != got) {
      throw std::runtime_error("Erro gravando " + Quoted(dst.FileName()));
    }
    remaining -= got;
    done += got;
    host_.SetGaugeProgress(Percent(done, total));
  }
}

std::int64_t TNormalizationPass::ReadBlock(wave::TMMWave& src, std::int64_t remaining) {
  host_.ProcessMessages();
  const std::int64_t got = src.ReadBytes(block_.data(), std::min(remaining, kBlockBytes));
  // A file cut short under the pass yields nothing (or -1) while bytes are still due.
  if (got <= 0) {
    throw std::runtime_error("Erro lendo " + Quoted(src.FileName()) +
                             ": os dados terminam antes do esperado");
  }
  return got;
}

void TNormalizationPass::ReleaseFiles() noexcept {
  // Emptying the waves also drops their descriptions of files that the pass may just have
  // replaced, so a later pass on the same name reads the new header.
  for (wave::TMMWave* wave : {srcFile_.Wave(), dstFile_.Wave()}) {
    try {
      wave->CloseFile();
    } catch (...) {
    }
    try {
      wave->SetFileName("");
    } catch (...) {
    }
  }
}

std::string TempFileName(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::size_t dot = fileName.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    return fileName.substr(0, dot) + ".TMP";
  }
  return fileName + ".TMP";
}

}  // namespace app
