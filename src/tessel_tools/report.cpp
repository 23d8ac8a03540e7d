#include "tessel_tools/report.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace tessel_tools {

double duration_ms(Duration duration) {
  const auto count = static_cast<std::uint64_t>(duration.count() < 0 ? 0 : duration.count());
  const std::uint64_t seconds = count / 1'000'000'000u;
  const std::uint64_t nanos = count % 1'000'000'000u;
  return (static_cast<double>(seconds) + static_cast<double>(nanos) / 1e9) * 1000.0;
}

std::size_t percentile_index(std::size_t n, std::size_t p) {
  const std::size_t k = (n * p + 99) / 100;
  if (k == 0) return 0;
  return std::min(k, n) - 1;
}

DurationStatistics duration_statistics(std::vector<Duration> durations) {
  std::sort(durations.begin(), durations.end());
  const std::size_t n = durations.size();
  return DurationStatistics{durations.front(), durations[percentile_index(n, 50)], durations[percentile_index(n, 95)],
                            durations.back()};
}

std::string header_line(const Arguments& args, std::size_t tile_count, std::size_t selected_phases) {
  return fmt::format("snapshot={} tiles={} phases={} warmup={} iterations={} repeatAware={}\n", args.snapshot,
                     tile_count, selected_phases, args.warmup, args.iterations,
                     args.first_iteration_only ? "false" : "true");
}

std::string total_line(Duration total) { return fmt::format("totalMs={:.3f}\n", duration_ms(total)); }

}  // namespace tessel_tools
