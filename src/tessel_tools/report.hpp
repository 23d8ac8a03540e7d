#pragma once
// The report lines on standard output and the statistics over timed runs.

#include <chrono>
#include <cstddef>
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

// The report line of one phase, after its last timed run.
std::string phase_line(const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                       const tessel_codegen::exchange::PhysicalExchangePhase& result,
                       const std::vector<Duration>& schedule_durations, const std::vector<Duration>& validation_durations);

// "totalMs=...\n"
std::string total_line(Duration total);

}  // namespace tessel_tools
