#include "cli/ProgressBar.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "cli/TerminalText.h"

namespace cli {
namespace {

using std::chrono::milliseconds;
using Running = std::vector<RunningFile>;

BatchProgress Progress(std::size_t total, std::size_t finished, Running running,
                       milliseconds elapsed = milliseconds(0), std::size_t skipped = 0) {
  return {total, finished, skipped, std::move(running), elapsed};
}

// The part of every line before the time left and the file: bar, percentage, files.
const std::string kNoneOf1 = "[--------------------]   0%  0/1 files";  // 38 columns

TEST(ProgressBarTest, Lines) {
  struct Case {
    const char* name;
    BatchProgress progress;
    std::size_t width;
    std::string expected;
  };
  const Case kCases[] = {
      {"nothing yet", Progress(4, 0, {}), 80, "[--------------------]   0%  0/4 files"},
      {"done files and running halves",
       Progress(4, 2, {{"a.mp3", 500}, {"b.mp3", 500}}, milliseconds(3000)), 80,
       "[###############-----]  75%  2/4 files  0:01 left  a.mp3 +1 more"},
      {"never 100% before the end", Progress(1, 0, {{"a", 999}}), 80,
       "[###################-]  99%  0/1 files  0:00 left  a"},

      // The time left: not before 3% are done or a second has passed.
      {"too early", Progress(10, 0, {{"a", 20}}, milliseconds(999)), 80,
       "[--------------------]   0%  0/10 files  a"},
      {"after a second", Progress(10, 0, {{"a", 20}}, milliseconds(1000)), 80,
       "[--------------------]   0%  0/10 files  8:19 left  a"},
      {"below 3%", Progress(1, 0, {{"a", 29}}, milliseconds(100)), 80,
       "[--------------------]   2%  0/1 files  a"},
      {"at 3%", Progress(1, 0, {{"a", 30}}, milliseconds(100)), 80,
       "[--------------------]   3%  0/1 files  0:03 left  a"},
      {"hours", Progress(100, 1, {}, milliseconds(60000)), 80,
       "[--------------------]   1%  1/100 files  1:39:00 left"},
      // Nine skipped files took no time: the guess rests on the one being converted.
      {"skipped files are no work", Progress(10, 9, {{"a", 100}}, milliseconds(400), 9), 80,
       "[##################--]  91%  9/10 files  0:04 left  a"},

      // Cutting to the width: the file name from the left, then the whole line.
      {"name cut", Progress(1, 0, {{"/music/Album/Song.mp3", 0}}), 50,
       kNoneOf1 + "  \u2026/Song.mp3"},
      {"code points, not bytes", Progress(1, 0, {{"\u00c1lbum/Can\u00e7\u00e3o.mp3", 0}}), 56,
       kNoneOf1 + "  \u00c1lbum/Can\u00e7\u00e3o.mp3"},
      {"cut between code points", Progress(1, 0, {{"\u00c1lbum/Can\u00e7\u00e3o.mp3", 0}}), 55,
       kNoneOf1 + "  \u2026bum/Can\u00e7\u00e3o.mp3"},
      {"wide characters take two columns", Progress(1, 0, {{"\u65e5\u672c\u8a9e.mp3", 0}}), 49,
       kNoneOf1 + "  \u2026\u672c\u8a9e.mp3"},
      {"the others stay whole", Progress(3, 0, {{"a/one.mp3", 0}, {"b", 0}, {"c", 0}}), 56,
       "[--------------------]   0%  0/3 files  \u2026one.mp3 +2 more"},
      {"no room for a name", Progress(1, 0, {{"/music/Album/Song.mp3", 0}}), 47, kNoneOf1},
      {"narrow terminal", Progress(4, 1, {{"a", 250}}), 10, "[######---"},

      // What a name may hold that must not reach the terminal as it is.
      {"control characters", Progress(1, 0, {{"a\x1b[2J\rb\n\x7f\xc2\x9b.mp3", 0}}), 80,
       kNoneOf1 + "  a?[2J?b???.mp3"},
      {"bytes that are not UTF-8", Progress(1, 0, {{"caf\xe9 \xed\xa0\x80\xc0\xaf.mp3", 0}}), 80,
       kNoneOf1 + "  caf? ?????.mp3"},
  };
  for (const Case& c : kCases) {
    const std::string line = FormatProgressLine(c.progress, c.width);
    EXPECT_EQ(line, c.expected) << c.name;
    EXPECT_LE(DisplayColumns(line), c.width) << c.name;
  }
}

TEST(ProgressBarTest, RedrawsOnlyWhatChangedAndErasesOnce) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    ProgressBar bar(fds[1]);  // not a terminal: 80 columns
    const BatchProgress first = Progress(2, 0, {{"a.mp3", 100}});
    const BatchProgress second = Progress(2, 1, {{"b.mp3", 0}});
    bar.Update(first);
    bar.Update(first);
    bar.Update(second);
    bar.Clear();
    bar.Clear();
    bar.Update(second);
  }  // the destructor erases the last line
  ::close(fds[1]);
  std::string written;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) written.append(buffer, n);
  ::close(fds[0]);
  const std::string first = "[#-------------------]   5%  0/2 files  0:00 left  a.mp3";
  const std::string second = "[##########----------]  50%  1/2 files  0:00 left  b.mp3";
  const std::string erase = "\r\033[K";
  EXPECT_EQ(written, "\r" + first + "\033[K\r" + second + "\033[K" + erase + "\r" + second +
                         "\033[K" + erase);
}

}  // namespace
}  // namespace cli
