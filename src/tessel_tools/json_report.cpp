#include "tessel_tools/json_report.hpp"

#include <fmt/format.h>

#include <string_view>

#include "tessel_exchange/diagnostic/plan_program.hpp"
#include "tessel_tools/json_text.hpp"

namespace tessel_tools {

using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::PhysicalExchangePhase;

std::string json_header_line(const Arguments& args, std::size_t tile_count, std::size_t selected_phases) {
  return fmt::format(
      "{{\"type\":\"header\",\"snapshot\":{},\"tiles\":{},\"phases\":{},\"warmup\":{},\"iterations\":{},"
      "\"repeatAware\":{}}}\n",
      json_string(args.snapshot), tile_count, selected_phases, args.warmup, args.iterations,
      args.first_iteration_only ? "false" : "true");
}

std::string json_phase_line(const PhaseFigures& f) {
  return fmt::format(
      "{{\"type\":\"phase\",\"phase\":{},\"transfers\":{},\"destinations\":{},\"initialHorizonCycles\":{},"
      "\"horizonCycles\":{},\"endpointLowerBoundCycles\":{},\"lowerBoundGapCycles\":{},"
      "\"neighborhoodImprovements\":{},\"rowWords\":{},\"maximumRowWords\":{},\"scheduleCodegenMinMs\":{},"
      "\"scheduleCodegenMedianMs\":{},\"scheduleCodegenP95Ms\":{},\"scheduleCodegenMaxMs\":{},"
      "\"validationMedianMs\":{},\"invariants\":\"PASS\"}}\n",
      f.phase, f.transfers, f.destinations, f.initial_horizon_cycles, f.horizon_cycles, f.endpoint_lower_bound_cycles,
      f.lower_bound_gap_cycles, f.neighborhood_improvements, f.row_words, f.maximum_row_words,
      json_number(f.schedule_codegen_min_ms), json_number(f.schedule_codegen_median_ms),
      json_number(f.schedule_codegen_p95_ms), json_number(f.schedule_codegen_max_ms),
      json_number(f.validation_median_ms));
}

std::string json_total_line(Duration total) {
  return fmt::format("{{\"type\":\"total\",\"totalMs\":{}}}\n", json_number(duration_ms(total)));
}

std::expected<std::string, RunError> json_tile_activity_lines(const ExchangeScheduleProblem& problem,
                                                              const PhysicalExchangePhase& result, std::size_t tile) {
  if (tile >= result.programs.size() || tile >= result.activities.size())
    return std::unexpected(RunError{fmt::format("logical tile {} is out of range", tile), {}});
  std::string lines;
  for (const auto& a : result.activities[tile])
    lines += fmt::format(
        "{{\"type\":\"activity\",\"phase\":{},\"logicalTile\":{},\"transfer\":{},\"kind\":\"{}\",\"start\":{},"
        "\"payloadEnd\":{},\"memoryEnd\":{},\"address\":\"0x{:x}\",\"words\":{}}}\n",
        problem.phase, tile, a.transfer, activity_kind_name(a.kind), a.start, a.payload_end, a.horizon, a.address,
        a.words);
  return lines;
}

std::expected<std::string, RunError> json_tile_program_line(const ExchangeScheduleProblem& problem,
                                                            const PhysicalExchangePhase& result, std::size_t tile) {
  if (tile >= result.programs.size())
    return std::unexpected(RunError{fmt::format("logical tile {} is out of range", tile), {}});
  auto decoded = tessel_exchange::diagnostic::diagnose_plan_program(result.programs[tile], false);
  if (!decoded) return std::unexpected(RunError{decoded.error().to_string(), {}});
  const std::string rendered = decoded->render();
  std::string lines;
  std::string_view rest = rendered;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (!lines.empty()) lines += ',';
    lines += json_string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  }
  return fmt::format("{{\"type\":\"program\",\"phase\":{},\"logicalTile\":{},\"lines\":[{}]}}\n", problem.phase,
                     tile, lines);
}

}  // namespace tessel_tools
