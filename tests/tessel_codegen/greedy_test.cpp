#include "tessel_codegen/exchange/greedy.hpp"

#include <gtest/gtest.h>

#include "generated_phases.hpp"
#include "tessel_codegen/exchange/schedule_order.hpp"

namespace tessel_codegen::exchange {
namespace {

TEST(Greedy, ReadyTransferOrder) {
  const ReadyTransfer base{10, 100, 2, 50, 3, 7};
  struct Case {
    const char* name;
    ReadyTransfer better;
  };
  auto with = [&](auto change) {
    ReadyTransfer e = base;
    change(e);
    return e;
  };
  const Case cases[] = {
      {"earlier ready", with([](ReadyTransfer& e) { e.ready = 9; e.work = 0; })},
      {"more work", with([](ReadyTransfer& e) { e.work = 101; e.destinations = 0; })},
      {"more destinations", with([](ReadyTransfer& e) { e.destinations = 3; e.cost = 0; })},
      {"larger cost", with([](ReadyTransfer& e) { e.cost = 51; e.source = 9; })},
      {"lower source", with([](ReadyTransfer& e) { e.source = 2; e.transfer = 99; })},
      {"lower index", with([](ReadyTransfer& e) { e.transfer = 6; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(base < c.better);
    EXPECT_FALSE(c.better < base);
  }
  EXPECT_FALSE(base < base);
}

struct Fixture {
  std::uint16_t tiles;
  ExchangeScheduleProblem problem;
  std::vector<PendingTransfer> transfers = pending_from_problem(problem, tiles).value();
  ReceiveConfiguration receive = receive_configuration(transfers, tiles).value();
  tessel_exchange::Topology topology = tessel_exchange::Topology::r912_prefix(tiles).value();

  Result<MaterializedSchedule> greedy() const {
    return materialize_greedy_schedule_impl(topology, transfers, receive, tiles, false);
  }
};

ExchangeScheduleTransfer word_transfer(std::uint16_t source, std::vector<ExchangeScheduleDestination> destinations,
                                       std::uint32_t words, std::uint32_t address = 0x100) {
  return {source, {address}, std::move(destinations), words, ExchangeItemWidth::Word32};
}

TEST(Greedy, PlacementOrder) {
  struct Case {
    const char* name;
    std::vector<ExchangeScheduleTransfer> transfers;
    std::vector<std::size_t> order;
  };
  const Case cases[] = {
      {"more destinations first", {word_transfer(0, {{1, 0}}, 8), word_transfer(2, {{3, 0}, {4, 0}}, 8)}, {1, 0}},
      {"larger cost first", {word_transfer(0, {{1, 0}}, 8), word_transfer(2, {{3, 0}}, 9)}, {1, 0}},
      {"lower source first", {word_transfer(2, {{1, 0}}, 8), word_transfer(0, {{3, 0}}, 8)}, {1, 0}},
      {"same endpoints by cost", {word_transfer(0, {{1, 0x0}}, 8), word_transfer(0, {{1, 0x40}}, 20)}, {1, 0}},
      {"dependency first", {word_transfer(3, {{1, 0x0}}, 8, 0x100), word_transfer(0, {{3, 0x100}}, 20)}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f{8, {1, c.transfers}};
    auto schedule = f.greedy();
    ASSERT_TRUE(schedule) << schedule.error().to_string();
    EXPECT_EQ(schedule->order, c.order);
  }
}

TEST(Greedy, DependentTransferStartsAfterItsPredecessorEnds) {
  // Transfer 1 overwrites what transfer 0 reads on tile 3.
  Fixture f{8, {1, {word_transfer(3, {{1, 0}}, 8, 0x100), word_transfer(0, {{3, 0x100}}, 20)}}};
  auto schedule = f.greedy().value();
  const auto& read = schedule.placements[0].value();
  const ExchangeActivity& write = schedule.activities[3].back();
  ASSERT_EQ(write.transfer, 1u);
  EXPECT_GE(write.start, read.end);
}

// The greedy schedule's own order, materialized again, gives the same schedule; the empty phase has
// an empty schedule.
TEST(Greedy, OwnOrderMaterializesTheSameSchedule) {
  for (std::uint64_t seed = 1; seed <= 120; ++seed) {
    SCOPED_TRACE(seed);
    const auto tiles = static_cast<std::uint16_t>(4 + seed % 13);
    Fixture f{tiles, testing::generated_phase(seed, tiles, 5 + seed % 40)};
    auto schedule = f.greedy();
    if (!schedule || !schedule->builder.finish()) continue;
    auto again = materialize_schedule_order(f.topology, f.transfers, f.receive, tiles, schedule->order, false);
    ASSERT_TRUE(again) << again.error().to_string();
    EXPECT_EQ(again->horizon, schedule->horizon);
    EXPECT_EQ(again->activities, schedule->activities);
    EXPECT_EQ(again->placements, schedule->placements);
  }
  Fixture empty{4, {1, {}}};
  auto schedule = empty.greedy().value();
  EXPECT_EQ(schedule.horizon, 0u);
  EXPECT_TRUE(schedule.order.empty());
}

}  // namespace
}  // namespace tessel_codegen::exchange
