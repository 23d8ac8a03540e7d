#pragma once
// Checks a tile's finished program against the schedule it was encoded from.

#include <cstddef>
#include <cstdint>
#include <span>

#include "tessel_exchange/diagnostic/plan_program.hpp"
#include "tessel_exchange/error.hpp"
#include "tessel_exchange/tile_schedule.hpp"

namespace tessel_exchange::diagnostic {

// Decodes `words` and requires that they last exactly the schedule's horizon, hold only known
// instructions, issue exactly the scheduled receive controls at their cycles, and send exactly during
// the scheduled sender rows. `tile` only names the tile in the debug event of a control mismatch.
Result<PlanProgramDiagnostic> validate_tile_program(std::size_t tile, const TileProgramSchedule& schedule,
                                                    std::span<const std::uint32_t> words);

}  // namespace tessel_exchange::diagnostic
