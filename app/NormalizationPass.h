// The normalization pass: scales every sample of a PCM WAV file by one common gain so that its
// largest magnitude reaches full scale (32767 for 16-bit, 127 around the centre for 8-bit).
// It scans the file for its peak, writes the scaled samples to a ".TMP" file beside it (created
// exclusively: a name of its own when that file exists already), then replaces the file with that
// one in a single rename, so the original survives any failure.
// Threading: main thread only; the host's callbacks are made on it, between 4096-byte blocks.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <string>

namespace stream {
struct TWaveFormatEx;
}
namespace wave {
class TMMWave;
class TMMWaveFile;
}  // namespace wave

namespace app {

inline constexpr const char* kNormalizeCaption =
    QT_TRANSLATE_NOOP("app::TForm1", "Normalizando...");

// What the pass needs of the window: the gauge, the message pump and the cursor.
class NormalizeHost {
 public:
  virtual ~NormalizeHost() = default;
  virtual void SetGaugeCaption(const QString& caption) = 0;
  virtual void SetGaugeProgress(int percent) = 0;
  virtual void ProcessMessages() = 0;  // between blocks
  virtual void SetBusyCursor(bool busy) = 0;
};

class TNormalizationPass {
 public:
  static constexpr std::int64_t kBlockBytes = 4096;

  // The wave file components and the host are not owned and must outlive the pass.
  TNormalizationPass(wave::TMMWaveFile& srcFile, wave::TMMWaveFile& dstFile, NormalizeHost& host);
  TNormalizationPass(const TNormalizationPass&) = delete;
  TNormalizationPass& operator=(const TNormalizationPass&) = delete;

  // Normalizes `fileName` in place. Returns false, leaving the file untouched, when it is not
  // 8- or 16-bit PCM; true otherwise (a file already at full scale or wholly silent is left as
  // it is). The caller sets the gauge to "Obtendo Dados.." before; the pass sets
  // "Normalizando..." for the gain stage and the progress of both stages. On any error both
  // files are released, the ".TMP" file is removed, the original stays as it was, the cursor is
  // restored and the error is rethrown. Both wave objects are left empty afterwards.
  bool Normalize(const std::string& fileName);

  // True while Normalize runs (the host's message pump may ask).
  bool Running() const { return running_; }

 private:
  std::int32_t ScanPeak(wave::TMMWave& src, const stream::TWaveFormatEx& format);
  void WriteScaled(wave::TMMWave& src, wave::TMMWave& dst, int bits, std::int32_t peak);
  std::int64_t ReadBlock(wave::TMMWave& src, std::int64_t remaining);
  void ReleaseFiles() noexcept;

  wave::TMMWaveFile& srcFile_;  // not owned
  wave::TMMWaveFile& dstFile_;  // not owned
  NormalizeHost& host_;         // not owned
  std::array<std::uint8_t, kBlockBytes> block_{};
  bool running_ = false;
};

// The first name tried for the temporary file of `fileName`: the extension (from the last '.' after
// the last '/') replaced by ".TMP", or ".TMP" appended when there is none.
std::string TempFileName(const std::string& fileName);

}  // namespace app
