#include <gtest/gtest.h>

#include "app/NameRules.h"

namespace app {
namespace {

TEST(NameRules, WavNameDropsThreeCharactersAndAppendsWav) {
  const struct {
    const char* name;
    const char* wav;
  } rows[] = {
      {"Song.mp3", "Song.WAV"},
      {"b.MP3", "b.WAV"},
      {"Live.mpeg", "Live.mWAV"},
      {"Voz.mp", "VozWAV"},
      {"ab", "WAV"},
      {"", "WAV"},
      {"Canção.mp3", "Canção.WAV"},
      // A character is a whole UTF-8 sequence, or one byte that is not UTF-8.
      {"x.m\xc3\xa9\xc3\xa9", "x.WAV"},
      {"caf\xe9.mp3", "caf\xe9.WAV"},
      {"a.\xe9\xe9", "aWAV"},
      {"song.\xe2\x82", "songWAV"},  // a cut sequence counts byte by byte
  };
  for (const auto& row : rows) {
    EXPECT_EQ(WavFileName(QByteArray(row.name)), QByteArray(row.wav)) << row.name;
  }
}

TEST(NameRules, JoinFileNamePutsExactlyOneSeparatorAndKeepsTheNameBytes) {
  const struct {
    const char* folder;
    const char* name;
    const char* path;
  } rows[] = {
      {"/music", "a.mp3", "/music/a.mp3"},
      {"/music/", "a.mp3", "/music/a.mp3"},
      {"/", "a.mp3", "/a.mp3"},
      {"", "a.mp3", "a.mp3"},
      {"/músicas", "caf\xe9.mp3", "/m\xc3\xbasicas/caf\xe9.mp3"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(JoinFileName(QString::fromUtf8(row.folder), row.name), row.path) << row.folder;
  }
}

TEST(NameRules, DisplayNameShowsStrayBytesAsReplacementCharacters) {
  EXPECT_EQ(DisplayName(QByteArray("caf\xe9.mp3")), QString::fromUtf8("caf\xef\xbf\xbd.mp3"));
  EXPECT_EQ(DisplayName(std::string("Canção.mp3")), QString::fromUtf8("Canção.mp3"));
}

}  // namespace
}  // namespace app
