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

std::string phase_line(const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                       const tessel_codegen::exchange::PhysicalExchangePhase& result,
                       const std::vector<Duration>& schedule_durations, const std::vector<Duration>& validation_durations) {
  std::size_t destinations = 0;
  for (const auto& transfer : problem.transfers) destinations += transfer.destinations.size();
  std::size_t row_words = 0;
  std::size_t maximum_row_words = 0;
  for (const auto& program : result.programs) {
    row_words += program.size();
    maximum_row_words = std::max(maximum_row_words, program.size());
  }
  const std::uint32_t gap =
      result.horizon > result.endpoint_lower_bound ? result.horizon - result.endpoint_lower_bound : 0;
  const DurationStatistics schedule = duration_statistics(schedule_durations);
  const DurationStatistics validation = duration_statistics(validation_durations);
  return fmt::format(
      "phase={} transfers={} destinations={} initialHorizonCycles={} horizonCycles={} endpointLowerBoundCycles={} "
      "lowerBoundGapCycles={} neighborhoodImprovements={} rowWords={} maximumRowWords={} scheduleCodegenMinMs={:.3f} "
      "scheduleCodegenMedianMs={:.3f} scheduleCodegenP95Ms={:.3f} scheduleCodegenMaxMs={:.3f} "
      "validationMedianMs={:.3f} invariants=PASS\n",
      problem.phase, problem.transfers.size(), destinations, result.initial_horizon, result.horizon,
      result.endpoint_lower_bound, gap, result.neighborhood_improvements, row_words, maximum_row_words,
      duration_ms(schedule.minimum), duration_ms(schedule.median), duration_ms(schedule.p95),
      duration_ms(schedule.maximum), duration_ms(validation.median));
}

std::string total_line(Duration total) { return fmt::format("totalMs={:.3f}\n", duration_ms(total)); }

}  // namespace tessel_tools
