// A file cut by mpeg_PlanSegments and decoded one segment per instance must give, segments put
// in order, exactly the bytes of one decode of the whole file; files that cannot be cut safely
// come back as one segment.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/mpegdec/MpegDecTestSupport.h"

namespace mpegdec_test {
namespace {

struct Reading {
  std::vector<uint8_t> bytes;
  int32_t error = 0;
  bool done = false;
};

Reading readAll(MPEG_HANDLE handle) {
  Reading out;
  std::vector<uint8_t> buffer(40000);
  for (int reads = 0; !mpeg_GetDone(handle) && reads < 1000000; ++reads) {
    const int32_t got = mpeg_ReadDataBytes(handle, buffer.data(), int32_t(buffer.size()));
    if (got <= 0) {
      out.error = got;
      break;
    }
    out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + got);
  }
  out.done = mpeg_GetDone(handle) != 0;
  return out;
}

// Binds `path` in `format`; the instance is then ready to open.
void bindFile(const Instance& instance, const std::string& path, int format) {
  ASSERT_EQ(mpeg_SetSampleFormat(instance.get(), format), MPEG_OK);
  ASSERT_EQ(mpeg_SetFileName(instance.get(), path.c_str()), MPEG_OK) << path;
}

std::vector<uint8_t> wholeDecode(const std::string& path, int format) {
  Instance instance;
  bindFile(instance, path, format);
  EXPECT_EQ(mpeg_OpenFile(instance.get()), MPEG_OK);
  return readAll(instance.get()).bytes;
}

std::vector<TMpegSegment> plan(const std::string& path, int32_t max, int64_t minSamples) {
  Instance instance;
  bindFile(instance, path, MPEG_SAMPLES_S16);
  std::vector<TMpegSegment> segments(size_t(max) + 1);
  int32_t count = -1;
  EXPECT_EQ(mpeg_PlanSegments(instance.get(), max, minSamples, segments.data(), &count), MPEG_OK);
  EXPECT_GE(count, 1);
  EXPECT_LE(count, max);
  segments.resize(size_t(std::max(count, 0)));
  return segments;
}

// Each segment on a fresh instance of its own, joined in order.
std::vector<uint8_t> segmentDecode(const std::string& path, int format,
                                   const std::vector<TMpegSegment>& segments) {
  std::vector<uint8_t> joined;
  for (const TMpegSegment& segment : segments) {
    Instance instance;
    bindFile(instance, path, format);
    EXPECT_EQ(mpeg_OpenSegment(instance.get(), &segment), MPEG_OK) << segment.FirstFrame;
    const Reading reading = readAll(instance.get());
    EXPECT_EQ(reading.error, 0) << segment.FirstFrame;
    EXPECT_TRUE(reading.done) << segment.FirstFrame;
    joined.insert(joined.end(), reading.bytes.begin(), reading.bytes.end());
  }
  return joined;
}

// The segments follow each other from sample 0 to the end, frames and samples alike.
void expectCover(const std::vector<TMpegSegment>& segments, int64_t total, int64_t minSamples,
                 const std::string& what) {
  int64_t sample = 0;
  int32_t frame = 0;
  for (const TMpegSegment& segment : segments) {
    EXPECT_EQ(segment.FirstSample, sample) << what;
    EXPECT_EQ(segment.FirstFrame, frame) << what;
    EXPECT_LT(segment.FirstFrame, segment.EndFrame) << what;
    if (segments.size() > 1) {
      EXPECT_GE(segment.Samples, minSamples) << what;
    }
    sample += segment.Samples;
    frame = segment.EndFrame;
  }
  EXPECT_EQ(sample, total) << what;
}

int64_t totalSamples(const std::string& path, int format, size_t bytes) {
  Instance instance;
  bindFile(instance, path, format);
  const int channels = channelsOf(instance.info());
  return int64_t(bytes) / (channels * (format == MPEG_SAMPLES_S16 ? 2 : 4));
}

// Every plan of `path` (at most 2, 3, 5 or `most` segments, no and a long minimum length)
// decodes to the whole decode; whether the file is cut at all must be `cut`.
void checkFile(const std::string& path, bool cut, int32_t most) {
  for (const int format : {MPEG_SAMPLES_S16, MPEG_SAMPLES_FLOAT32}) {
    const auto whole = wholeDecode(path, format);
    ASSERT_FALSE(whole.empty()) << path;
    const int64_t total = totalSamples(path, format, whole.size());
    for (const int32_t max : {2, 3, 5, most}) {
      for (const int64_t minSamples : {int64_t(0), total / 4}) {
        const std::string what = path + " format " + std::to_string(format) + " max " +
                                 std::to_string(max) + " min " + std::to_string(minSamples);
        const auto segments = plan(path, max, minSamples);
        expectCover(segments, total, minSamples, what);
        EXPECT_EQ(segments.size() > 1, cut) << what;
        EXPECT_TRUE(segmentDecode(path, format, segments) == whole) << what;
      }
    }
  }
}

TEST(MpegDecSegments, JoinedSegmentsEqualOneDecodeOrFileIsNotCut) {
  const struct {
    const char* name;
    bool cut;
  } files[] = {
      {"cbr44_joint.mp3", true},
      {"vbr44_joint.mp3", true},
      {"cbr48_mono.mp3", true},
      {"vbr32_stereo.mp3", true},
      {"notag_cbr44.mp3", true},
      {"dual48.mp3", true},
      {"crc44.mp3", true},
      {"free44.mp3", true},
      {"layer2_48.mp2", true},
      {"layer2_24mono.mp2", true},
      {"layer1_48.mp1", true},
      {"ape_id3v1.mp3", true},
      {"truncated.mp3", true},
      {"mp3_in_wav.wav", true},
      {"mp2_in_wav.wav", true},
      // MPEG 2 and 2.5 layer III.
      {"cbr22_joint.mp3", false},
      {"vbr16_mono.mp3", false},
      {"cbr11_stereo.mp3", false},
      {"cbr8_mono.mp3", false},
      {"notag_vbr22.mp3", false},
      {"id3v2_big.mp3", false},
      {"junk_start.mp3", false},
      // Format changes, junk between frames.
      {"mono_stereo.mp3", false},
      {"stereo_mono.mp3", false},
      {"rate_switch.mp3", false},
      {"junk_middle.mp3", false},
      {"damaged.mp3", false},
  };
  // 5000: as many segments as the length allows, a cut every two or three frames.
  for (const auto& file : files) checkFile(fixture(file.name), file.cut, 5000);
}

TEST(MpegDecSegments, LongGeneratedFileJoinsExactly) {
  if (std::system("command -v sox >/dev/null 2>&1 && command -v lame >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs sox and lame";
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("mpegdec-seg-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string wav = (dir / "x.wav").string(), mp3 = (dir / "x.mp3").string();
  // A sweep on the left and noise on the right keep the bit reservoir busy.
  ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 '" + wav +
                         "' synth 60 sine 100-8000 pinknoise vol 0.5 && lame --silent -V2 '" + wav +
                         "' '" + mp3 + "'")
                            .c_str()),
            0);
  checkFile(mp3, true, 8);
  std::filesystem::remove_all(dir);
}

TEST(MpegDecSegments, RefusesSegmentsNotOfThePlanAndPositioningWithinOne) {
  const std::string path = fixture("cbr44_joint.mp3");
  const auto segments = plan(path, 3, 1);
  ASSERT_EQ(segments.size(), 3u);
  Instance instance;
  bindFile(instance, path, MPEG_SAMPLES_S16);
  TMpegSegment shifted = segments[1];
  shifted.FirstSample += 1;
  TMpegSegment beyond = segments[2];
  beyond.EndFrame += 1;
  for (const TMpegSegment& bad : {shifted, beyond}) {
    EXPECT_EQ(mpeg_OpenSegment(instance.get(), &bad), MPEG_ERR_BAD_ARGUMENT);
    EXPECT_FALSE(mpeg_GetDone(instance.get()) == 0);  // not open
  }
  EXPECT_EQ(mpeg_OpenSegment(instance.get(), nullptr), MPEG_ERR_BAD_ARGUMENT);

  ASSERT_EQ(mpeg_OpenSegment(instance.get(), &segments[1]), MPEG_OK);
  EXPECT_EQ(mpeg_GetPosition(instance.get()), segments[1].FirstSample / instance.samplesPerFrame());
  EXPECT_EQ(mpeg_OpenSegment(instance.get(), &segments[1]), MPEG_ERR_ALREADY_OPEN);
  EXPECT_EQ(mpeg_SetPosition(instance.get(), 0), MPEG_ERR_UNSUPPORTED);
  EXPECT_EQ(mpeg_ResetFile(instance.get()), MPEG_ERR_UNSUPPORTED);
  EXPECT_EQ(mpeg_SetSampleFormat(instance.get(), MPEG_SAMPLES_FLOAT32), MPEG_ERR_ALREADY_OPEN);
  EXPECT_EQ(mpeg_CloseFile(instance.get()), MPEG_OK);

  int32_t count = 0;
  TMpegSegment room[1];
  EXPECT_EQ(mpeg_PlanSegments(instance.get(), 0, 1, room, &count), MPEG_ERR_BAD_ARGUMENT);
  EXPECT_EQ(mpeg_PlanSegments(instance.get(), 1, -1, room, &count), MPEG_ERR_BAD_ARGUMENT);
  ASSERT_EQ(mpeg_Clear(instance.get()), MPEG_OK);
  EXPECT_EQ(mpeg_PlanSegments(instance.get(), 1, 1, room, &count), MPEG_ERR_NO_FILE);
  EXPECT_EQ(mpeg_OpenSegment(instance.get(), &segments[0]), MPEG_ERR_NO_FILE);
}

}  // namespace
}  // namespace mpegdec_test
