#include "platform/DiskSpace.h"

#include <gtest/gtest.h>
#include <sys/vfs.h>

namespace platform {
namespace {

constexpr long kProcSuperMagic = 0x9fa0;

TEST(DiskSpaceTest, MissingPathsAskTheirNearestExistingFolder) {
  EXPECT_TRUE(FreeBytesForPath("/tmp/does/not/exist/x.wav").has_value());
  EXPECT_TRUE(FreeBytesForPath("/tmp").has_value());
  EXPECT_TRUE(FreeBytesForPath("qd-no-such-folder/x.wav").has_value());  // relative to the cwd
  // /proc reports no free space, unlike /: the walk must stop at /proc, not at the root.
  struct statfs info {};
  if (::statfs("/proc", &info) != 0 || info.f_type != kProcSuperMagic) {
    GTEST_SKIP() << "/proc is not mounted";
  }
  EXPECT_EQ(FreeBytesForPath("/proc/qd-no-such/x.wav"), std::optional<std::uint64_t>(0));
}

TEST(DiskSpaceTest, EmptyPathHasNoAnswer) {
  EXPECT_FALSE(FreeBytesForPath("").has_value());
}

}  // namespace
}  // namespace platform
