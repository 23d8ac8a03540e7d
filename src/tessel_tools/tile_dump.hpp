#pragma once
// The dump of one logical tile of a scheduled phase: its activities and its decoded program.

#include <cstddef>
#include <expected>
#include <string>

#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

// Activity lines. Fails when the tile is not in the phase.
std::expected<std::string, RunError> tile_activity_lines(const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                                                         const tessel_codegen::exchange::PhysicalExchangePhase& result,
                                                         std::size_t tile);

// The program block: "phase=.. logicalTile=..", the rendered program and an empty line.
std::expected<std::string, RunError> tile_program_block(const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                                                        const tessel_codegen::exchange::PhysicalExchangePhase& result,
                                                        std::size_t tile);

}  // namespace tessel_tools
