#pragma once
// Comparison of a run with an earlier report of the same kind (text or JSON Lines).

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_tools/arguments.hpp"
#include "tessel_tools/report.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

struct BaselinePhase {
  std::uint32_t phase = 0;
  std::uint64_t horizon_cycles = 0;
  std::uint64_t row_words = 0;
  double schedule_codegen_median_ms = 0;
};

struct BaselineReport {
  std::string snapshot;
  std::uint64_t tiles = 0;
  std::uint64_t iterations = 0;
  bool repeat_aware = true;
  std::vector<BaselinePhase> phases;  // in report order
};

// Reads a report: JSON Lines when its first non-blank character is '{', else the text report.
// Lines that are neither the header nor a phase line (the total, a tile dump) are ignored. The
// error names the line and what is wrong with it.
std::expected<BaselineReport, std::string> parse_baseline(std::string_view text);

// Opens, reads and parses the baseline file: "open baseline {}" or "parse baseline {}" with the
// reason as the cause.
std::expected<BaselineReport, RunError> read_baseline(const std::string& path);

struct BaselineComparison {
  std::string text;         // the table for standard error
  bool regressed = false;   // some phase's horizonCycles or rowWords grew
};

// Compares the phases of this run with the baseline's, phase by phase by phase ID.
BaselineComparison compare_with_baseline(const std::string& baseline_path, const BaselineReport& baseline,
                                         const Arguments& args, std::size_t tile_count,
                                         const std::vector<PhaseFigures>& phases);

}  // namespace tessel_tools
