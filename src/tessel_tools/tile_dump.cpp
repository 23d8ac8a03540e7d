#include "tessel_tools/tile_dump.hpp"

#include <fmt/format.h>

#include "tessel_exchange/diagnostic/plan_program.hpp"

namespace tessel_tools {

using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::PhysicalExchangePhase;

std::expected<std::string, RunError> tile_activity_lines(const ExchangeScheduleProblem& problem,
                                                         const PhysicalExchangePhase& result, std::size_t tile) {
  if (tile >= result.programs.size() || tile >= result.activities.size())
    return std::unexpected(RunError{fmt::format("logical tile {} is out of range", tile), {}});
  std::string lines;
  for (const auto& a : result.activities[tile])
    lines += fmt::format("phase={} logicalTile={} transfer={} {} cycles={}..{} memoryEnd={} address=0x{:x} words={}\n",
                         problem.phase, tile, a.transfer, activity_kind_name(a.kind), a.start, a.payload_end,
                         a.horizon, a.address, a.words);
  return lines;
}

std::expected<std::string, RunError> tile_program_block(const ExchangeScheduleProblem& problem,
                                                        const PhysicalExchangePhase& result, std::size_t tile) {
  if (tile >= result.programs.size())
    return std::unexpected(RunError{fmt::format("logical tile {} is out of range", tile), {}});
  auto decoded = tessel_exchange::diagnostic::diagnose_plan_program(result.programs[tile], false);
  if (!decoded) return std::unexpected(RunError{decoded.error().to_string(), {}});
  return fmt::format("phase={} logicalTile={}\n{}\n", problem.phase, tile, decoded->render());
}

}  // namespace tessel_tools
