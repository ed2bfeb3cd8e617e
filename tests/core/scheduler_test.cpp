#include <gtest/gtest.h>

#include "core/manual_ports.h"
#include "core/scheduler.h"

namespace sono {

TEST(ClockScheduler, TimersFireOnTheirIntervalOnlyWhenEnabled) {
  ManualClock clock;
  ClockScheduler s(clock);
  int fast = 0, slow = 0, off = 0;
  s.add("fast", 100, true, [&] { ++fast; });
  s.add("slow", 1000, true, [&] { ++slow; });
  s.add("off", 100, false, [&] { ++off; });
  for (int i = 0; i < 25; ++i) {
    clock.advance(40);
    s.runDue();
  }
  // 1000 ms in 40 ms steps: fires at 120, 240, ... (every third step)
  EXPECT_EQ(fast, 8);
  EXPECT_EQ(slow, 1);
  EXPECT_EQ(off, 0);
  s.setEnabled("off", true);
  clock.advance(99);
  s.runDue();
  EXPECT_EQ(off, 0);  // the interval counts from the moment it was enabled
  clock.advance(1);
  s.runDue();
  EXPECT_EQ(off, 1);
  s.setInterval("slow", 50);
  clock.advance(50);
  s.runDue();
  EXPECT_EQ(slow, 2);
  EXPECT_FALSE(s.isEnabled("absent"));
  EXPECT_EQ(s.interval("absent"), 0);
}

TEST(ClockScheduler, WorkMayDisableItsOwnOrAnotherTimer) {
  ManualClock clock;
  ClockScheduler s(clock);
  int a = 0, b = 0;
  s.add("a", 10, true, [&] { ++a; s.setEnabled("b", false); s.setEnabled("a", false); });
  s.add("b", 10, true, [&] { ++b; });
  clock.advance(10);
  s.runDue();
  clock.advance(10);
  s.runDue();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
}

}  // namespace sono
