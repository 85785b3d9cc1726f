#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/stream/TestChain.h"

namespace stream {
namespace {

bool SameFormat(const TWaveFormatEx* a, const TWaveFormatEx& b) {
  return a != nullptr && std::memcmp(a, &b, sizeof b) == 0;
}

TEST(LinkingTest, SelfLinksAndLoopsAreRefusedSilently) {
  TestComponent a("A"), b("B"), c("C");
  a.SetInput(&a);
  a.SetOutput(&a);
  EXPECT_EQ(a.GetInput(), nullptr);
  EXPECT_EQ(a.GetOutput(), nullptr);

  b.SetInput(&a);
  c.SetInput(&b);  // A -> B -> C
  a.SetInput(&c);
  a.SetInput(&b);
  c.SetOutput(&a);
  b.SetOutput(&a);
  EXPECT_EQ(a.GetInput(), nullptr);
  EXPECT_EQ(a.GetOutput(), &b);
  EXPECT_EQ(b.GetInput(), &a);
  EXPECT_EQ(b.GetOutput(), &c);
  EXPECT_EQ(c.GetInput(), &b);
  EXPECT_EQ(c.GetOutput(), nullptr);
}

TEST(LinkingTest, OnlyARealChangeStopsTheComponent) {
  TestComponent a("A"), b("B");
  b.SetInput(&a);
  a.Open();
  a.Start();
  b.Open();
  b.Start();
  a.stops = b.stops = 0;

  b.SetInput(&a);
  a.SetOutput(&b);
  EXPECT_EQ(b.stops, 0);
  EXPECT_EQ(a.stops, 0);
  EXPECT_TRUE(b.Started());

  b.SetInput(nullptr);
  EXPECT_EQ(b.stops, 1);
  EXPECT_FALSE(b.Started());
}

TEST(LinkingTest, TakingAComponentAsInputUnlinksItsPreviousOutput) {
  const TWaveFormatEx first = PcmFormat(44100), second = PcmFormat(8000, 1, 8);
  TestComponent v("V"), w("W"), x("X");
  v.SetPWaveFormat(&first);
  w.SetInput(&v);
  x.SetPWaveFormat(&second);

  x.SetInput(&v);
  EXPECT_EQ(v.GetOutput(), &x);
  EXPECT_EQ(x.GetInput(), &v);
  EXPECT_EQ(w.GetInput(), nullptr);
  EXPECT_EQ(w.InputLinkName(), "");
  EXPECT_EQ(x.InputLinkName(), "Output");
  EXPECT_EQ(v.OutputLinkName(), "Input");
  EXPECT_TRUE(SameFormat(w.GetPWaveFormat(), first));  // W keeps what it had
  EXPECT_TRUE(SameFormat(x.GetPWaveFormat(), first));
}

TEST(LinkingTest, TakingAComponentAsOutputUnlinksItsPreviousInput) {
  const TWaveFormatEx first = PcmFormat(44100), second = PcmFormat(8000, 1, 8);
  TestComponent u("U"), v("V"), x("X");
  u.SetPWaveFormat(&first);
  v.SetInput(&u);
  x.SetPWaveFormat(&second);

  x.SetOutput(&v);
  EXPECT_EQ(v.GetInput(), &x);
  EXPECT_EQ(x.GetOutput(), &v);
  EXPECT_EQ(u.GetOutput(), nullptr);
  EXPECT_EQ(u.OutputLinkName(), "");
  EXPECT_EQ(v.InputLinkName(), "Output");
  EXPECT_EQ(x.OutputLinkName(), "Input");
  EXPECT_TRUE(SameFormat(u.GetPWaveFormat(), first));
  EXPECT_TRUE(SameFormat(v.GetPWaveFormat(), second));
}

// A composite that publishes no Input takes its last inner stage as Input through the allow flag;
// when the composite goes, the stage must not keep pointing at it.
TEST(LinkingTest, UnpublishedLinksNeedTheAllowFlagAndAreStillCutOnDestruction) {
  TestComponent stage("Stage"), sink("Sink");
  auto file = std::make_unique<TestComponent>("File");
  file->PublishLinks(false, true);
  stage.SetOutput(file.get());
  EXPECT_EQ(stage.GetOutput(), nullptr);
  file->AllowInputLink = true;
  stage.SetOutput(file.get());
  file->AllowInputLink = false;
  EXPECT_EQ(file->GetInput(), &stage);
  file.reset();
  EXPECT_EQ(stage.GetOutput(), nullptr);

  auto source = std::make_unique<TestComponent>("Source");
  source->PublishLinks(true, false);
  sink.SetInput(source.get());
  EXPECT_EQ(sink.GetInput(), nullptr);
  source->AllowOutputLink = true;
  sink.SetInput(source.get());
  EXPECT_EQ(source->GetOutput(), &sink);
  source.reset();
  EXPECT_EQ(sink.GetInput(), nullptr);
}

TEST(LinkingTest, DestroyingALinkedComponentClearsBothNeighbours) {
  const TWaveFormatEx format = PcmFormat();
  TestComponent a("A"), c("C");
  a.SetPWaveFormat(&format);
  {
    TestComponent b("B");
    b.SetInput(&a);
    c.SetInput(&b);
    ASSERT_TRUE(SameFormat(c.GetPWaveFormat(), format));
  }
  EXPECT_EQ(a.GetOutput(), nullptr);
  EXPECT_EQ(a.OutputLinkName(), "");
  EXPECT_EQ(c.GetInput(), nullptr);
  EXPECT_EQ(c.InputLinkName(), "");
  EXPECT_EQ(c.GetPWaveFormat(), nullptr);
}

TEST(LinkingTest, AnOwnerTakesItsLinkedComponentsOutOfTheChain) {
  TestComponent head("Head"), tail("Tail");
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* first = new TestComponent("First", nullptr, owner.get());
  auto* second = new TestComponent("Second", nullptr, owner.get());
  first->SetInput(&head);
  second->SetInput(first);
  tail.SetInput(second);

  owner.reset();
  EXPECT_EQ(head.GetOutput(), nullptr);
  EXPECT_EQ(tail.GetInput(), nullptr);
  EXPECT_EQ(TMMDSPComponent::ComponentList(), (std::vector<TMMDSPComponent*>{&head, &tail}));
}

TEST(LinkingTest, RemovalNoticeUnlinksTheRemovedNeighbour) {
  const TWaveFormatEx format = PcmFormat();
  TestComponent a("A"), b("B"), c("C");
  a.SetPWaveFormat(&format);
  b.SetInput(&a);
  c.SetInput(&b);

  b.Notification(&a, TOperation::opInsert);
  EXPECT_EQ(b.GetInput(), &a);

  b.Notification(&a, TOperation::opRemove);
  EXPECT_EQ(b.GetInput(), nullptr);
  EXPECT_EQ(a.GetOutput(), nullptr);
  EXPECT_EQ(c.GetPWaveFormat(), nullptr);
  EXPECT_EQ(b.GetOutput(), &c);

  b.Notification(&c, TOperation::opRemove);
  EXPECT_EQ(b.GetOutput(), nullptr);
  EXPECT_EQ(c.GetInput(), nullptr);
}

}  // namespace
}  // namespace stream
