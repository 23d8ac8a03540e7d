#include "tessel_tools/run_loop.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "tessel_codegen/exchange/schedule_validation.hpp"
#include "tessel_tools/json_report.hpp"
#include "tessel_tools/report.hpp"
#include "tessel_tools/tile_dump.hpp"

namespace tessel_tools {

namespace {

using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::PhysicalExchangePhase;
using Clock = std::chrono::steady_clock;

// The report stream; the progress indicator, which may share the terminal, is erased first.
struct ReportStream {
  const RunOutputs& outputs;

  void write(const std::string& text) const {
    if (outputs.progress) outputs.progress->erase();
    std::fwrite(text.data(), 1, text.size(), outputs.out);
    std::fflush(outputs.out);
  }
};

// Erases the progress indicator when the run ends, whether it succeeds or fails, so that the
// error message or what follows the report starts on a clean line.
struct ProgressEraser {
  Progress* progress;
  ~ProgressEraser() {
    if (progress) progress->erase();
  }
};

RunError lowering(const tessel_codegen::exchange::ExchangeLoweringError& error) { return RunError{error.to_string(), {}}; }

Duration since(Clock::time_point start) { return std::chrono::duration_cast<Duration>(Clock::now() - start); }

struct PhaseInRun {
  std::size_t position;  // from 1
  std::uint16_t tile_count;
  const ExchangeScheduleProblem& problem;
};

std::expected<PhaseFigures, RunError> run_phase(const Arguments& args, const PhaseInRun& in_run,
                                                const ReportStream& report, const PhaseScheduler& scheduler) {
  using tessel_codegen::exchange::validate_exchange_schedule;
  const std::uint16_t tile_count = in_run.tile_count;
  const ExchangeScheduleProblem& problem = in_run.problem;
  Progress* progress = report.outputs.progress;
  const bool json = args.report_format == ReportFormat::Json;

  for (std::size_t i = 0; i < args.warmup; ++i) {
    if (progress) progress->update(in_run.position, problem.phase);
    auto result = scheduler(tile_count, problem);
    if (!result) return std::unexpected(lowering(result.error()));
    if (auto valid = validate_exchange_schedule(tile_count, problem, *result); !valid)
      return std::unexpected(lowering(valid.error()));
  }

  std::vector<Duration> schedule_durations;
  std::vector<Duration> validation_durations;
  // Room for the usual counts only: reserving a huge --iterations up front would fail at once.
  schedule_durations.reserve(std::min<std::size_t>(args.iterations, 1 << 16));
  validation_durations.reserve(std::min<std::size_t>(args.iterations, 1 << 16));
  std::optional<PhysicalExchangePhase> baseline;
  PhaseFigures figures;

  for (std::size_t i = 0; i < args.iterations; ++i) {
    if (progress) progress->update(in_run.position, problem.phase);
    auto started = Clock::now();
    auto result = scheduler(tile_count, problem);
    const Duration scheduled = since(started);
    if (!result) return std::unexpected(lowering(result.error()));
    schedule_durations.push_back(scheduled);

    started = Clock::now();
    auto valid = validate_exchange_schedule(tile_count, problem, *result);
    const Duration validated = since(started);
    if (!valid) return std::unexpected(lowering(valid.error()));
    validation_durations.push_back(validated);

    if (!baseline) {
      baseline = *result;
    } else if (!baseline->same_output(*result)) {
      return std::unexpected(
          RunError{fmt::format("phase {} scheduler/codegen output changed between identical runs", problem.phase), {}});
    }

    if (schedule_durations.size() == 1 && args.dump_tile) {
      auto lines = json ? json_tile_activity_lines(problem, *result, *args.dump_tile)
                        : tile_activity_lines(problem, *result, *args.dump_tile);
      if (!lines) return std::unexpected(lines.error());
      report.write(*lines);
      auto block = json ? json_tile_program_line(problem, *result, *args.dump_tile)
                        : tile_program_block(problem, *result, *args.dump_tile);
      if (!block) return std::unexpected(block.error());
      report.write(*block);
    }

    if (schedule_durations.size() == args.iterations) {
      figures = phase_figures(problem, *result, schedule_durations, validation_durations);
      report.write(json ? json_phase_line(figures) : phase_line(figures));
    }
  }

  // The baseline is the first timed run's result, which is what the trace shows.
  if (report.outputs.trace)
    if (auto traced = report.outputs.trace->add_phase(in_run.position, tile_count, problem, *baseline); !traced)
      return std::unexpected(traced.error());
  return figures;
}

}  // namespace

std::expected<std::vector<PhaseFigures>, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded,
                                                                 const RunOutputs& outputs,
                                                                 const PhaseScheduler& scheduler) {
  const ReportStream report{outputs};
  const ProgressEraser eraser{outputs.progress};
  const bool json = args.report_format == ReportFormat::Json;
  const std::uint16_t tile_count = loaded.snapshot.tile_count;
  report.write(json ? json_header_line(args, tile_count, loaded.selected.size())
                    : header_line(args, tile_count, loaded.selected.size()));
  const auto started = Clock::now();
  if (outputs.progress) outputs.progress->start(loaded.selected.size());
  std::vector<PhaseFigures> phases;
  phases.reserve(loaded.selected.size());
  for (std::size_t index : loaded.selected) {
    const PhaseInRun in_run{phases.size() + 1, tile_count, loaded.snapshot.phases[index]};
    auto ran = run_phase(args, in_run, report, scheduler);
    if (!ran) return std::unexpected(ran.error());
    phases.push_back(*ran);
  }
  report.write(json ? json_total_line(since(started)) : total_line(since(started)));
  return phases;
}

std::expected<void, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded, std::FILE* out,
                                            const PhaseScheduler& scheduler) {
  auto ran = run_benchmark(args, loaded, RunOutputs{out, nullptr, nullptr}, scheduler);
  if (!ran) return std::unexpected(ran.error());
  return {};
}

}  // namespace tessel_tools
