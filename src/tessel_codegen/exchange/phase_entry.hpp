#pragma once
// The scheduler's entry point for one standalone physical exchange phase.

#include <cstdint>

#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange {

// Schedules and encodes every tile's exchange program of the phase. Deterministic; keeps nothing.
Result<PhysicalExchangePhase> schedule_exchange_problem(std::uint16_t tile_count, const ExchangeScheduleProblem& problem);

}  // namespace tessel_codegen::exchange
