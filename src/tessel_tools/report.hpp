#pragma once
// The report lines on standard output and the statistics over timed runs.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/arguments.hpp"

namespace tessel_tools {

using Duration = std::chrono::nanoseconds;

// Milliseconds of a duration, in double precision.
double duration_ms(Duration duration);

// Nearest-rank index of the p-th percentile in a sorted list of n >= 1 entries.
std::size_t percentile_index(std::size_t n, std::size_t p);

struct DurationStatistics {
  Duration minimum{};
  Duration median{};
  Duration p95{};
  Duration maximum{};
};

// Statistics of a non-empty list of durations.
DurationStatistics duration_statistics(std::vector<Duration> durations);

// "snapshot=... tiles=... phases=... warmup=... iterations=... repeatAware=...\n"
std::string header_line(const Arguments& args, std::size_t tile_count, std::size_t selected_phases);

// The values of one phase's report line, in line order; both report formats print these.
struct PhaseFigures {
  std::uint32_t phase = 0;
  std::size_t transfers = 0;
  std::size_t destinations = 0;
  std::uint32_t initial_horizon_cycles = 0;
  std::uint32_t horizon_cycles = 0;
  std::uint32_t endpoint_lower_bound_cycles = 0;
  std::uint32_t lower_bound_gap_cycles = 0;
  std::size_t neighborhood_improvements = 0;
  std::size_t row_words = 0;
  std::size_t maximum_row_words = 0;
  double schedule_codegen_min_ms = 0;
  double schedule_codegen_median_ms = 0;
  double schedule_codegen_p95_ms = 0;
  double schedule_codegen_max_ms = 0;
  double validation_median_ms = 0;
};

// The figures of one phase after its last timed run.
PhaseFigures phase_figures(const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                           const tessel_codegen::exchange::PhysicalExchangePhase& result,
                           const std::vector<Duration>& schedule_durations,
                           const std::vector<Duration>& validation_durations);

// "phase=... invariants=PASS\n"
std::string phase_line(const PhaseFigures& figures);

// "totalMs=...\n"
std::string total_line(Duration total);

}  // namespace tessel_tools
