#include "tessel_tools/report.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace tessel_tools {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

TEST(Report, NearestRankPercentileIndex) {
  struct Case {
    std::size_t n, p, index;
  };
  const Case cases[] = {
      {1, 50, 0}, {1, 95, 0}, {2, 50, 0}, {2, 95, 1}, {4, 50, 1}, {4, 95, 3},
      {19, 95, 18}, {20, 95, 18}, {100, 95, 94}, {5, 50, 2}, {1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "n=" << c.n << " p=" << c.p);
    EXPECT_EQ(percentile_index(c.n, c.p), c.index);
  }
}

TEST(Report, StatisticsAndMilliseconds) {
  const auto stats = duration_statistics({milliseconds(3), milliseconds(1), milliseconds(4), milliseconds(2)});
  EXPECT_EQ(fmt::format("{:.3f} {:.3f} {:.3f} {:.3f}", duration_ms(stats.minimum), duration_ms(stats.median),
                        duration_ms(stats.p95), duration_ms(stats.maximum)),
            "1.000 2.000 4.000 4.000");
  const auto single = duration_statistics({microseconds(250)});
  EXPECT_EQ(single.minimum, single.maximum);
  EXPECT_EQ(single.median, single.p95);
  EXPECT_EQ(total_line(microseconds(250)), "totalMs=0.250\n");
  EXPECT_EQ(total_line(milliseconds(1500)), "totalMs=1500.000\n");
  EXPECT_EQ(total_line(std::chrono::nanoseconds(1'234'567)), "totalMs=1.235\n");
}

TEST(Report, HeaderLine) {
  Arguments args;
  args.snapshot = "examples/small.json";
  args.warmup = 2;
  args.iterations = 5;
  EXPECT_EQ(header_line(args, 1472, 3),
            "snapshot=examples/small.json tiles=1472 phases=3 warmup=2 iterations=5 repeatAware=true\n");
  args.first_iteration_only = true;
  EXPECT_EQ(header_line(args, 1, 0),
            "snapshot=examples/small.json tiles=1 phases=0 warmup=2 iterations=5 repeatAware=false\n");
}

}  // namespace
}  // namespace tessel_tools
