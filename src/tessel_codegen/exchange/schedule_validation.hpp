#pragma once
// An independent check of a scheduled phase against its snapshot problem.

#include <cstdint>

#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange {

// Re-derives from the problem what every tile must do and checks the result: table sizes, horizons,
// activity intervals, one send per transfer, one receive per destination, one partner reservation per
// paired transfer, no bus or memory element used twice at once, and program lengths.
Result<void> validate_exchange_schedule(std::uint16_t tile_count, const ExchangeScheduleProblem& problem,
                                        const PhysicalExchangePhase& phase);

}  // namespace tessel_codegen::exchange
