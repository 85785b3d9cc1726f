#include "wave/Wave.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace wave {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

const stream::TWaveFormatEx kStereo16{stream::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
const stream::TWaveFormatEx kMono8{stream::WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};

void Put32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
// Frame k of 16-bit stereo holds k as a 32-bit word, so every read shows where it came from.
Bytes Frames(std::uint32_t first, std::uint32_t count) {
  Bytes out;
  for (std::uint32_t k = first; k < first + count; ++k) Put32(out, k);
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
// A plain WAVE image, made without the code under test.
Bytes WavImage(const Bytes& data, const stream::TWaveFormatEx& format = kStereo16) {
  Bytes head{'R', 'I', 'F', 'F'};
  Put32(head, static_cast<std::uint32_t>(36 + data.size()));
  head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0});
  const auto* record = reinterpret_cast<const char*>(&format);
  head.insert(head.end(), record, record + 16);
  head.insert(head.end(), {'d', 'a', 't', 'a'});
  Put32(head, static_cast<std::uint32_t>(data.size()));
  return Cat({head, data});
}
// The top-level chunks of a RIFF file: id → offset of the chunk's data.
std::map<std::string, std::size_t> Chunks(const Bytes& file) {
  std::map<std::string, std::size_t> chunks;
  for (std::size_t at = 12; at + 8 <= file.size(); at += 8 + ((U32(file, at + 4) + 1) & ~1u)) {
    chunks[std::string(file.data() + at, 4)] = at + 8;
  }
  return chunks;
}
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EMMWaveError& e) {
    return e.what();
  }
  return "(none)";
}

class WaveTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("qd-wave-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return Path(name);
  }
  static Bytes Disk(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static Bytes ReadAll(TMMWave& wave, std::int64_t block) {
    Bytes out(block), all;
    for (std::int64_t n; (n = wave.ReadBytes(out.data(), block)) > 0;) {
      all.insert(all.end(), out.begin(), out.begin() + n);
    }
    return all;
  }

  fs::path dir_;
};

TEST_F(WaveTest, PositionsInEveryTimeFormatSeekTheRightFrame) {
  const std::string path = Write("a.wav", WavImage(Frames(0, 100000)));
  struct Case {
    stream::TMMTimeFormats format;
    std::int64_t dataSize, set, get;
    std::uint32_t frame;
  } const cases[] = {{stream::tfByte, 400000, 6, 8, 2},                // 1.5 frames round to 2
                     {stream::tfByte, 400000, 399000, 399000, 99750},  // 1000 bytes left
                     {stream::tfSample, 100000, 1234, 1234, 1234},
                     {stream::tfMillisecond, 2268, 500, 500, 22050}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    TMMWave wave;
    wave.SetTimeFormat(c.format);
    wave.SetFileName(path);
    EXPECT_EQ(wave.DataSize(), c.dataSize);
    wave.OpenFile();
    wave.SetPosition(c.set);
    EXPECT_EQ(wave.GetPosition(), c.get);
    EXPECT_EQ(wave.BytesLeft(), 400000 - 4 * std::int64_t{c.frame});
    EXPECT_EQ(ReadAll(wave, 4096), Frames(c.frame, 100000 - c.frame));  // up to -1
    EXPECT_EQ(wave.BytesLeft(), 0);
    EXPECT_EQ(wave.GetPosition(), c.dataSize);
  }
}

TEST_F(WaveTest, ReadingAFileCutShortAfterItWasDescribedEnds) {
  for (const auto& [format, silence] : {std::pair{kStereo16, char(0)}, {kMono8, char(128)}}) {
    SCOPED_TRACE(int{format.wBitsPerSample});
    TMMWave cut;
    cut.SetFileName(Write("a.wav", WavImage(Frames(0, 100000), format)));
    Bytes buffer(4096);
    EXPECT_EQ(cut.ReadBytes(buffer.data(), 4096), -1);  // not opened
    fs::resize_file(cut.FileName(), fs::file_size(cut.FileName()) - 398000);
    cut.OpenFile();  // what is there, one filler of silence no longer than asked for, the end
    EXPECT_EQ(cut.ReadBytes(buffer.data(), 4096), 2000);
    buffer.assign(4096, 'x');
    EXPECT_EQ(cut.ReadBytes(buffer.data(), 3), 3);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{silence, silence, silence, 'x'}));
    EXPECT_EQ(cut.ReadBytes(buffer.data(), 4096), -1);
  }
}

TEST_F(WaveTest, EmptyWaveAndNamingMissingOrInvalidFiles) {
  const std::string good = Write("good.wav", WavImage(Frames(0, 10)));
  const std::string text = Write("notes.wav", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  TMMWave wave;
  EXPECT_EQ(wave.SampleRate(), 11025u);
  EXPECT_EQ(wave.FormatString(), "Unknown");
  wave.SetIOBufferSize(100);
  EXPECT_EQ(wave.IOBufferSize(), 8192);
  wave.SetFileName(good);
  EXPECT_EQ(ErrorOf([&] { wave.SetFileName(Path("missing.wav")); }), "Error reading wave file");
  wave.SetFileMustExist(false);
  EXPECT_EQ(ErrorOf([&] { wave.SetFileName(text); }), "Invalid wave file...");
  EXPECT_EQ(wave.FileName(), good);
  EXPECT_EQ(wave.DataSize(), 10);
  wave.SetFileName((dir_ / "sub" / ".." / "new.wav").string());
  EXPECT_EQ(wave.FileName(), Path("new.wav"));
  EXPECT_EQ(wave.DataSize(), 0);
  EXPECT_FALSE(fs::exists(Path("new.wav")));
}

TEST_F(WaveTest, SameUnchangedFileIsNotReloadedAndObserversHearChanges) {
  const std::string path = Write("a.wav", WavImage(Frames(0, 1000)));
  TMMWave wave;
  stream::TMMObserver observer;
  int heard = 0;
  observer.OnNotify = [&](stream::TMMObserver*, int) { ++heard; };
  wave.AddObserver(&observer);
  wave.SetFileName(path);
  wave.OpenFile();
  Bytes buffer(400);
  ASSERT_EQ(wave.ReadBytes(buffer.data(), 400), 400);
  wave.SetFileName((dir_ / "." / "a.wav").string());
  EXPECT_TRUE(wave.Opened());
  ASSERT_EQ(wave.ReadBytes(buffer.data(), 4), 4);
  EXPECT_EQ(U32(buffer, 0), 100u);
  EXPECT_EQ(heard, 1);

  Write("a.wav", WavImage(Frames(0, 2000)));  // changed on disk: loaded again
  wave.SetFileName(path);
  EXPECT_FALSE(wave.Opened());
  EXPECT_EQ(wave.DataSize(), 2000);
  wave.Discard();
  wave.Discard();  // nothing left to discard
  EXPECT_EQ(heard, 3);
}

TEST_F(WaveTest, CreateWaveFileReplacesTheOldFileAndCloseFileFinalizesIt) {
  const std::string path = Write("out.wav", Bytes(200000, 'x'));
  fs::create_hard_link(path, Path("old.bin"));  // keeps its bytes only when the file is deleted
  TMMWave wave;
  wave.CreateWaveFile(path, &kStereo16);
  EXPECT_EQ(Disk(Path("old.bin")), Bytes(200000, 'x'));
  const Bytes data = Frames(0, 25000);
  ASSERT_EQ(wave.WriteBytes(data.data(), 60000), 60000);
  EXPECT_EQ(wave.DataSize(), 15000);
  ASSERT_EQ(wave.WriteBytes(data.data() + 60000, 40000), 40000);
  EXPECT_EQ(wave.DataSize(), 25000);
  Bytes file = Disk(path);  // several I/O buffers have reached the disk, the sizes not yet
  ASSERT_EQ(Chunks(file).count("data"), 1u);
  EXPECT_EQ(U32(file, 4), 0u);
  EXPECT_EQ(U32(file, Chunks(file)["data"] - 4), 0u);

  wave.CloseFile();
  EXPECT_FALSE(wave.CloseFailed());
  file = Disk(path);
  auto chunks = Chunks(file);
  EXPECT_EQ(U32(file, 4), file.size() - 8);
  EXPECT_EQ(U32(file, chunks["data"] - 4), 100000u);
  EXPECT_EQ(Bytes(file.begin() + chunks["data"], file.begin() + chunks["data"] + 100000), data);
  ASSERT_EQ(chunks.count("fact"), 1u);
  EXPECT_EQ(U32(file, chunks["fact"]), 25000u);
  wave.OpenFile();  // the finalized file reads back through the same wave
  EXPECT_EQ(ReadAll(wave, 32768), data);
}

TEST_F(WaveTest, CreateWaveFileRefusesLongPathsAndMemoryWaves) {
  const std::string good = Write("good.wav", WavImage(Frames(0, 10)));
  TMMWave wave;
  wave.SetFileName(good);
  const std::string longest = Path(std::string(300, 'n')).substr(0, 260);
  const std::string tooLong = Path(std::string(kMaxPathLength, 'n'));
  EXPECT_EQ(ErrorOf([&] { wave.CreateWaveFile(tooLong, &kStereo16); }),
            "Unable to create wave file");
  EXPECT_EQ(wave.FileName(), good);
  wave.CreateWaveFile(longest, &kStereo16);
  EXPECT_EQ(wave.FileName(), longest);
  TMMMemoryWave memory;
  EXPECT_EQ(ErrorOf([&] { memory.CreateWaveFile(Path("m.wav"), &kStereo16); }),
            "Can't write to MemoryWave");
}

TEST_F(WaveTest, CutListLeavesOutTheCutFrames) {
  const TMMCutList cuts{{500, 100}, {100, 150}, {150, 50}, {950, 200}};  // unsorted, nested
  TMMWave wave;
  wave.SetFileName(Write("a.wav", WavImage(Frames(0, 1000))));
  wave.SetCutList(&cuts);
  EXPECT_EQ(wave.PlayLength(), 100 + 250 + 350);
  wave.OpenFile();
  EXPECT_EQ(ReadAll(wave, 999), Cat({Frames(0, 100), Frames(250, 250), Frames(600, 350)}));
  wave.SetPosition(150);  // counted along the play list
  Bytes word(4);
  ASSERT_EQ(wave.ReadBytes(word.data(), 4), 4);
  EXPECT_EQ(U32(word, 0), 300u);

  const TMMCutList everything{{0, 1000}};
  wave.SetCutList(&everything);
  wave.OpenFile();
  EXPECT_EQ(wave.ReadBytes(word.data(), 4), -1);
}

TEST_F(WaveTest, MemoryWaveReadsItsImageAndRefusesWrites) {
  const Bytes image = WavImage(Frames(0, 3000));
  TMMMemoryWave wave;
  std::istringstream in(std::string(image.begin(), image.end()));
  wave.ReadImage(in);
  EXPECT_EQ(wave.DataSize(), 3000);
  wave.OpenFile();
  EXPECT_EQ(ReadAll(wave, 4096), Frames(0, 3000));
  EXPECT_EQ(ErrorOf([&] { wave.WriteBytes("abcd", 4); }), "Can't write to MemoryWave");
  std::istringstream garbage("not a wave");
  EXPECT_EQ(ErrorOf([&] { wave.ReadImage(garbage); }), "Error reading wave file");
  EXPECT_EQ(wave.DataSize(), 3000);
}

}  // namespace
}  // namespace wave
