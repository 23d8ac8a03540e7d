#include "tessel_codegen/exchange/phase_entry.hpp"

#include <gtest/gtest.h>

#include "generated_phases.hpp"
#include "support/events.hpp"
#include "tessel_codegen/exchange/greedy.hpp"
#include "tessel_codegen/exchange/optimization.hpp"
#include "tessel_codegen/exchange/schedule_validation.hpp"

namespace tessel_codegen::exchange {
namespace {

using testing::generated_phase;

// Two outcomes of the search as it stands: a loopback multicast whose own receive controls fall at its
// payload start, and paired rows whose controls coincide. Everything else must schedule.
bool known_unencodable(const ExchangeLoweringError& error) {
  return error.kind() == ExchangeLoweringErrorKind::Exchange &&
         (error.exchange_error().is_schedule("unencodable initial send control") ||
          error.exchange_error().is_schedule("paired receive coincident controls"));
}

TEST(PhaseEntry, TileCountIsCheckedFirst) {
  const ExchangeScheduleProblem bad_transfer{3, {{9999, {}, {}, 0, ExchangeItemWidth::Word32}}};
  for (std::uint16_t tiles : {0, 1473}) {
    auto result = schedule_exchange_problem(tiles, bad_transfer);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().to_string(),
              fmt::format("invalid exchange-schedule snapshot: tile count {} is outside the R912 topology", tiles));
  }
  auto full = schedule_exchange_problem(1472, ExchangeScheduleProblem{3, {}});
  ASSERT_TRUE(full);
  EXPECT_EQ(full->programs.size(), 1472u);
}

TEST(PhaseEntry, ResultTables) {
  // Tile 3 receives one point-to-point transfer at 0x2000; tile 2 receives twice; tile 5 is idle.
  const ExchangeScheduleProblem problem{
      4,
      {{0, {0x100}, {{3, 0x2000}}, 16, ExchangeItemWidth::Word32},
       {1, {0x100}, {{2, 0x3000}}, 16, ExchangeItemWidth::Word32},
       {4, {0x100}, {{2, 0x4000}, {1, 0x4000}}, 16, ExchangeItemWidth::Word32}}};
  auto result = schedule_exchange_problem(6, problem);
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_EQ(result->phase, 4u);
  EXPECT_EQ(result->incoming_bases, (std::vector<std::uint32_t>{0, 0, 0, 0x2000, 0, 0}));
  EXPECT_EQ(result->active, (std::vector<bool>{true, true, true, true, true, false}));
  EXPECT_EQ(result->programs[5], (std::vector<std::uint32_t>{0x43A00000}));
  EXPECT_EQ(result->tile_horizons[5], 0u);
  EXPECT_EQ(result->repeat_patches, (std::vector<std::vector<ExchangeRowPatch>>(6)));
  EXPECT_EQ(result->activities.size(), 6u);
  EXPECT_TRUE(validate_exchange_schedule(6, problem, *result));
}

// Generated phases of every kind schedule, pass the invariant validation, never get longer than the
// greedy schedule and give the same output on a second call.
TEST(PhaseEntry, GeneratedPhasesScheduleAndValidate) {
  std::size_t scheduled = 0;
  std::size_t improved = 0;
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(seed);
    const auto tiles = static_cast<std::uint16_t>(4 + seed % 13);
    const ExchangeScheduleProblem problem = generated_phase(seed, tiles, 5 + seed % 40);
    auto result = schedule_exchange_problem(tiles, problem);
    if (!result) {
      EXPECT_TRUE(known_unencodable(result.error())) << result.error().to_string();
      continue;
    }
    ++scheduled;
    auto valid = validate_exchange_schedule(tiles, problem, *result);
    EXPECT_TRUE(valid) << valid.error().to_string();
    EXPECT_LE(result->horizon, result->initial_horizon);
    if (result->neighborhood_improvements > 0) {
      ++improved;
      EXPECT_LT(result->horizon, result->initial_horizon);
    }
    auto again = schedule_exchange_problem(tiles, problem);
    ASSERT_TRUE(again);
    EXPECT_TRUE(result->same_output(*again));
  }
  EXPECT_GE(scheduled, 290u);
  EXPECT_GT(improved, 0u);
}

// A phase whose first greedy schedule fails on instruction alignment: the driver repeats the pass with
// incremental validation, reports both events and keeps the second schedule.
TEST(PhaseEntry, AlignmentRetry) {
  constexpr std::uint64_t kSeed = 560;
  constexpr std::uint16_t kTiles = 5;
  const ExchangeScheduleProblem problem = generated_phase(kSeed, kTiles, 5);
  const auto transfers = pending_from_problem(problem, kTiles).value();
  const auto receive = receive_configuration(transfers, kTiles).value();
  const auto topology = tessel_exchange::Topology::r912_prefix(kTiles).value();

  auto first = materialize_greedy_schedule_impl(topology, transfers, receive, kTiles, false);
  ASSERT_TRUE(first);
  auto finished = first->builder.finish();
  ASSERT_FALSE(finished);
  ASSERT_TRUE(finished.error().is_schedule("SENDPICP instruction alignment"));

  support::events::CapturingReceiver capture(support::events::Level::Info, "tessel_codegen::exchange");
  auto greedy = materialize_greedy_schedule(topology, transfers, receive, kTiles);
  ASSERT_TRUE(greedy) << greedy.error().to_string();
  auto second = materialize_greedy_schedule_impl(topology, transfers, receive, kTiles, true);
  ASSERT_TRUE(second);
  EXPECT_EQ(greedy->order, second->order);
  EXPECT_EQ(greedy->activities, second->activities);
  EXPECT_TRUE(greedy->builder.finish());

  ASSERT_EQ(capture.events().size(), 2u);
  EXPECT_EQ(capture.events()[0].message, "retrying exchange schedule with incremental instruction-alignment validation");
  EXPECT_EQ(*capture.events()[0].field("transfers"), "5");
  EXPECT_EQ(capture.events()[1].message, "finished incremental instruction-alignment validation");
  EXPECT_EQ(*capture.events()[1].field("success"), "true");
  EXPECT_NE(capture.events()[1].field("elapsed_ms"), nullptr);

  auto result = schedule_exchange_problem(kTiles, problem);
  ASSERT_TRUE(result) << result.error().to_string();
  EXPECT_TRUE(validate_exchange_schedule(kTiles, problem, *result));
}

TEST(PhaseEntry, NoEventsWhenTheGreedyScheduleFinishes) {
  support::events::CapturingReceiver capture(support::events::Level::Info, "tessel_codegen::exchange");
  ASSERT_TRUE(schedule_exchange_problem(8, generated_phase(3, 8, 10)));
  EXPECT_TRUE(capture.events().empty());
}

}  // namespace
}  // namespace tessel_codegen::exchange
