#include <gtest/gtest.h>

#include "app/NameRules.h"

namespace app {
namespace {

TEST(NameRules, WavNameDropsThreeCharactersAndAppendsWav) {
  const struct {
    const char* line;
    const char* wav;
  } rows[] = {
      {"Song.mp3", "Song.WAV"},     {"b.MP3", "b.WAV"}, {"Live.mpeg", "Live.mWAV"},
      {"Voz.mp", "VozWAV"},         {"ab", "WAV"},      {"", "WAV"},
      {"Canção.mp3", "Canção.WAV"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(WavName(QString::fromUtf8(row.line)), QString::fromUtf8(row.wav)) << row.line;
  }
}

TEST(NameRules, JoinPathPutsExactlyOneSeparator) {
  const struct {
    const char* folder;
    const char* name;
    const char* path;
  } rows[] = {
      {"/music", "a.mp3", "/music/a.mp3"},
      {"/music/", "a.mp3", "/music/a.mp3"},
      {"/", "a.mp3", "/a.mp3"},
      {"", "a.mp3", "a.mp3"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(JoinPath(row.folder, row.name), QString(row.path)) << row.folder;
  }
}

}  // namespace
}  // namespace app
