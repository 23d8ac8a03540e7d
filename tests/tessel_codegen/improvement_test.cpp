#include "tessel_codegen/exchange/improvement.hpp"

#include <gtest/gtest.h>

#include "tessel_codegen/exchange/greedy.hpp"

namespace tessel_codegen::exchange {
namespace {

PendingTransfer transfer(std::uint16_t source, std::uint16_t destination, std::uint32_t words,
                         ExchangeItemWidth width = ExchangeItemWidth::Word32) {
  PendingTransfer t;
  t.source = source;
  t.source_addresses = {0};
  t.destinations = {{destination, 0}};
  t.words = words;
  t.width = width;
  if (width == ExchangeItemWidth::Paired64) t.paired_source = source ^ 1;
  t.refresh_source_elements();
  return t;
}

TEST(Improvement, EndpointWorkLowerBound) {
  EXPECT_EQ(endpoint_work_lower_bound({transfer(0, 1, 100), transfer(0, 2, 50), transfer(3, 1, 30)}, 4), 150u);
  EXPECT_EQ(endpoint_work_lower_bound({transfer(2, 4, 200, ExchangeItemWidth::Paired64), transfer(3, 5, 60)}, 6), 160u);
  EXPECT_EQ(endpoint_work_lower_bound({}, 4), 0u);
}

TEST(Improvement, NeighborhoodWindows) {
  // Nine transfers from tile 0 in order; the critical path is the single transfer at a given position.
  std::vector<PendingTransfer> transfers;
  for (std::uint16_t i = 0; i < 9; ++i) transfers.push_back(transfer(0, static_cast<std::uint16_t>(1 + i), 4));
  struct Case {
    std::size_t critical;
    std::vector<bool> flags;
  };
  const Case cases[] = {
      {4, {false, true, true, true, true, true, true, true, false}},
      {0, {true, true, true, true, false, false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.critical);
    MaterializedSchedule schedule = MaterializedSchedule::create(10, transfers);
    for (std::size_t i = 0; i < 9; ++i) {
      schedule.order.push_back(i);
      schedule.placements[i] = TransferPlacement{std::nullopt, i == c.critical ? 100u : 1u};
    }
    EXPECT_EQ(critical_neighborhood(schedule, transfers, 10), c.flags);
  }
}

TEST(Improvement, CriticalPathFollowsPredecessors) {
  std::vector<PendingTransfer> transfers{transfer(0, 1, 4), transfer(2, 3, 4), transfer(4, 5, 4)};
  MaterializedSchedule schedule = MaterializedSchedule::create(6, transfers);
  schedule.order = {0, 1, 2};
  schedule.placements[0] = TransferPlacement{std::nullopt, 10};
  schedule.placements[1] = TransferPlacement{0, 30};
  schedule.placements[2] = TransferPlacement{std::nullopt, 30};  // ties go to the higher index
  EXPECT_EQ(critical_neighborhood(schedule, transfers, 6), (std::vector<bool>{false, false, true}));
  schedule.placements[1]->end = 31;
  EXPECT_EQ(critical_neighborhood(schedule, transfers, 6), (std::vector<bool>{true, true, false}));
}

TEST(Improvement, SingleTransferKeepsTheGreedySchedule) {
  const std::vector<PendingTransfer> transfers{transfer(0, 1, 40)};
  const auto receive = receive_configuration(transfers, 4).value();
  const auto topology = tessel_exchange::Topology::r912_prefix(4).value();
  auto greedy = materialize_greedy_schedule_impl(topology, transfers, receive, 4, false).value();
  const std::uint32_t horizon = greedy.horizon;
  ImprovedSchedule improved = improve_pending_schedule(topology, transfers, receive, 4, std::move(greedy));
  EXPECT_EQ(improved.neighborhood_improvements, 0u);
  EXPECT_EQ(improved.initial_horizon, horizon);
  EXPECT_EQ(improved.schedule.horizon, horizon);
  EXPECT_EQ(improved.endpoint_lower_bound, 40u);
}

}  // namespace
}  // namespace tessel_codegen::exchange
