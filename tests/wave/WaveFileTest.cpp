#include "wave/WaveFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/MainThread.h"
#include "stream/Trigger.h"
#include "tests/stream/TriggerTestComponents.h"

namespace wave {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<char>;
using stream::TWaveFormatEx;

const TWaveFormatEx kStereo16 = stream::test::Pcm16Stereo44k();
const TWaveFormatEx kMono8{stream::WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
constexpr std::uint32_t kBlock = 4096;

// The bytes that BlockSource sends: a counting sequence.
Bytes Counting(std::size_t count, std::size_t from = 0) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = char(stream::test::CountingByte(from + i));
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// A finished file of `format`: its "data" bytes by the chunk's size and its "fact" value;
// empty when the RIFF size, the form or the format is wrong.
struct WavFile {
  Bytes data;
  std::uint32_t fact = 0;
};
std::optional<WavFile> Load(const std::string& path, const TWaveFormatEx& format = kStereo16) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), {});
  if (file.size() < 12 || U32(file, 4) != file.size() - 8 || file[8] != 'W') return std::nullopt;
  std::map<std::string, std::size_t> at;  // chunk id → offset of its data
  for (std::size_t i = 12; i + 8 <= file.size(); i += 8 + ((U32(file, i + 4) + 1) & ~1u)) {
    at[std::string(&file[i], 4)] = i + 8;
  }
  if (!at.count("fmt ") || !at.count("data") || std::memcmp(&file[at["fmt "]], &format, 16) ||
      at["data"] + U32(file, at["data"] - 4) > file.size()) {
    return std::nullopt;
  }
  WavFile wav;
  wav.data.assign(&file[at["data"]], &file[at["data"]] + U32(file, at["data"] - 4));
  if (at.count("fact")) wav.fact = U32(file, at["fact"]);
  return wav;
}

// A block as a driver hands it over: the 60-byte header followed by its data.
struct Block {
  explicit Block(std::uint32_t length, const Bytes& data = {})
      : memory(stream::kWaveHdrSize + length) {
    hdr = reinterpret_cast<stream::TWaveHdr*>(memory.data());
    hdr->SetData(memory.data() + stream::kWaveHdrSize);
    hdr->dwBufferLength = length;
    hdr->dwBytesRecorded = static_cast<std::uint32_t>(data.size());
    std::copy(data.begin(), data.end(), hdr->Data());
  }
  Bytes Recorded() const { return Bytes(hdr->Data(), hdr->Data() + hdr->dwBytesRecorded); }
  bool Pull(TMMWaveFile& from) {
    bool more = false;
    hdr->dwBytesRecorded = 0;
    hdr->LoopMark = 0;
    from.BufferLoad(hdr, more);
    return more;
  }
  Bytes memory;
  stream::TWaveHdr* hdr;
};

class WaveFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');  // parameterized tests
    dir_ = fs::temp_directory_path() / ("qd-wavefile-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file.OnOpen = [this](stream::TObject*) { opens += platform::IsMainThread() ? 1 : 100; };
    file.OnClose = [this](stream::TObject*) { closes += platform::IsMainThread() ? 1 : 100; };
    file.OnError = [this](stream::TObject*) { ++errors; };
  }
  void TearDown() override {
    trigger.reset();
    platform::ProcessMessages();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string MakeWav(const std::string& name, const TWaveFormatEx& format, const Bytes& data) {
    TMMWave wave;  // finalizes the file when it goes
    wave.CreateWaveFile(Path(name), &format);
    wave.WriteBytes(data.data(), std::int64_t(data.size()));
    return Path(name);
  }
  void NameSink(const std::string& name) {
    file.Wave()->SetFileMustExist(false);
    file.Wave()->SetFileName(Path(name));
  }

  // source → trigger → file (the sink) → recorder, run until the stream ends, then closed.
  void RunChain(int blocks) {
    trigger.reset();
    source = std::make_unique<stream::test::BlockSource>(blocks, kBlock);
    trigger = std::make_unique<stream::TMMTrigger>(nullptr);
    trigger->SetBufferSize(kBlock);
    trigger->SetInput(source.get());
    trigger->SetOutput(&file);
    file.SetOutput(&recorder);
    stops = 0;
    trigger->OnStop = [this](stream::TObject*) { ++stops; };
    trigger->Start();
    ASSERT_TRUE(platform::Dispatcher::Instance().RunUntil([&] { return stops > 0; }, 10s));
    trigger->Close();
  }
  // The sink driven by hand: Open, Start, the blocks, Stop, Close.
  void RunDirect(const std::vector<Bytes>& blocks) {
    file.SetInput(&formatOnly);
    file.SetOutput(&recorder);
    file.Open();
    file.Start();
    for (const Bytes& data : blocks) file.BufferReady(Block(kBlock, data).hdr);
    file.Stop();
    file.Close();
  }
  void OpenSource(const TWaveFormatEx& format, const Bytes& data) {
    file.Wave()->SetFileName(MakeWav("in" + std::to_string(data.size()) + ".wav", format, data));
    file.Open();
    file.Start();
  }

  fs::path dir_;
  stream::test::BlockSource formatOnly{0, kBlock};
  std::unique_ptr<stream::test::BlockSource> source;
  std::unique_ptr<stream::TMMTrigger> trigger;
  TMMWaveFile file{nullptr};
  stream::test::RecordingSink recorder;
  std::atomic<int> opens{0}, closes{0}, errors{0}, stops{0};
};

TEST_F(WaveFileTest, SinkUnderATriggerWritesEveryBlock) {
  NameSink("out.wav");
  RunChain(7);
  const auto wav = Load(Path("out.wav"));
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->data, Counting(7 * kBlock));
  EXPECT_EQ(wav->fact, 7 * kBlock / 4);
  EXPECT_EQ(recorder.Blocks(), 7);
  EXPECT_EQ(opens, 1);  // each 100 when raised off the main thread
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(file.Failed());
}

// The data chunk of a file that got no data holds four bytes of the format's silence.
TEST_F(WaveFileTest, SinkWithoutDataOrDisabledWritesFourBytesOfSilence) {
  const struct {
    TWaveFormatEx format;
    char silence;
  } rows[] = {{kStereo16, 0}, {kMono8, char(128)}};
  for (const auto& row : rows) {
    formatOnly.SetPWaveFormat(&row.format);
    for (const bool enabled : {true, false}) {
      const std::string name = std::to_string(row.format.wBitsPerSample) + (enabled ? "e" : "d");
      SCOPED_TRACE(name);
      file.SetEnabled(enabled);
      NameSink(name + ".wav");
      RunDirect(enabled ? std::vector<Bytes>{} : std::vector<Bytes>{Counting(kBlock)});
      const auto wav = Load(Path(name + ".wav"), row.format);
      ASSERT_TRUE(wav);
      EXPECT_EQ(wav->data, Bytes(4, row.silence));
      EXPECT_EQ(wav->fact, 4u / row.format.nBlockAlign);
    }
  }
  EXPECT_EQ(recorder.Data().size(), 2 * kBlock);  // the disabled sink still passed its block on
  EXPECT_EQ(opens + closes, 8);
}

TEST_F(WaveFileTest, SinkWithoutFileNamePassesBlocksOnAndCreatesNothing) {
  RunDirect({Counting(kBlock), Counting(100, kBlock)});
  EXPECT_TRUE(stream::test::IsCountingSequence(recorder.Data()));
  EXPECT_EQ(recorder.Data().size(), kBlock + 100);
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(opens + closes, 0);
}

TEST_F(WaveFileTest, ReopenedSinkOverwritesFromTheStartAndKeepsTheLargerSize) {
  MakeWav("out.wav", kStereo16, Bytes(8000, 'o'));
  file.SetOverwriteExisting(false);
  NameSink("out.wav");
  RunDirect({Bytes(4000, 'n')});
  const auto wav = Load(Path("out.wav"));
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->data, Cat({Bytes(4000, 'n'), Bytes(4000, 'o')}));
}

// The disk reports exactly the room needed for two blocks, then one byte less or nothing.
class WaveFileDiskFullTest : public WaveFileTest, public testing::WithParamInterface<bool> {};

TEST_P(WaveFileDiskFullTest, SinkClosesItselfWithAValidFileAndTheChainGoesOn) {
  std::atomic<int> queries{0};
  file.SetFreeSpaceQuery([&](const std::string&) -> std::optional<std::uint64_t> {
    const std::uint64_t needed = kDefaultIOBufferSize + kBlock + kFreeSpaceReserve;
    if (++queries <= 2) return needed;
    return GetParam() ? std::nullopt : std::optional(needed - 1);
  });
  NameSink("out.wav");
  RunChain(6);
  EXPECT_EQ(queries, 3);  // the rest passed through unwritten
  auto wav = Load(Path("out.wav"));
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->data, Counting(2 * kBlock));
  EXPECT_EQ(wav->fact, 2 * kBlock / 4);
  EXPECT_TRUE(file.Failed());
  EXPECT_EQ(file.FailureMessage(), kDiskFullMessage);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(closes, 1);  // on the main thread, although the worker closed the sink
  EXPECT_EQ(recorder.Data().size(), 6 * kBlock);
  EXPECT_TRUE(stream::test::IsCountingSequence(recorder.Data()));

  file.SetFreeSpaceQuery(
      [](const std::string&) { return std::optional<std::uint64_t>(1ull << 40); });
  RunChain(3);  // the next run starts afresh
  EXPECT_FALSE(file.Failed());
  ASSERT_TRUE(wav = Load(Path("out.wav")));
  EXPECT_EQ(wav->data, Counting(3 * kBlock));
}

INSTANTIATE_TEST_SUITE_P(TooLittleOrUnknown, WaveFileDiskFullTest, testing::Bool());

TEST_F(WaveFileTest, SourceDeliversItsFileInBlocks) {
  Block block(kBlock);
  block.Pull(file);  // nothing loaded: nothing delivered
  EXPECT_EQ(block.hdr->dwBytesRecorded, 0u);
  OpenSource(kStereo16, Counting(10000));
  Bytes got;
  for (const auto& [size, more] : {std::pair{4096u, true}, {4096u, true}, {1808u, false}}) {
    EXPECT_EQ(block.Pull(file), more);
    EXPECT_EQ(block.hdr->dwBytesRecorded, size);
    got = Cat({got, block.Recorded()});
  }
  EXPECT_EQ(got, Counting(10000));
  block.Pull(file);
  EXPECT_EQ(block.hdr->dwBytesRecorded, 0u);
}

TEST_F(WaveFileTest, LoopingSourceWrapsAsOftenAsTheHeaderAllows) {
  OpenSource(kStereo16, Counting(10000));
  int loops = 0;
  file.OnLooping = [&](stream::TObject*) { ++loops; };
  Block block(kBlock);
  block.hdr->Looping = -1;
  block.hdr->LoopCount = block.hdr->LoopsLeft = 2;
  Bytes got;
  std::vector<std::uint32_t> marked;  // sizes of the blocks in which the source wrapped
  for (bool more = true; more && got.size() < 100000;) {
    more = block.Pull(file);
    got = Cat({got, block.Recorded()});
    if (block.hdr->LoopMark == -1) marked.push_back(block.hdr->dwBytesRecorded);
  }
  EXPECT_EQ(got, Cat({Counting(10000), Counting(10000), Counting(10000)}));
  EXPECT_EQ(marked, (std::vector<std::uint32_t>{1808, 1808}));
  EXPECT_EQ(loops, 2);

  block.hdr->LoopCount = block.hdr->LoopsLeft = 0;  // endless
  file.Wave()->SetPosition(0);
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(block.Pull(file));
  EXPECT_EQ(loops, 2 + 5);
}

TEST_F(WaveFileTest, StoppedOrDisabledSourceDeliversSilenceEndlessly) {
  for (const TWaveFormatEx& format : {kMono8, kStereo16}) {
    const char silence = format.wBitsPerSample == 8 ? char(128) : 0;
    OpenSource(format, Counting(format.nBlockAlign * 1000));
    file.Stop();
    Block block(kBlock);
    for (const bool enabled : {true, false}) {
      file.SetEnabled(enabled);
      for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(block.Pull(file));
        EXPECT_EQ(block.Recorded(), Bytes(kBlock, silence));
      }
      file.Start();
    }
    file.Close();
    file.SetEnabled(true);
  }
}

}  // namespace
}  // namespace wave
