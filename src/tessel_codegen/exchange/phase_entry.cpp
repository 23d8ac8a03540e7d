#include "tessel_codegen/exchange/phase_entry.hpp"

#include <fmt/format.h>

#include "support/result.hpp"
#include "tessel_codegen/exchange/optimization.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_codegen::exchange {

Result<PhysicalExchangePhase> schedule_exchange_problem(std::uint16_t tile_count, const ExchangeScheduleProblem& problem) {
  if (tile_count == 0 || tile_count > tessel_exchange::kR912TileCount)
    return std::unexpected(
        ExchangeLoweringError::invalid_snapshot(fmt::format("tile count {} is outside the R912 topology", tile_count)));
  std::vector<std::uint16_t> physical(tile_count);
  for (std::size_t i = 0; i < tile_count; ++i) physical[i] = tessel_exchange::r912_physical_tile(i);
  const tessel_exchange::Topology topology = TESSEL_TRY(tessel_exchange::Topology::create(std::move(physical)));

  const std::vector<PendingTransfer> transfers = TESSEL_TRY(pending_from_problem(problem, tile_count));
  const ReceiveConfiguration receive = TESSEL_TRY(receive_configuration(transfers, tile_count));
  ImprovedSchedule improved = TESSEL_TRY(optimize_pending_schedule(topology, transfers, receive, tile_count));
  tessel_exchange::PhasePrograms finished = TESSEL_TRY(improved.schedule.builder.finish());
  if (finished.horizon != improved.schedule.horizon)
    return std::unexpected(ExchangeLoweringError::invariant(fmt::format(
        "phase {} row horizon {} differs from scheduled horizon {}", problem.phase, finished.horizon,
        improved.schedule.horizon)));

  PhysicalExchangePhase phase;
  phase.phase = problem.phase;
  phase.horizon = improved.schedule.horizon;
  phase.active.reserve(tile_count);
  phase.programs.reserve(tile_count);
  for (auto& program : finished.programs) {
    phase.active.push_back(program.has_value());
    phase.programs.push_back(program ? std::move(*program) : std::vector<std::uint32_t>{tessel_exchange::kReturnWord});
  }
  phase.incoming_bases = receive.incoming_bases;
  phase.tile_horizons = std::move(finished.tile_horizons);
  phase.activities = std::move(improved.schedule.activities);
  phase.repeat_patches.resize(tile_count);
  phase.neighborhood_improvements = improved.neighborhood_improvements;
  phase.initial_horizon = improved.initial_horizon;
  phase.endpoint_lower_bound = improved.endpoint_lower_bound;
  return phase;
}

}  // namespace tessel_codegen::exchange
