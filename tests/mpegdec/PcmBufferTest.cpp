// The PCM buffer against a plain byte vector: appends into uninitialised room, drops at either
// end, erasure from the middle, and the moves that reuse or grow its storage.
#include "mpegdec/PcmBuffer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using mpegdec::PcmBuffer;

enum class Op { Append, Zeros, DropFront, DropBack, Erase, Clear };
struct Step {
  Op op;
  size_t bytes;
  size_t offset = 0;  // Erase only
};

// Applies a step to the buffer and to the model; appended bytes get a running pattern.
void apply(const Step& step, PcmBuffer& buffer, std::vector<uint8_t>& model, uint8_t& next) {
  switch (step.op) {
    case Op::Append: {
      uint8_t* room = buffer.appendUninitialised(step.bytes);
      for (size_t i = 0; i < step.bytes; ++i, ++next) {
        room[i] = next;
        model.push_back(next);
      }
      break;
    }
    case Op::Zeros:
      buffer.appendZeros(step.bytes);
      model.insert(model.end(), step.bytes, 0);
      break;
    case Op::DropFront:
      buffer.dropFront(step.bytes);
      model.erase(model.begin(), model.begin() + ptrdiff_t(std::min(step.bytes, model.size())));
      break;
    case Op::DropBack:
      buffer.dropBack(step.bytes);
      model.resize(model.size() - std::min(step.bytes, model.size()));
      break;
    case Op::Erase: {
      const size_t at = std::min(step.offset, model.size());
      const size_t n = std::min(step.bytes, model.size() - at);
      buffer.erase(step.offset, step.bytes);
      model.erase(model.begin() + ptrdiff_t(at), model.begin() + ptrdiff_t(at + n));
      break;
    }
    case Op::Clear:
      buffer.clear();
      model.clear();
      break;
  }
}

::testing::AssertionResult same(const PcmBuffer& buffer, const std::vector<uint8_t>& model) {
  if (buffer.size() != model.size() || buffer.empty() != model.empty()) {
    return ::testing::AssertionFailure() << "size " << buffer.size() << " != " << model.size();
  }
  for (size_t i = 0; i < model.size(); ++i) {
    if (buffer.data()[i] != model[i]) return ::testing::AssertionFailure() << "byte " << i;
  }
  return ::testing::AssertionSuccess();
}

TEST(PcmBuffer, BehavesAsAByteQueue) {
  struct Row {
    const char* name;
    std::vector<Step> steps;
  };
  const Row rows[] = {
      {"append twice grows and keeps the first bytes", {{Op::Append, 100}, {Op::Append, 5000}}},
      {"delivered front is reused without growing",
       {{Op::Append, 1000}, {Op::DropFront, 900}, {Op::Append, 900}, {Op::Append, 1}}},
      {"growth after a drop copies only what is held",
       {{Op::Append, 64}, {Op::DropFront, 10}, {Op::Append, 4096}}},
      {"drops beyond the size empty it",
       {{Op::Append, 8}, {Op::DropFront, 9}, {Op::Append, 3}, {Op::DropBack, 7}, {Op::Append, 2}}},
      {"erase at the front, middle and end",
       {{Op::Append, 300}, {Op::Erase, 20, 0}, {Op::Erase, 30, 100}, {Op::Erase, 50, 230}}},
      {"erase past the end is cut", {{Op::Append, 40}, {Op::Erase, 100, 30}, {Op::Erase, 5, 99}}},
      {"erase after a front drop", {{Op::Append, 500}, {Op::DropFront, 200}, {Op::Erase, 50, 10}}},
      {"zeros after data, then clear and reuse",
       {{Op::Append, 10}, {Op::Zeros, 20}, {Op::Clear, 0}, {Op::Append, 30}, {Op::Zeros, 1}}},
      {"a decode chunk trimmed back to what was decoded",
       {{Op::Append, 16384}, {Op::DropBack, 16000}, {Op::Append, 16384}, {Op::DropBack, 16384}}},
  };
  for (const Row& row : rows) {
    PcmBuffer buffer;
    std::vector<uint8_t> model;
    uint8_t next = 1;
    for (size_t i = 0; i < row.steps.size(); ++i) {
      apply(row.steps[i], buffer, model, next);
      ASSERT_TRUE(same(buffer, model)) << row.name << ", step " << i;
    }
  }
}

TEST(PcmBuffer, LongRandomUseMatchesTheModel) {
  std::mt19937 random(7);
  PcmBuffer buffer;
  std::vector<uint8_t> model;
  uint8_t next = 1;
  for (int i = 0; i < 5000; ++i) {
    const unsigned pick = unsigned(random() % 41);  // Clear only now and then
    const Op op = pick < 40 ? Op(pick % 5) : Op::Clear;
    const Step step{op, random() % 3000, random() % 3000};
    apply(step, buffer, model, next);
    ASSERT_TRUE(same(buffer, model)) << "step " << i;
  }
}

}  // namespace
