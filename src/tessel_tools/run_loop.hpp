#pragma once
// The run loop: header, the selected phases one after the other, the closing line.

#include <cstdio>
#include <expected>
#include <functional>
#include <vector>

#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/arguments.hpp"
#include "tessel_tools/loading.hpp"
#include "tessel_tools/progress.hpp"
#include "tessel_tools/report.hpp"
#include "tessel_tools/run_error.hpp"
#include "tessel_tools/trace.hpp"

namespace tessel_tools {

// Schedules and encodes one phase; the run loop calls it for every warm-up and timed run.
using PhaseScheduler = std::function<tessel_codegen::exchange::Result<tessel_codegen::exchange::PhysicalExchangePhase>(
    std::uint16_t, const tessel_codegen::exchange::ExchangeScheduleProblem&)>;

// Where a run writes: the report, and optionally a trace and a progress indicator.
struct RunOutputs {
  std::FILE* out = stdout;
  TraceFile* trace = nullptr;
  Progress* progress = nullptr;
};

// Replays every selected phase: warm-up runs, timed runs with the determinism check, the tile dump
// after the first timed run, the phase line after the last, then the phase's trace from its first
// timed run. Writes the report in the format of `args`, flushing each line as it completes so that
// nothing printed is lost when a later phase fails. Returns the figures of every phase line.
std::expected<std::vector<PhaseFigures>, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded,
                                                                 const RunOutputs& outputs,
                                                                 const PhaseScheduler& scheduler);

// The same with the report alone, on `out`.
std::expected<void, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded, std::FILE* out,
                                            const PhaseScheduler& scheduler);

}  // namespace tessel_tools
