#include "cli/ChainConversion.h"

#include <memory>
#include <string>

#include "cli/LibraryMessages.h"
#include "cli/ResultTexts.h"
#include "platform/Mmio.h"
#include "sources/AudioFile.h"
#include "sources/MpegBinding.h"
#include "stream/SyncDriver.h"
#include "stream/TimeConversions.h"
#include "wave/WaveIO.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

// "RIFF", size, "WAVE", an 18-byte "fmt " chunk, the "data" chunk's header, a pad byte and the
// "fact" chunk.
constexpr std::uint64_t kWaveOverheadBytes = 12 + 26 + 8 + 1 + 12;

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

ConversionResult ConvertThroughChain(const fs::path& source, const fs::path& destination,
                                     const fs::path& partial, const wave::FreeSpaceQuery& freeSpace,
                                     const std::atomic<bool>* cancel,
                                     const FileConverter::Progress& progress) {
  const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
  LibraryMessageCapture capture;
  Chain chain;
  try {
    chain.Build(source, partial, freeSpace);
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
  // The length is known before decoding: an output past the RIFF limit is written as RF64.
  const std::uint64_t fileBytes =
      kWaveOverheadBytes +
      static_cast<std::uint64_t>(stream::MsToBytes(*format, chain.audio->FileLength() + 1000));
  chain.sink->Wave()->SetRf64(fileBytes - 8 > wave::kMaxRiffSize);

  platform::mmioClearWriteError();
  std::string runError;
  std::int64_t bytes = 0;
  const sources::TMMAudioFile& audio = *chain.audio;
  const wave::TMMWaveFile& sink = *chain.sink;
  stream::TMMSyncDriver& driver = *chain.driver;
  driver.OnBufferReady = [&](stream::TObject*, stream::PWaveHdr) {
    if (progress) progress(audio.Position(), audio.FileLength());
    // A sink that gave up takes no more data: no use decoding the rest.
    if (sink.Failed() || cancelled()) driver.RequestCancel();
  };
  try {
    bytes = driver.Run();
  } catch (const std::exception& e) {
    runError = e.what();
  }
  const std::string sinkError = sink.Failed() ? sink.FailureMessage() : std::string();
  chain.Destroy();  // closes the partial file before it is renamed
  const int writeError = platform::mmioLastWriteError();

  if (cancelled()) return CancelledResult();
  if (writeError != 0 && (!sinkError.empty() || !runError.empty())) {
    return WriteFailed(destination, writeError, {});
  }
  if (!sinkError.empty()) return WriteFailed(destination, 0, sinkError);
  if (!runError.empty()) return Failed("conversion failed: " + runError);
  ConversionResult result(ConversionResult::kConverted);
  result.bytes = bytes;
  return result;
}

}  // namespace cli
