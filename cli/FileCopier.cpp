#include "cli/FileCopier.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "cli/ResultTexts.h"
#include "platform/PartialFile.h"

namespace cli {

using platform::PartialFile;
namespace fs = std::filesystem;

ConversionResult FileCopier::Copy(const fs::path& source, const fs::path& destination,
                                  const FileConverter::Progress& progress) const {
  if (Cancelled()) return CancelledResult();
  struct stat st {};
  if (::stat(source.c_str(), &st) != 0) return Failed(ErrnoText(errno));
  if (!S_ISREG(st.st_mode)) return Failed("not a regular file");
  std::error_code ec;
  fs::create_directories(destination.parent_path(), ec);
  if (ec) {
    return Failed("cannot create folder " + destination.parent_path().native() + ": " +
                  ec.message());
  }
  struct stat existing {};
  if (existing_ != ExistingFiles::kReplace && ::lstat(destination.c_str(), &existing) == 0) {
    return ExistingOutputResult(destination, existing_);
  }

  PartialFile partial(destination);
  partial.RemoveLeftovers();
  if (std::string error = partial.ProbeCreate(); !error.empty()) {
    return Failed("cannot create " + destination.native() + ": " + error);
  }
  // The kernel copies (copy_file_range where it can); an interrupt is seen when it is done.
  if (!fs::copy_file(source, partial.Path(), ec) || ec) {
    return Failed("cannot copy to " + destination.native() + ": " + ErrnoText(ec.value()));
  }
  if (Cancelled()) return CancelledResult();
  if (progress) progress(st.st_size, st.st_size);

  std::string error;
  switch (partial.Publish(existing_ == ExistingFiles::kReplace, error)) {
    case PartialFile::Outcome::kPublished: {
      ConversionResult result(ConversionResult::kConverted);
      result.bytes = st.st_size;
      return result;
    }
    case PartialFile::Outcome::kExists:
      return ExistingOutputResult(destination, existing_);
    case PartialFile::Outcome::kError:
      break;
  }
  return Failed("cannot create " + destination.native() + ": " + error);
}

}  // namespace cli
