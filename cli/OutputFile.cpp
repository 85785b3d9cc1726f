#include "cli/OutputFile.h"

#include <utility>

#include "cli/ResultTexts.h"
#include "platform/Mmio.h"
#include "wave/WaveFile.h"

namespace cli {
namespace fs = std::filesystem;

namespace {

constexpr std::int32_t kIoBufferBytes = 262144;
// "RIFF", size, "WAVE", the "fmt " and "data" chunk headers, a pad byte and the "fact" chunk.
constexpr std::uint64_t kFixedBytes = 12 + 8 + 8 + 1 + 12;

// The tags go after the samples: the INFO list, then the ID3v2 tag (pictures included).
void AddTags(wave::TWaveIOHandle& handle, SourceTags& tags) {
  for (const auto& [id, text] : tags.info) wave::WaveIOSetInfoText(&handle, id.c_str(), text);
  if (!tags.id3v2.empty()) {
    handle.trailingChunks.push_back({wave::kFourCCId3, std::move(tags.id3v2)});
  }
}

}  // namespace

std::optional<ConversionResult> OutputFile::Create(const fs::path& partial,
                                                   const std::vector<char>& format, SourceTags tags,
                                                   std::uint64_t maxDataBytes, bool reserve) {
  if (wave::WaveIOFromFormat(handle_, reinterpret_cast<const stream::TWaveFormatEx*>(
                                          format.data())) != wave::kWaveIOOk) {
    return Failed("cannot write " + destination_.native() + ": unsupported output format");
  }
  AddTags(*handle_, tags);
  // The length is known before the data are: an output past the RIFF limit is RF64.
  const std::uint64_t fileBytes = kFixedBytes + format.size() + maxDataBytes +
                                  wave::InfoListWrittenSize(handle_->info.get()) +
                                  wave::RiffChunksWrittenSize(handle_->trailingChunks);
  handle_->rf64 = fileBytes - 8 > wave::kMaxRiffSize;

  platform::mmioClearWriteError();
  if (wave::WaveIOCreateFile(handle_.get(), partial.native()) != wave::kWaveIOOk ||
      wave::WaveIOSetBuffer(handle_.get(), kIoBufferBytes) != wave::kWaveIOOk) {
    return WriteFailed(destination_, platform::mmioLastWriteError(), "cannot create the file");
  }
  if (reserve) {
    // The data chunk is made its full length first (a hole), then filled at its places.
    const auto bytes = static_cast<std::int64_t>(maxDataBytes);
    if (bytes > 0 && wave::WaveIOReserveData(handle_.get(), bytes) != bytes) {
      return WriteFailed(destination_, platform::mmioLastWriteError(), wave::kWriteFailedMessage);
    }
    reserved_ = true;
  }
  return std::nullopt;
}

bool OutputFile::Append(const unsigned char* bytes, std::size_t count) {
  const auto n = static_cast<std::int64_t>(count);
  if (count == 0) return true;
  if (!failed_ && wave::WaveIOWrite(handle_.get(), bytes, n) == n) {
    written_ += n;
    return true;
  }
  failed_ = true;
  return false;
}

bool OutputFile::WriteAt(const unsigned char* bytes, std::size_t count, std::uint64_t at) {
  const auto n = static_cast<std::int64_t>(count);
  if (count == 0) return true;
  if (!failed_ && wave::WaveIOWriteAt(handle_.get(), bytes, n, at) == n) {
    written_ += n;
    return true;
  }
  Fail();
  return false;
}

std::int64_t OutputFile::CopyAt(int sourceFd, std::int64_t sourceOffset, std::int64_t count,
                                std::uint64_t at) {
  if (failed_) return -1;
  if (count <= 0) return 0;
  platform::mmioClearWriteError();
  const std::int64_t n = wave::WaveIOCopyAt(handle_.get(), sourceFd, sourceOffset, count, at);
  // A short copy without an error is the source's end; the caller decides what that means.
  if (n < 0 || (n < count && platform::mmioLastWriteError() != 0)) {
    Fail();
    return -1;
  }
  written_ += n;
  return n;
}

void OutputFile::Fail() {
  // The file system's reason is on this thread only.
  int none = 0;
  writeError_.compare_exchange_strong(none, platform::mmioLastWriteError());
  failed_ = true;
}

ConversionResult OutputFile::WriteFailure() const {
  const int error = reserved_ ? writeError_.load() : platform::mmioLastWriteError();
  return WriteFailed(destination_, error, wave::kWriteFailedMessage);
}

std::optional<ConversionResult> OutputFile::Finish() {
  if (failed_) return WriteFailure();
  if (wave::WaveIOFinalize(handle_.get()) != wave::kWaveIOOk) {
    return WriteFailed(destination_, platform::mmioLastWriteError(), wave::kFinalizeFailedMessage);
  }
  return std::nullopt;
}

}  // namespace cli
