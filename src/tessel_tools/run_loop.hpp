#pragma once
// The run loop: header, the selected phases one after the other, the closing line.

#include <cstdio>
#include <expected>
#include <functional>

#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/arguments.hpp"
#include "tessel_tools/loading.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

// Schedules and encodes one phase; the run loop calls it for every warm-up and timed run.
using PhaseScheduler = std::function<tessel_codegen::exchange::Result<tessel_codegen::exchange::PhysicalExchangePhase>(
    std::uint16_t, const tessel_codegen::exchange::ExchangeScheduleProblem&)>;

// Replays every selected phase: warm-up runs, timed runs with the determinism check, the tile dump
// after the first timed run, the phase line after the last. Writes the report to `out`, flushing
// each line as it completes so that nothing printed is lost when a later phase fails.
std::expected<void, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded, std::FILE* out,
                                            const PhaseScheduler& scheduler);

}  // namespace tessel_tools
