#include "cli/WaveProbe.h"

#include "stream/WaveFormat.h"
#include "wave/WaveIO.h"

namespace cli {

bool IsPlainPcmWave(const std::filesystem::path& file) {
  wave::WaveIOHandlePtr handle;
  if (wave::WaveIOReadInfo(handle, file.native(), nullptr, wave::kFourCCWave,
                           wave::kRiffModePath) != wave::kWaveIOOk) {
    return false;
  }
  const stream::TWaveFormatEx* format = handle->Format();
  return format->wFormatTag == stream::WAVE_FORMAT_PCM &&
         (format->wBitsPerSample == 8 || format->wBitsPerSample == 16);
}

std::optional<std::int64_t> WaveFrames(const std::filesystem::path& file) {
  wave::WaveIOHandlePtr handle;
  if (wave::WaveIOReadInfo(handle, file.native(), nullptr, wave::kFourCCWave,
                           wave::kRiffModePath) != wave::kWaveIOOk) {
    return std::nullopt;
  }
  return handle->samples;
}

}  // namespace cli
