// WAV files that other programs made: the corpus of real-world files beside the project, and
// files written by sox. Our own files are checked in turn with sox and ffprobe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "WaveTestFiles.h"
#include "wave/WaveIO.h"

namespace wave {
namespace {

using namespace wavetest;

const fs::path kCorpus = QD_WAV_CORPUS_DIR;

TEST(WaveCorpusTest, EveryFileIsReadSafely) {
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  int accepted = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".wav") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const Bytes image = Load(entry.path().string());
    WaveIOHandlePtr h;
    const int code = ReadInfo(h, entry.path().string());
    ASSERT_TRUE(code == kWaveIOOk || code == kWaveIONoFormat || code == kWaveIOCannotOpen ||
                code == kWaveIOReadFailed)
        << code;
    // The same file held in memory reads alike.
    WaveIOHandlePtr m;
    ASSERT_EQ(WaveIOFromMemory(m, image.data(), std::int64_t(image.size())), code);
    if (code != kWaveIOOk) continue;
    ++accepted;
    EXPECT_EQ(h->fileSize, image.size());
    EXPECT_LE(h->dataOffset + h->dataBytes, image.size());
    EXPECT_EQ(m->format, h->format);
    EXPECT_EQ(m->dataOffset, h->dataOffset);
    EXPECT_EQ(m->dataBytes, h->dataBytes);
    EXPECT_EQ(m->samples, h->samples);
    if (h->Format()->wFormatTag == stream::WAVE_FORMAT_PCM) {
      const auto* f = h->Format();
      const std::int64_t align = f->nBlockAlign;
      EXPECT_EQ(align, (f->wBitsPerSample * f->nChannels) >> 3);
      EXPECT_EQ(f->nAvgBytesPerSec, std::uint32_t(align) * f->nSamplesPerSec);
      // The sample count is the data in whole frames, rounded to the nearest.
      EXPECT_LE(2 * std::abs(h->samples * align - std::int64_t(h->dataBytes)), align);
    }
    for (TWaveIOHandle* handle : {h.get(), m.get()}) {
      Bytes back;
      ASSERT_EQ(ReadAll(handle, back), kWaveIOOk);
      ASSERT_LE(back.size(), h->dataBytes);
      EXPECT_TRUE(back == Slice(image, h->dataOffset, back.size()));
    }
  }
  EXPECT_GE(accepted, 40);
}

TEST(WaveCorpusTest, KnownFiles) {
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  const struct {
    const char* file;
    int code;
    std::uint16_t tag = 0, channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t bits = 0;
    std::uint64_t dataOffset = 0, dataBytes = 0;
    std::int64_t samples = 0;
  } rows[] = {
      {"hound-pcmwaveformat-16bit-44100Hz-mono.wav", 0, 1, 1, 44100, 16, 44, 8, 4},
      {"hound-waveformatex-16bit-44100Hz-mono.wav", 0, 1, 1, 44100, 16, 46, 8, 4},
      {"hound-waveformatex-16bit-44100Hz-stereo.wav", 0, 1, 2, 44100, 16, 46, 16, 4},
      {"hound-waveformatex-16bit-44100Hz-mono-extra.wav", 0, 1, 1, 44100, 16, 80, 8, 4},
      // RIFF size far past the end of the file, and a PCM record with a stray cbSize.
      {"hound-waveformatex-8bit-11025Hz-mono.wav", 0, 1, 1, 11025, 8, 46, 4, 4},
      {"tinytag-test.wav", 0, 1, 2, 44100, 16, 44, 176400, 44100},
      {"tinytag-test3sMono.wav", 0, 1, 1, 44100, 16, 44, 264600, 132300},
      {"tinytag-silence-22khz-mono-1s.wav", 0, 1, 1, 22050, 16, 4096, 44064, 22032},  // "PAD "
      // Odd-sized data, its pad byte, then an "ID3 " chunk.
      {"tinytag-wav_with_image.wav", 0, 1, 1, 8000, 8, 44, 17157, 17157},
      // MPEG layer 3 data in whole 1152-byte blocks; no byte rate, so no sample count.
      {"tinytag-mp3_audio.wav", 0, 0x55, 1, 44100, 0, 104, 3456, 0},
      {"scipy-test-44100Hz-le-1ch-4bytes-early-eof-no-data.wav", 0, 0xFFFE, 1, 44100, 32, 0, 0, 0},
      {"tinytag-zero_value_properties.wav", kWaveIONoFormat},
      {"tinytag-empty_file.wav", kWaveIOCannotOpen},
      {"tinytag-invalid_file.wav", kWaveIOCannotOpen},
      {"scipy-test-44100Hz-be-1ch-4bytes.wav", kWaveIOCannotOpen},  // "RIFX"
      // RF64: the first keeps a real 32-bit data size, the second takes it from "ds64".
      {"scipy-test-44100Hz-le-1ch-4bytes-rf64.wav", 0, 0xFFFE, 1, 44100, 32, 116, 17640, 4410},
      {"scipy-test-8000Hz-le-3ch-5S-24bit-rf64.wav", 0, 1, 3, 8000, 24, 80, 45, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const fs::path path = kCorpus / row.file;
    ASSERT_TRUE(fs::exists(path));
    WaveIOHandlePtr h;
    ASSERT_EQ(ReadInfo(h, path.string()), row.code);
    if (row.code != kWaveIOOk) continue;
    const auto* f = h->Format();
    EXPECT_EQ(f->wFormatTag, row.tag);
    EXPECT_EQ(f->nChannels, row.channels);
    EXPECT_EQ(f->nSamplesPerSec, row.rate);
    EXPECT_EQ(f->wBitsPerSample, row.bits);
    EXPECT_EQ(h->dataOffset, row.dataOffset);
    EXPECT_EQ(h->dataBytes, row.dataBytes);
    EXPECT_EQ(h->samples, row.samples);
  }
  WaveIOHandlePtr h;
  ASSERT_EQ(ReadInfo(h, (kCorpus / "hound-waveformatex-16bit-44100Hz-mono-extra.wav").string()),
            kWaveIOOk);
  const TInfoItem* software = InfoListFind(h->info.get(), MakeFourCC('I', 'S', 'F', 'T'));
  EXPECT_EQ(InfoItemText(*h->info, *software), "Lavf54.33.100");
  ASSERT_EQ(ReadInfo(h, (kCorpus / "tinytag-mp3_audio.wav").string()), kWaveIOOk);
  EXPECT_EQ(WaveFormatName(h->Format()), "MPEG Layer-3");
}

// ---- sox and ffprobe ----

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The standard output of `command`, without its last line end.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
  }
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The samples of `path` as sox decodes them, in the file's own encoding.
Bytes SoxRaw(const std::string& path, const std::string& raw) {
  return std::system(("sox '" + path + "' -t raw '" + raw + "'").c_str()) == 0 ? Load(raw)
                                                                               : Bytes{};
}

class WaveCorpusToolsTest : public TempDirTest {};

TEST_F(WaveCorpusToolsTest, SoxAndFfprobeReadOurFiles) {
  if (!OnPath("sox") || !OnPath("ffprobe")) GTEST_SKIP() << "sox or ffprobe not installed";
  const std::tuple<stream::TWaveFormatEx, std::size_t, std::string> files[] = {
      {PcmFormat(2, 44100, 16), 3 * 44100, "pcm_s16le"},
      {PcmFormat(1, 11025, 8), 1001, "pcm_u8"},  // odd length: a pad byte follows the data
  };
  for (const auto& [f, frames, codec] : files) {
    SCOPED_TRACE(codec);
    Bytes data;  // a 440 Hz sine at half scale on every channel
    for (std::size_t i = 0; i < frames * f.nChannels; ++i) {
      const double s =
          0.5 * std::sin(2 * M_PI * 440.0 * double(i / f.nChannels) / f.nSamplesPerSec);
      const Bytes v = f.wBitsPerSample == 8 ? Bytes{std::uint8_t(128 + std::lround(127 * s))}
                                            : U16(std::uint16_t(std::lround(32767 * s)));
      data.insert(data.end(), v.begin(), v.end());
    }
    const std::string path = Path("ours.wav"), q = " '" + path + "'";
    WriteWave(path, &f, data, 10000);
    const std::string rate = std::to_string(f.nSamplesPerSec),
                      channels = std::to_string(f.nChannels),
                      bits = std::to_string(f.wBitsPerSample), length = std::to_string(frames);
    EXPECT_EQ(
        Output("sox --i -c" + q + "; sox --i -r" + q + "; sox --i -b" + q + "; sox --i -s" + q),
        channels + "\n" + rate + "\n" + bits + "\n" + length);
    EXPECT_TRUE(SoxRaw(path, Path("raw.bin")) == data);
    EXPECT_EQ(
        Output("ffprobe -v error -show_entries "
               "stream=codec_name,sample_rate,channels,bits_per_sample,duration_ts -of csv=p=0" +
               q),
        codec + "," + rate + "," + channels + "," + bits + "," + length);
  }
}

TEST_F(WaveCorpusToolsTest, WeReadWhatSoxWrites) {
  if (!OnPath("sox")) GTEST_SKIP() << "sox not installed";
  const std::string path = Path("sox.wav");
  ASSERT_EQ(std::system(("sox -n -r 22050 -c 2 -b 16 '" + path + "' synth 0.5 sine 440").c_str()),
            0);
  WaveIOHandlePtr h;
  ASSERT_EQ(ReadInfo(h, path), kWaveIOOk);
  const stream::TWaveFormatEx want = PcmFormat(2, 22050, 16);
  EXPECT_EQ(std::memcmp(h->Format(), &want, sizeof want), 0);
  EXPECT_EQ(h->samples, 11025);
  EXPECT_EQ(h->dataBytes, 44100u);
  Bytes back;
  ASSERT_EQ(ReadAll(h.get(), back), kWaveIOOk);
  EXPECT_TRUE(back == SoxRaw(path, Path("raw.bin")));
}

}  // namespace
}  // namespace wave
