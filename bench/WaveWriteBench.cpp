// Throughput of the wave object's block I/O: writes a WAVE file of 16-bit stereo PCM through
// TMMWave::WriteBytes in 32 KiB blocks (the way the converter's sink writes), finalizes it with
// CloseFile, times an fsync of the result separately, then reads it back through
// TMMWave::ReadBytes in 32 KiB blocks.
//
// Usage: wave_write_bench <folder> [--mib N] [--drop-caches] [--keep]
//   --mib N         size of the audio data in MiB (default 1024)
//   --drop-caches   sync and drop the page cache before reading (needs root), so the read
//                   comes from the disk
//   --keep          leave the file in <folder> (its path is printed); deleted otherwise
// Prints one key=value line per figure; MB/s are 10^6 bytes per second.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "wave/Wave.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int64_t kBlockBytes = 32 * 1024;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

bool DropCaches() {
  ::sync();
  std::ofstream control("/proc/sys/vm/drop_caches");
  control << "3\n";
  control.flush();
  return static_cast<bool>(control);
}

int Usage() {
  std::fprintf(stderr, "usage: wave_write_bench <folder> [--mib N] [--drop-caches] [--keep]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::filesystem::path folder = argv[1];
  std::int64_t mib = 1024;
  bool dropCaches = false;
  bool keep = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mib" && i + 1 < argc) {
      mib = std::stoll(argv[++i]);
    } else if (arg == "--drop-caches") {
      dropCaches = true;
    } else if (arg == "--keep") {
      keep = true;
    } else {
      return Usage();
    }
  }
  const std::int64_t total = mib * 1024 * 1024;
  const std::int64_t blocks = total / kBlockBytes;
  const std::string path = (folder / "qd-wave-bench.wav").string();

  // One block of a 440 Hz tone, written again and again.
  const stream::TWaveFormatEx format{stream::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  std::vector<std::int16_t> tone(kBlockBytes / 2);
  for (std::size_t i = 0; i < tone.size(); i += 2) {
    const double t = static_cast<double>(i / 2) / format.nSamplesPerSec;
    tone[i] = tone[i + 1] =
        static_cast<std::int16_t>(12000 * std::sin(2 * std::numbers::pi * 440 * t));
  }

  try {
    const Clock::time_point writeStart = Clock::now();
    {
      wave::TMMWave out;
      out.CreateWaveFile(path, &format);
      for (std::int64_t b = 0; b < blocks; ++b) {
        if (out.WriteBytes(tone.data(), kBlockBytes) != kBlockBytes) {
          std::fprintf(stderr, "write failed at block %lld\n", static_cast<long long>(b));
          return 1;
        }
      }
      out.CloseFile();
      if (out.CloseFailed()) {
        std::fprintf(stderr, "finalizing %s failed\n", path.c_str());
        return 1;
      }
    }
    const Clock::time_point writeEnd = Clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
      std::perror("fsync");
      return 1;
    }
    const Clock::time_point fsyncEnd = Clock::now();
    ::close(fd);
    const bool dropped = dropCaches && DropCaches();

    std::vector<char> buffer(kBlockBytes);
    std::int64_t read = 0;
    std::int64_t wrong = 0;  // blocks whose start differs from what was written
    const Clock::time_point readStart = Clock::now();
    {
      wave::TMMWave in;
      in.SetFileName(path);
      in.OpenFile();
      for (std::int64_t n; (n = in.ReadBytes(buffer.data(), kBlockBytes)) > 0;) {
        read += n;
        if (std::memcmp(buffer.data(), tone.data(), 16) != 0) ++wrong;
      }
    }
    const Clock::time_point readEnd = Clock::now();
    if (read != blocks * kBlockBytes || wrong != 0) {
      std::fprintf(stderr, "read %lld bytes (%lld blocks wrong), expected %lld\n",
                   static_cast<long long>(read), static_cast<long long>(wrong),
                   static_cast<long long>(blocks * kBlockBytes));
      return 1;
    }

    const double mb = static_cast<double>(blocks * kBlockBytes) / 1e6;
    const double writeS = Seconds(writeStart, writeEnd);
    const double fsyncS = Seconds(writeEnd, fsyncEnd);
    const double readS = Seconds(readStart, readEnd);
    std::printf("file=%s\nbytes=%lld\ncaches=%s\n", path.c_str(),
                static_cast<long long>(blocks * kBlockBytes), dropped ? "dropped" : "warm");
    std::printf("write_s=%.4f\nwrite_MBps=%.1f\n", writeS, mb / writeS);
    std::printf("fsync_s=%.4f\nwrite_fsync_MBps=%.1f\n", fsyncS, mb / (writeS + fsyncS));
    std::printf("read_s=%.4f\nread_MBps=%.1f\n", readS, mb / readS);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (!keep) std::filesystem::remove(path);
  return 0;
}
