#include "tessel_tools/run_loop.hpp"

#include <fmt/format.h>

#include <chrono>
#include <optional>
#include <string>

#include "tessel_codegen/exchange/schedule_validation.hpp"
#include "tessel_tools/report.hpp"
#include "tessel_tools/tile_dump.hpp"

namespace tessel_tools {

namespace {

using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::PhysicalExchangePhase;
using Clock = std::chrono::steady_clock;

void write(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

RunError lowering(const tessel_codegen::exchange::ExchangeLoweringError& error) { return RunError{error.to_string(), {}}; }

Duration since(Clock::time_point start) { return std::chrono::duration_cast<Duration>(Clock::now() - start); }

std::expected<void, RunError> run_phase(const Arguments& args, std::uint16_t tile_count,
                                        const ExchangeScheduleProblem& problem, std::FILE* out,
                                        const PhaseScheduler& scheduler) {
  using tessel_codegen::exchange::validate_exchange_schedule;
  for (std::size_t i = 0; i < args.warmup; ++i) {
    auto result = scheduler(tile_count, problem);
    if (!result) return std::unexpected(lowering(result.error()));
    if (auto valid = validate_exchange_schedule(tile_count, problem, *result); !valid)
      return std::unexpected(lowering(valid.error()));
  }

  std::vector<Duration> schedule_durations;
  std::vector<Duration> validation_durations;
  schedule_durations.reserve(args.iterations);
  validation_durations.reserve(args.iterations);
  std::optional<PhysicalExchangePhase> baseline;

  for (std::size_t i = 0; i < args.iterations; ++i) {
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
      auto lines = tile_activity_lines(problem, *result, *args.dump_tile);
      if (!lines) return std::unexpected(lines.error());
      write(out, *lines);
      auto block = tile_program_block(problem, *result, *args.dump_tile);
      if (!block) return std::unexpected(block.error());
      write(out, *block);
    }

    if (schedule_durations.size() == args.iterations)
      write(out, phase_line(problem, *result, schedule_durations, validation_durations));
  }
  return {};
}

}  // namespace

std::expected<void, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded, std::FILE* out,
                                            const PhaseScheduler& scheduler) {
  write(out, header_line(args, loaded.snapshot.tile_count, loaded.selected.size()));
  const auto started = Clock::now();
  for (std::size_t index : loaded.selected) {
    auto ran = run_phase(args, loaded.snapshot.tile_count, loaded.snapshot.phases[index], out, scheduler);
    if (!ran) return ran;
  }
  write(out, total_line(since(started)));
  return {};
}

}  // namespace tessel_tools
