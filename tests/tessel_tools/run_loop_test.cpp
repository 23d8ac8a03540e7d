#include "tessel_tools/run_loop.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tessel_codegen/exchange/phase_entry.hpp"

namespace tessel_tools {
namespace {

using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::ExchangeScheduleTransfer;
using tessel_codegen::exchange::ExchangeItemWidth;

LoadedSnapshot two_phases() {
  LoadedSnapshot loaded;
  loaded.snapshot.schema_version = 3;
  loaded.snapshot.tile_count = 4;
  const ExchangeScheduleTransfer transfer{0, {0x100}, {{1, 0x200}}, 16, ExchangeItemWidth::Word32};
  loaded.snapshot.phases = {ExchangeScheduleProblem{1, {transfer}}, ExchangeScheduleProblem{2, {transfer}}};
  loaded.selected = {0, 1};
  return loaded;
}

struct Captured {
  std::expected<void, RunError> result;
  std::string out;
};

Captured run(const Arguments& args, const PhaseScheduler& scheduler) {
  std::FILE* file = std::tmpfile();
  Captured captured{run_benchmark(args, two_phases(), file, scheduler), {}};
  std::rewind(file);
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) captured.out.append(buffer, got);
  std::fclose(file);
  return captured;
}

std::size_t count_lines(const std::string& text, const std::string& prefix) {
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (text.compare(at, prefix.size(), prefix) == 0) ++lines;
    const std::size_t end = text.find('\n', at);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

TEST(RunLoop, CallsPerPhaseAndOneDumpPerPhase) {
  struct Case {
    std::size_t warmup, iterations, calls;
  };
  for (const Case& c : {Case{0, 1, 2}, Case{2, 3, 10}, Case{0, 5, 10}}) {
    SCOPED_TRACE(testing::Message() << c.warmup << " warm-ups, " << c.iterations << " iterations");
    std::size_t calls = 0;
    Arguments args;
    args.warmup = c.warmup;
    args.iterations = c.iterations;
    args.dump_tile = 1;
    auto captured = run(args, [&](std::uint16_t tiles, const ExchangeScheduleProblem& problem) {
      ++calls;
      return tessel_codegen::exchange::schedule_exchange_problem(tiles, problem);
    });
    ASSERT_TRUE(captured.result);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(count_lines(captured.out, "phase=1 logicalTile=1\n"), 1u);
    EXPECT_EQ(count_lines(captured.out, "phase=2 logicalTile=1\n"), 1u);
    EXPECT_EQ(count_lines(captured.out, "phase=1 transfers="), 1u);
    EXPECT_EQ(count_lines(captured.out, "totalMs="), 1u);
  }
}

TEST(RunLoop, OutputMustNotChangeBetweenTimedRuns) {
  Arguments args;
  args.iterations = 3;
  std::size_t calls = 0;
  // Statistics may differ between runs; the generated code may not.
  auto statistics_change = run(args, [&](std::uint16_t tiles, const ExchangeScheduleProblem& problem) {
    auto result = tessel_codegen::exchange::schedule_exchange_problem(tiles, problem);
    if (result) result->neighborhood_improvements = ++calls;
    return result;
  });
  EXPECT_TRUE(statistics_change.result);

  calls = 0;
  auto programs_change = run(args, [&](std::uint16_t tiles, const ExchangeScheduleProblem& problem) {
    auto result = tessel_codegen::exchange::schedule_exchange_problem(tiles, problem);
    if (result && ++calls == 2) result->programs[3].push_back(0);
    return result;
  });
  ASSERT_FALSE(programs_change.result);
  EXPECT_EQ(programs_change.result.error().message, "phase 1 scheduler/codegen output changed between identical runs");
  EXPECT_EQ(calls, 2u);
  EXPECT_EQ(count_lines(programs_change.out, "snapshot="), 1u);
  EXPECT_EQ(count_lines(programs_change.out, "phase="), 0u);
}

}  // namespace
}  // namespace tessel_tools
