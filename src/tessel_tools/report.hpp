#pragma once
// The report lines on standard output and the statistics over timed runs.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

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

// "totalMs=...\n"
std::string total_line(Duration total);

}  // namespace tessel_tools
