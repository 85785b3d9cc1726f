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

#include "cli/LibraryMessages.h"
#include "cli/PartialFile.h"
#include "platform/Mmio.h"
#include "sources/AudioFile.h"
#include "sources/MpegBinding.h"
#include "stream/SyncDriver.h"
#include "stream/TimeConversions.h"
#include "wave/WaveIO.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

ConversionResult Failed(std::string reason) {
  return {ConversionResult::kFailed, std::move(reason), 0};
}

ConversionResult CancelledResult() {
  return {ConversionResult::kCancelled, {}, 0};
}

// "RIFF", size, "WAVE", a 16-byte "fmt " chunk and the "data" chunk's header.
constexpr std::uint64_t kWaveHeaderBytes = 44;

bool Exists(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;  // a dangling link is a name taken too
}

std::string LowerFirst(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// The table of format names that the library owns keeps the historic name of tag 3; a user
// converting a float WAV should read what it is.
std::string InputFormatName(const stream::TWaveFormatEx* format) {
  switch (format->wFormatTag) {
    case 0x0003:
      return "IEEE float";
    case 0xFFFE:
      return "WAVE_FORMAT_EXTENSIBLE";
    default:
      return wave::WaveFormatName(format);
  }
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

// The library's texts for a decoder module that is missing or too old name the module by a DLL
// name that no file here has; say which file is meant.
std::string DescribeLibraryError(const std::string& text) {
  if (text == sources::kUnableToLoadDecoder || text == sources::kInvalidDecoderVersion) {
    return std::string("cannot use the MPEG decoder module ") + sources::kMpegModuleName + " (" +
           text + ")";
  }
  return text;
}

// The reason for a source that the audio file does not take: the library's own message when it
// showed one (a decoder module that could not be loaded), else "not audio".
std::string NotAudioReason(const LibraryMessageCapture& capture) {
  if (!capture.Messages().empty()) return DescribeLibraryError(capture.Messages().back());
  return "not an audio file (neither MPEG audio nor WAVE)";
}

// The components of one conversion: audio file -> sync driver -> wave file sink. Each converting
// thread builds, runs and destroys its own chain; what chains share (the process-wide component
// list that link changes walk) is guarded where it is kept, in the stream library.
class Chain {
 public:
  Chain() = default;
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;
  ~Chain() { Destroy(); }

  void Build(const fs::path& source, const fs::path& partial,
             const wave::FreeSpaceQuery& freeSpace) {
    try {
      // The audio file's MPEG reader needs the decoder module as soon as it is made.
      audio = std::make_unique<sources::TMMAudioFile>(nullptr);
      // The decoder's samples go out as they are: no fade-in, no closing ramp.
      audio->SetApplyEnvelope(false);
      audio->SetFileName(source.native());
      sink = std::make_unique<wave::TMMWaveFile>(nullptr);
      sink->Wave()->SetFileMustExist(false);
      if (freeSpace) sink->SetFreeSpaceQuery(freeSpace);
      sink->Wave()->SetFileName(partial.native());
      driver = std::make_unique<stream::TMMSyncDriver>(nullptr);
      driver->SetBufferSize(FileConverter::kBufferSize);
      driver->SetInput(audio.get());
      driver->SetOutput(sink.get());
    } catch (...) {
      Destroy();
      throw;
    }
  }

  void Destroy() {
    if (driver) {
      driver->SetOutput(nullptr);
      driver->SetInput(nullptr);
    }
    driver.reset();
    sink.reset();
    audio.reset();
  }

  std::unique_ptr<sources::TMMAudioFile> audio;
  std::unique_ptr<wave::TMMWaveFile> sink;
  std::unique_ptr<stream::TMMSyncDriver> driver;
};

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

  LibraryMessageCapture capture;
  Chain chain;
  try {
    chain.Build(source, partial.Path(), freeSpace_);
  } catch (const sources::EMMAudioError&) {
    return Failed(NotAudioReason(capture));
  } catch (const std::exception& e) {
    return Failed("cannot read audio: " + DescribeLibraryError(e.what()));
  }
  const stream::TWaveFormatEx* format = chain.audio->GetPWaveFormat();
  if (chain.audio->IsEmpty() || format == nullptr) return Failed(NotAudioReason(capture));
  // A compressed WAVE file that no installed driver decodes would reach the sink as it is.
  if (format->wFormatTag != stream::WAVE_FORMAT_PCM) {
    return Failed("cannot decode its audio format (" + InputFormatName(format) + ")");
  }
  // The length is known before decoding: refuse now rather than after writing 4 GiB.
  const std::uint64_t fileBytes = kWaveHeaderBytes + static_cast<std::uint64_t>(stream::MsToBytes(
                                                         *format, chain.audio->FileLength()));
  if (fileBytes - 8 > wave::kMaxRiffSize) {
    char size[32];
    std::snprintf(size, sizeof size, "%.1f GB", static_cast<double>(fileBytes) / 1e9);
    return Failed(std::string("the WAV would be ") + size + ", over the 4 GiB limit of the format");
  }

  platform::mmioClearWriteError();
  std::string runError;
  std::int64_t bytes = 0;
  const sources::TMMAudioFile& audio = *chain.audio;
  const wave::TMMWaveFile& sink = *chain.sink;
  stream::TMMSyncDriver& driver = *chain.driver;
  driver.OnBufferReady = [&](stream::TObject*, stream::PWaveHdr) {
    if (progress) progress(audio.Position(), audio.FileLength());
    // A sink that gave up takes no more data: no use decoding the rest.
    if (sink.Failed() || Cancelled()) driver.RequestCancel();
  };
  try {
    bytes = driver.Run();
  } catch (const std::exception& e) {
    runError = e.what();
  }
  const std::string sinkError = sink.Failed() ? sink.FailureMessage() : std::string();
  chain.Destroy();  // closes the partial file before it is renamed
  // Why the file system refused the data, when it did: clearer than the writer's own message.
  const int writeError = platform::mmioLastWriteError();

  if (Cancelled()) return CancelledResult();
  if (writeError != 0 && (!sinkError.empty() || !runError.empty())) {
    return Failed("cannot write " + destination.native() + ": " +
                  LowerFirst(std::strerror(writeError)));
  }
  if (!sinkError.empty()) return Failed("cannot write " + destination.native() + ": " + sinkError);
  if (!runError.empty()) return Failed("conversion failed: " + runError);
  std::string error;
  switch (partial.Publish(existing_ == ExistingFiles::kReplace, error)) {
    case PartialFile::Outcome::kPublished:
      return {ConversionResult::kConverted, {}, bytes};
    case PartialFile::Outcome::kExists:  // another file took the name while we converted
      return ExistsResult(destination);
    case PartialFile::Outcome::kError:
      break;
  }
  return Failed("cannot create " + destination.native() + ": " + error);
}

ConversionResult FileConverter::ExistsResult(const fs::path& destination) const {
  if (existing_ == ExistingFiles::kSkip) {
    return {ConversionResult::kSkipped, destination.native() + " exists", 0};
  }
  return Failed(destination.native() + " exists (use --force to replace it)");
}

}  // namespace cli
