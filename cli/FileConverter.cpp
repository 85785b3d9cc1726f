#include "cli/FileConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>

#include "cli/MpegSource.h"
#include "cli/OutputStage.h"
#include "cli/ResultTexts.h"
#include "cli/WaveSource.h"
#include "platform/PartialFile.h"

namespace cli {
namespace fs = std::filesystem;
using platform::PartialFile;

namespace {

bool Exists(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;  // a dangling link is a name taken too
}

// Why a source cannot be read, or nothing.
std::optional<std::string> CheckSource(const fs::path& source) {
  struct stat st {};
  if (::stat(source.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return std::string(std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return std::nullopt;
}

bool IsSameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec) && !ec) return true;
  const fs::path ca = fs::weakly_canonical(a, ec);
  if (ec) return false;
  const fs::path cb = fs::weakly_canonical(b, ec);
  return !ec && ca == cb;
}

// Why the destination's folder cannot take the output, or nothing. Creates the folder.
std::optional<std::string> PrepareFolder(const fs::path& destination) {
  const fs::path folder = destination.has_parent_path() ? destination.parent_path() : ".";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot create folder " + folder.native() + ": " + ec.message();
  if (destination.filename().native().size() > NAME_MAX) {
    return "cannot create " + destination.native() + ": " + std::strerror(ENAMETOOLONG);
  }
  if (fs::is_directory(destination, ec)) {
    return "cannot create " + destination.native() + ": " + std::strerror(EISDIR);
  }
  return std::nullopt;
}

}  // namespace

ConversionResult FileConverter::Convert(const fs::path& source, const fs::path& destination,
                                        const Progress& progress) const {
  if (Cancelled()) return CancelledResult();
  if (auto error = CheckSource(source)) return Failed(*error);
  if (IsSameFile(source, destination)) {
    return Failed("the output " + destination.native() + " would overwrite the source");
  }
  if (auto error = PrepareFolder(destination)) return Failed(*error);
  if (existing_ != ExistingFiles::kReplace && Exists(destination)) return ExistsResult(destination);

  PartialFile partial(destination);
  partial.RemoveLeftovers();
  if (std::string error = partial.ProbeCreate(); !error.empty()) {
    return Failed("cannot create " + destination.native() + ": " + error);
  }

  OutputStage stage(output_, pool_, cancel_, progress);
  ConversionResult result;
  MpegSource mpeg;
  if (mpeg.Bind(source)) {
    result = stage.Run(mpeg, destination, partial.Path());
  } else {
    WaveSource wave;
    if (std::string error = wave.Bind(source); !error.empty()) return Failed(error);
    result = stage.Run(wave, destination, partial.Path());
  }
  if (Cancelled()) return CancelledResult();
  if (result.status != ConversionResult::kConverted) return result;
  std::string error;
  switch (partial.Publish(existing_ == ExistingFiles::kReplace, error)) {
    case PartialFile::Outcome::kPublished:
      return result;
    case PartialFile::Outcome::kExists:  // another file took the name while we converted
      return ExistsResult(destination);
    case PartialFile::Outcome::kError:
      break;
  }
  return Failed("cannot create " + destination.native() + ": " + error);
}

ConversionResult FileConverter::ExistsResult(const fs::path& destination) const {
  if (existing_ == ExistingFiles::kSkip) {
    return ConversionResult(ConversionResult::kSkipped, destination.native() + " exists");
  }
  return Failed(destination.native() + " exists (use --force to replace it)");
}

}  // namespace cli
