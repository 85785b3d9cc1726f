// Times one MP3 conversion through the window's chain (audio file source → trigger with 32768-
// byte blocks → wave file sink), the same conversion through the synchronous driver (no pause
// between blocks), and the decoding alone (into a sink that drops the blocks), so that the
// trigger's overhead beyond its required 1 ms pause per block can be told apart.
// Usage: mp3_chain_bench IN.mp3 OUT.wav   Prints key=value lines.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/Dispatcher.h"
#include "sources/AudioFile.h"
#include "stream/SyncDriver.h"
#include "stream/Trigger.h"
#include "wave/WaveFile.h"

namespace {

using Clock = std::chrono::steady_clock;

class NullSink : public stream::TMMDSPComponent {
 public:
  NullSink() : stream::TMMDSPComponent(nullptr) { PublishLinks(true, false); }
  void BufferReady(stream::PWaveHdr h) override {
    ++blocks;
    bytes += h->dwBytesRecorded;
  }
  long blocks = 0;
  long long bytes = 0;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IN.mp3 OUT.wav\n", argv[0]);
    return 2;
  }
  const std::string in = argv[1];
  const std::string out = argv[2];
  try {
    // Decoding alone.
    long blocks = 0;
    Clock::time_point t0 = Clock::now();
    {
      sources::TMMAudioFile source(nullptr);
      stream::TMMSyncDriver driver(nullptr);
      NullSink sink;
      driver.SetBufferSize(32768);
      driver.SetInput(&source);
      driver.SetOutput(&sink);
      source.SetFileName(in);
      driver.Run();
      driver.SetInput(nullptr);
      driver.SetOutput(nullptr);
      blocks = sink.blocks;
    }
    const double decode = Seconds(Clock::now() - t0);

    // The same conversion without the trigger's pause.
    t0 = Clock::now();
    {
      sources::TMMAudioFile source(nullptr);
      stream::TMMSyncDriver driver(nullptr);
      wave::TMMWaveFile sink(nullptr);
      driver.SetBufferSize(32768);
      driver.SetInput(&source);
      driver.SetOutput(&sink);
      sink.Wave()->SetFileMustExist(false);
      source.SetFileName(in);
      sink.Wave()->SetFileName(out);
      driver.Run();
      driver.SetInput(nullptr);
      driver.SetOutput(nullptr);
    }
    const double convert = Seconds(Clock::now() - t0);

    // The trigger chain, as the window runs it.
    t0 = Clock::now();
    {
      sources::TMMAudioFile source(nullptr);
      stream::TMMTrigger trigger(nullptr);
      wave::TMMWaveFile sink(nullptr);
      trigger.SetBufferSize(32768);
      trigger.SetInput(&source);
      trigger.SetOutput(&sink);
      sink.Wave()->SetFileMustExist(false);
      source.SetFileName(in);
      sink.Wave()->SetFileName(out);
      bool stopped = false;
      trigger.OnStop = [&](stream::TObject*) {
        trigger.Close();
        stopped = true;
      };
      trigger.Start();
      if (!platform::Dispatcher::Instance().RunUntil([&] { return stopped; },
                                                     std::chrono::minutes(10))) {
        std::fprintf(stderr, "the conversion did not finish\n");
        return 1;
      }
      trigger.SetInput(nullptr);
      trigger.SetOutput(nullptr);
      if (sink.Failed()) {
        std::fprintf(stderr, "%s\n", sink.FailureMessage().c_str());
        return 1;
      }
    }
    const double chain = Seconds(Clock::now() - t0);
    const double pauses = blocks * 0.001;
    std::printf(
        "decode_s=%.4f\nsync_convert_s=%.4f\nblocks=%ld\ntrigger_chain_s=%.4f\n"
        "ratio_decode=%.3f\nratio=%.3f\n",
        decode, convert, blocks, chain, chain / (decode + pauses), chain / (convert + pauses));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
