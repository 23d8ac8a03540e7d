#pragma once
// The report as JSON Lines: the text report's keys and values, one object per line, each with a
// "type" key. The tile dump becomes "activity" and "program" objects in the same stream.

#include <cstddef>
#include <expected>
#include <string>

#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/arguments.hpp"
#include "tessel_tools/report.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

// {"type":"header","snapshot":...,"tiles":...,"phases":...,"warmup":...,"iterations":...,"repeatAware":...}
std::string json_header_line(const Arguments& args, std::size_t tile_count, std::size_t selected_phases);

// {"type":"phase", the phase line's keys, "invariants":"PASS"}; milliseconds at full precision.
std::string json_phase_line(const PhaseFigures& figures);

// {"type":"total","totalMs":...}
std::string json_total_line(Duration total);

// One "activity" object per activity of the tile, in the order of its activity list.
std::expected<std::string, RunError> json_tile_activity_lines(
    const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
    const tessel_codegen::exchange::PhysicalExchangePhase& result, std::size_t tile);

// One "program" object holding the decoded program's rendered lines.
std::expected<std::string, RunError> json_tile_program_line(
    const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
    const tessel_codegen::exchange::PhysicalExchangePhase& result, std::size_t tile);

}  // namespace tessel_tools
