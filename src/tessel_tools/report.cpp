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

PhaseFigures phase_figures(const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                           const tessel_codegen::exchange::PhysicalExchangePhase& result,
                           const std::vector<Duration>& schedule_durations,
                           const std::vector<Duration>& validation_durations) {
  PhaseFigures figures;
  figures.phase = problem.phase;
  figures.transfers = problem.transfers.size();
  for (const auto& transfer : problem.transfers) figures.destinations += transfer.destinations.size();
  figures.initial_horizon_cycles = result.initial_horizon;
  figures.horizon_cycles = result.horizon;
  figures.endpoint_lower_bound_cycles = result.endpoint_lower_bound;
  figures.lower_bound_gap_cycles =
      result.horizon > result.endpoint_lower_bound ? result.horizon - result.endpoint_lower_bound : 0;
  figures.neighborhood_improvements = result.neighborhood_improvements;
  for (const auto& program : result.programs) {
    figures.row_words += program.size();
    figures.maximum_row_words = std::max(figures.maximum_row_words, program.size());
  }
  const DurationStatistics schedule = duration_statistics(schedule_durations);
  figures.schedule_codegen_min_ms = duration_ms(schedule.minimum);
  figures.schedule_codegen_median_ms = duration_ms(schedule.median);
  figures.schedule_codegen_p95_ms = duration_ms(schedule.p95);
  figures.schedule_codegen_max_ms = duration_ms(schedule.maximum);
  figures.validation_median_ms = duration_ms(duration_statistics(validation_durations).median);
  return figures;
}

std::string phase_line(const PhaseFigures& f) {
  return fmt::format(
      "phase={} transfers={} destinations={} initialHorizonCycles={} horizonCycles={} endpointLowerBoundCycles={} "
      "lowerBoundGapCycles={} neighborhoodImprovements={} rowWords={} maximumRowWords={} scheduleCodegenMinMs={:.3f} "
      "scheduleCodegenMedianMs={:.3f} scheduleCodegenP95Ms={:.3f} scheduleCodegenMaxMs={:.3f} "
      "validationMedianMs={:.3f} invariants=PASS\n",
      f.phase, f.transfers, f.destinations, f.initial_horizon_cycles, f.horizon_cycles, f.endpoint_lower_bound_cycles,
      f.lower_bound_gap_cycles, f.neighborhood_improvements, f.row_words, f.maximum_row_words,
      f.schedule_codegen_min_ms, f.schedule_codegen_median_ms, f.schedule_codegen_p95_ms, f.schedule_codegen_max_ms,
      f.validation_median_ms);
}

std::string total_line(Duration total) { return fmt::format("totalMs={:.3f}\n", duration_ms(total)); }

}  // namespace tessel_tools
