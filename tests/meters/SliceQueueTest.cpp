// Which slices of the blocks going by a refresh may show: timed by the clock (replaced blocks
// included, up to their successor's arrival) or one at a time without it.
#include "meters/SliceQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace meters {
namespace {

// Slices of 4 bytes at 4000 bytes a second: slice k of a block is due k ms after its arrival.
constexpr std::int32_t kWindow = 4;
constexpr std::int64_t kBytesPerSecond = 4000;

struct Event {
  enum Kind { kArrive, kTake, kRepeat, kFill, kDrop } kind;
  std::int64_t atUs = 0;
  std::int32_t value = 0;  // the valid bytes of an arriving block, the byte of a fill
};

Event Arrive(std::int64_t atUs, std::int32_t valid = 3 * kWindow) {
  return {Event::kArrive, atUs, valid};
}
Event Take(std::int64_t atUs) {
  return {Event::kTake, atUs, 0};
}
Event Repeat(std::int64_t atUs) {
  return {Event::kRepeat, atUs, 0};
}

// Plays the events. Block b carries 10 × b + k in every byte of its slice k; each take shows as
// "b.k" per slice, takes separated by " | ".
std::string Play(bool timed, const std::vector<Event>& events, TMMSliceQueue& queue) {
  std::string shown;
  int blocks = 0;
  bool firstTake = true;
  for (const Event& event : events) {
    switch (event.kind) {
      case Event::kArrive: {
        const std::size_t bytes = 3 * kWindow;
        std::uint8_t* data = queue.NextBlock(bytes);
        for (std::size_t i = 0; i < bytes; ++i) {
          data[i] = static_cast<std::uint8_t>(10 * blocks + static_cast<int>(i) / kWindow);
        }
        queue.Arrived(event.value, event.atUs, timed);
        ++blocks;
        break;
      }
      case Event::kTake: {
        std::vector<std::uint8_t> out;
        const int n = queue.Take(event.atUs, kWindow, timed ? kBytesPerSecond : 0, out);
        EXPECT_EQ(out.size(), static_cast<std::size_t>(n * kWindow));
        if (!firstTake) shown += " |";
        firstTake = false;
        for (int k = 0; k < n; ++k) {
          const std::uint8_t id = out[k * kWindow];
          EXPECT_TRUE(std::all_of(&out[k * kWindow], &out[k * kWindow] + kWindow,
                                  [&](std::uint8_t b) { return b == id; }));
          shown += " " + std::to_string(id / 10) + "." + std::to_string(id % 10);
        }
        break;
      }
      case Event::kRepeat:
        queue.Repeat(event.atUs, timed);
        break;
      case Event::kFill:
        queue.Fill(static_cast<std::uint8_t>(event.value));
        break;
      case Event::kDrop:
        queue.DropPending();
        break;
    }
  }
  return shown;
}

TEST(SliceQueueTest, TakesTheSlicesThatMayShowInOrder) {
  struct Row {
    const char* name;
    bool timed;
    std::vector<Event> events;
    std::string shown;
    bool pending;
  };
  std::vector<Event> manyBlocks;
  for (int b = 0; b < 10; ++b) manyBlocks.push_back(Arrive(100 * b));
  manyBlocks.push_back(Take(1000));
  // clang-format off
  const std::vector<Row> rows = {
      {"a slice shows once its block has played up to it", true,
       {Arrive(0), Take(0), Take(999), Take(1000), Take(5000), Take(6000)},
       " 0.0 | | 0.1 | 0.2 |", false},
      {"a late take shows every due slice", true,
       {Arrive(0), Take(2500)}, " 0.0 0.1 0.2", false},
      {"not yet due", true, {Arrive(1000), Take(1500)}, " 0.0", true},
      {"a replaced block shows what fell due before its successor came, first", true,
       {Arrive(0), Take(0), Arrive(1500), Take(1600)}, " 0.0 | 0.1 1.0", true},
      {"a slice due as the successor arrives is dropped", true,
       {Arrive(0), Arrive(1000), Take(5000)}, " 0.0 1.0 1.1 1.2", false},
      {"only the newest blocks are kept", true, manyBlocks,
       " 2.0 3.0 4.0 5.0 6.0 7.0 8.0 9.0", true},
      {"a slice cut short ends the block", true,
       {Arrive(0, 2 * kWindow + 2), Take(9000)}, " 0.0 0.1", false},
      {"a block shorter than a slice shows nothing", true,
       {Arrive(0, kWindow - 1), Take(9000)}, "", false},
      {"repeat shows the newest block again from its start", true,
       {Arrive(0), Take(9000), Repeat(10000), Take(10000), Take(12000)},
       " 0.0 0.1 0.2 | 0.0 | 0.1 0.2", false},
      {"fill overwrites what is still to show", true,
       {Arrive(0), Take(0), {Event::kFill, 0, 99}, Take(9000)}, " 0.0 | 9.9 9.9", false},
      {"drop forgets what is still to show", true,
       {Arrive(0), Take(0), {Event::kDrop}, Take(9000), Repeat(9000), Take(12000)},
       " 0.0 | | 0.0 0.1 0.2", false},
      {"without a clock one slice per take", false,
       {Arrive(1000000), Take(0), Take(0)}, " 0.0 | 0.1", true},
      {"without a clock a new block replaces the old", false,
       {Arrive(0), Take(0), Arrive(0), Take(0), Take(0), Take(0), Take(0)},
       " 0.0 | 1.0 | 1.1 | 1.2 |", false},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TMMSliceQueue queue;
    EXPECT_EQ(Play(row.timed, row.events, queue), row.shown);
    EXPECT_EQ(queue.Pending(), row.pending);
    queue.Clear();
    EXPECT_FALSE(queue.HasBlock());
    EXPECT_FALSE(queue.Pending());
  }
}

}  // namespace
}  // namespace meters
