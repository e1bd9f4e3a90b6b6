// Refusal log lines: the first of a cause at once, then at most one per period, each
// telling how many of its cause were left out since the last.
#include <gtest/gtest.h>

#include <optional>

#include "litterpose_ros/refusals.h"

namespace {

using litterpose_ros::RefusalThrottle;
using namespace std::chrono_literals;

TEST(RefusalThrottle, OneLinePerCauseAndPeriodWithTheCountLeftOut) {
  struct Step {
    const char* cause;
    std::chrono::milliseconds at;
    std::optional<std::uint64_t> admitted;  // the number left out, when logged
  };
  const Step steps[] = {
      {"unreadable_cloud", 0ms, 0},
      {"unreadable_cloud", 1ms, std::nullopt},
      {"no_transform", 2ms, 0},  // another cause has a period of its own
      {"unreadable_cloud", 9999ms, std::nullopt},
      {"unreadable_cloud", 10000ms, 2},
      {"unreadable_cloud", 10001ms, std::nullopt},
      {"no_transform", 10002ms, 0},
      {"unreadable_cloud", 60000ms, 1},
      {"unreadable_cloud", 70000ms, 0},
  };
  RefusalThrottle throttle(10s);
  const auto start = RefusalThrottle::Clock::now();
  for (const Step& s : steps)
    EXPECT_EQ(throttle.admit(s.cause, start + s.at), s.admitted) << s.cause << " at " << s.at.count();
}

}  // namespace
