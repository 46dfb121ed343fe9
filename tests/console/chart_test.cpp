// The count axis of the histogram charts.
#include "console/chart.hpp"

#include <gtest/gtest.h>

namespace console {
namespace {

TEST(ConsoleAxisTop, RoundsUpToRoundGridSteps) {
  static const struct {
    int64_t top;
    int ticks;
    int64_t axis, step;
  } cases[] = {{300, 5, 300, 100},
               {0, 5, 1, 1},
               {7, 5, 8, 2},
               {301, 5, 400, 100},
               {2147483647, 2, 2000000000 * 2LL, 2000000000},
               {300, 2, 400, 200}};
  for (const auto &c : cases) {
    int64_t step = 0;
    EXPECT_EQ(axis_top(c.top, c.ticks, &step), c.axis) << c.top;
    EXPECT_EQ(step, c.step) << c.top;
  }
}

}  // namespace
}  // namespace console
