#include <gtest/gtest.h>

#include <string>

#include "tests/stream/TestChain.h"

namespace stream {
namespace {

// P1 -> P2 -> S1 -> P3 -> S2 -> P4: S1 drives P1..P3, S2 drives P4.
class ChainWalkTest : public ::testing::Test {
 protected:
  ChainWalkTest() {
    p2.SetInput(&p1);
    s1.SetInput(&p2);
    p3.SetInput(&s1);
    s2.SetInput(&p3);
    p4.SetInput(&s2);
    log.clear();
  }

  // The log expected for `op` when every name in `names` gets it, in that order.
  static CallLog Calls(const std::string& op, std::initializer_list<const char*> names) {
    CallLog calls;
    for (const char* name : names) calls.push_back(std::string(name) + "." + op);
    return calls;
  }

  CallLog log;
  TestComponent p1{"P1", &log}, p2{"P2", &log};
  TestDriver s1{"S1", &log};
  TestComponent p3{"P3", &log};
  TestDriver s2{"S2", &log};
  TestComponent p4{"P4", &log};
};

TEST_F(ChainWalkTest, OpenGoesUpstreamFirstWithTheDriversBlockSize) {
  const TWaveFormatEx pcm = PcmFormat();
  p1.SetPWaveFormat(&pcm);
  s1.SetBufferSize(1001);

  s1.Open();
  // S1 stops at S2, which opens its own section before itself.
  EXPECT_EQ(log, Calls("Open", {"P1", "P2", "P3", "P4", "S2", "S1"}));
  for (TMMDSPComponent* x : TMMDSPComponent::ComponentList()) {
    EXPECT_TRUE(x->Opened()) << x->Name();
    EXPECT_EQ(x->GetBufferSize(), 1000) << x->Name();  // 1001 in whole frames of 4 bytes
  }
  EXPECT_FALSE(s1.HasUpstreamDriver());
  EXPECT_TRUE(s2.HasUpstreamDriver());
}

TEST_F(ChainWalkTest, StartPauseRestartResetAndNotifyLoopWalkLikeOpen) {
  s1.Open();
  const struct {
    void (TMMDSPComponent::*op)();
    const char* name;
  } ops[] = {{&TMMDSPComponent::Start, "Start"},
             {&TMMDSPComponent::Pause, "Pause"},
             {&TMMDSPComponent::Restart, "Restart"},
             {&TMMDSPComponent::Reset, "Reset"},
             {&TMMDSPComponent::NotifyLoop, "NotifyLoop"}};
  for (const auto& [op, name] : ops) {
    log.clear();
    (s1.*op)();
    EXPECT_EQ(log, Calls(name, {"P1", "P2", "P3", "P4", "S2", "S1"}));
  }
  for (TMMDSPComponent* x : TMMDSPComponent::ComponentList()) {
    EXPECT_TRUE(x->Started() && !x->Paused()) << x->Name();
  }
}

TEST_F(ChainWalkTest, CloseAndStopLetTheDownstreamDriverGoFirst) {
  s1.Open();
  s1.Start();
  log.clear();
  s1.Stop();
  EXPECT_EQ(log, Calls("Stop", {"P4", "S2", "P1", "P2", "P3", "S1"}));

  log.clear();
  s1.Close();
  EXPECT_EQ(log, Calls("Close", {"P4", "S2", "P1", "P2", "P3", "S1"}));
  for (TMMDSPComponent* x : TMMDSPComponent::ComponentList()) {
    EXPECT_FALSE(x->Opened() || x->Started()) << x->Name();
  }
}

TEST_F(ChainWalkTest, ADriverBelowAnotherDriverWalksOnlyItsOwnSection) {
  s2.SetBufferSize(512);
  s2.Open();
  EXPECT_EQ(log, Calls("Open", {"P4", "S2"}));
  EXPECT_TRUE(s2.HasUpstreamDriver());
  EXPECT_EQ(p4.GetBufferSize(), 512);
  EXPECT_FALSE(p1.Opened() || p3.Opened() || s1.Opened());

  log.clear();
  s2.Close();
  EXPECT_EQ(log, Calls("Close", {"P4", "S2"}));

  // Without the driver above, S2 walks from the head of what is left.
  p3.SetInput(nullptr);
  log.clear();
  s2.Open();
  EXPECT_EQ(log, Calls("Open", {"P3", "P4", "S2"}));
  EXPECT_FALSE(s2.HasUpstreamDriver());
}

}  // namespace
}  // namespace stream
