#include "tessel_codegen/exchange/schedule_order.hpp"

#include <gtest/gtest.h>

namespace tessel_codegen::exchange {
namespace {

TEST(ScheduleOrder, AcceptsOnlyTopologicalPermutations) {
  // Transfer 1 writes what transfer 0 reads on tile 3: (0, 1).
  const ExchangeScheduleProblem problem{
      1,
      {{3, {0x100}, {{1, 0}}, 8, ExchangeItemWidth::Word32}, {0, {0x100}, {{3, 0x100}}, 20, ExchangeItemWidth::Word32}}};
  const auto transfers = pending_from_problem(problem, 8).value();
  const auto receive = receive_configuration(transfers, 8).value();
  const auto topology = tessel_exchange::Topology::r912_prefix(8).value();
  struct Case {
    std::vector<std::size_t> order;
    std::string message;  // empty: accepted
  };
  const std::string not_topological = "exchange-schedule invariant failed: exchange order is not a topological permutation";
  const Case cases[] = {
      {{0, 1}, ""},
      {{1, 0}, not_topological},
      {{0, 0}, not_topological},
      {{0, 2}, not_topological},
      {{0}, "exchange address arithmetic overflowed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.order));
    auto schedule = materialize_schedule_order(topology, transfers, receive, 8, c.order, false);
    if (c.message.empty()) {
      ASSERT_TRUE(schedule) << schedule.error().to_string();
      EXPECT_EQ(schedule->horizon, schedule->builder.event_cycles());
      // The dependent transfer starts no earlier than its predecessor's end.
      EXPECT_GE(schedule->activities[3].back().start, schedule->placements[0]->end);
    } else {
      ASSERT_FALSE(schedule);
      EXPECT_EQ(schedule.error().to_string(), c.message);
    }
  }
  auto empty = materialize_schedule_order(topology, {}, ReceiveConfiguration{std::vector<std::size_t>(8, 0), std::vector<std::uint32_t>(8, 0)}, 8, {}, false);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->horizon, 0u);
}

}  // namespace
}  // namespace tessel_codegen::exchange
