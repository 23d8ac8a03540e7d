#include "tessel_codegen/exchange/materialized_schedule.hpp"

#include <gtest/gtest.h>

namespace tessel_codegen::exchange {
namespace {

PendingTransfer transfer(std::uint16_t source, std::uint32_t address,
                         std::vector<std::pair<std::uint16_t, std::uint32_t>> destinations, std::uint32_t words,
                         ExchangeItemWidth width = ExchangeItemWidth::Word32) {
  PendingTransfer t;
  t.source = source;
  t.source_addresses = {address};
  t.destinations = std::move(destinations);
  t.words = words;
  t.width = width;
  if (width == ExchangeItemWidth::Paired64) t.paired_source = source ^ 1;
  t.refresh_source_elements();
  return t;
}

struct Phase {
  std::uint16_t tiles;
  std::vector<PendingTransfer> transfers;
  tessel_exchange::Topology topology = tessel_exchange::Topology::r912_prefix(tiles).value();
  ReceiveConfiguration receive = receive_configuration(transfers, tiles).value();
  MaterializedSchedule schedule = MaterializedSchedule::create(tiles, transfers);
  std::vector<LastTransfer> last = std::vector<LastTransfer>(tiles);

  Result<std::uint32_t> append(std::size_t index, std::uint32_t not_before = 0) {
    return schedule.append(topology, transfers, receive.incoming_bases, receive.receive_counts, index, not_before,
                           false, last);
  }
};

TEST(MaterializedSchedule, ValidationBudget) {
  EXPECT_EQ(validation_budget_for(4, {}), 0x20000000u);
  EXPECT_EQ(validation_budget_for(4, {transfer(0, 0, {{1, 0}}, 4)}), 0x20000000u);
  // 20 000 transfers from tile 0 to tile 1: (s + r) (s + 3r + 1) = 20000 * 20001 + 20000 * 60001.
  std::vector<PendingTransfer> many(20000, transfer(0, 0, {{1, 0}}, 4));
  EXPECT_EQ(validation_budget_for(2, many), 4ull * (20000ull * 20001 + 20000ull * 60001));
}

TEST(MaterializedSchedule, PointToPointOnlyIntoASingleReceiveAtItsBase) {
  // 0 -> 2 has latency -31: the point-to-point sender waits 143 cycles, a multicast sender 31.
  Phase point{8, {transfer(0, 0x100, {{2, 0x1000}}, 16)}};
  ASSERT_TRUE(point.append(0));
  EXPECT_EQ(point.schedule.activities[0].front().start, 143u);

  Phase shared{8, {transfer(0, 0x100, {{2, 0x1000}}, 16), transfer(3, 0x100, {{2, 0x2000}}, 16)}};
  ASSERT_TRUE(shared.append(0));
  EXPECT_EQ(shared.schedule.activities[0].front().start, 31u);
}

TEST(MaterializedSchedule, RecordsPerTile) {
  Phase phase{8, {transfer(2, 0x800, {{4, 0x10000}, {5, 0x10000}}, 256, ExchangeItemWidth::Paired64),
                  transfer(2, 0x4000, {{6, 0x100}}, 8)}};
  const std::uint32_t end = phase.append(0).value();
  const auto& send = phase.schedule.activities[2].at(0);
  const auto& partner = phase.schedule.activities[3].at(0);
  const auto& receive = phase.schedule.activities[5].at(0);
  EXPECT_EQ(send.kind, ExchangeActivityKind::Send);
  EXPECT_EQ(partner.kind, ExchangeActivityKind::PartnerBusy);
  EXPECT_EQ(receive.kind, ExchangeActivityKind::Receive);
  EXPECT_EQ(partner.start, send.start);
  EXPECT_EQ(partner.payload_end, send.horizon);
  EXPECT_EQ(phase.schedule.tile_ready[3].send, send.horizon);
  EXPECT_EQ(phase.schedule.tile_ready[2].send, send.payload_end);
  EXPECT_EQ(phase.schedule.tile_ready[5].receive, receive.payload_end);
  EXPECT_EQ(end, std::max({send.payload_end, receive.payload_end, phase.schedule.activities[4][0].payload_end}));
  EXPECT_EQ(phase.schedule.memory[2].reads.size(), 1u);
  EXPECT_EQ(phase.schedule.memory[4].writes.size(), 1u);
  EXPECT_EQ(phase.last[3].last_sender, 0u);
  EXPECT_EQ(phase.last[4].last_receiver, 0u);

  // The next transfer's critical tile is its source, whose last sender is transfer 0.
  ASSERT_TRUE(phase.append(1, 0));
  EXPECT_EQ(phase.schedule.placements[1]->critical_predecessor, 0u);
  EXPECT_EQ(phase.schedule.order, (std::vector<std::size_t>{0, 1}));
}

TEST(MaterializedSchedule, AppendErrors) {
  struct Case {
    const char* name;
    PendingTransfer transfer;
    std::string message;
  };
  PendingTransfer empty_span = transfer(0, 0, {{1, 0}}, 4);
  empty_span.source_elements.clear();
  const Case cases[] = {
      {"no source elements", empty_span, "exchange payload is not a nonempty whole number of words"},
      {"single loopback", transfer(0, 0, {{0, 0x4000}}, 4),
       "exchange-schedule invariant failed: multicast loopback requires separate source and destination memory "
       "elements"},
      {"loopback into a read element", transfer(0, 0, {{1, 0}, {0, 0x100}}, 4),
       "exchange-schedule invariant failed: multicast loopback requires separate source and destination memory "
       "elements"},
      {"receive address beyond the pointer", transfer(0, 0, {{1, 0x100000}, {2, 0}}, 4),
       "tile address 0x100000 is not encodable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Phase phase{8, {c.transfer}};
    auto appended = phase.append(0);
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.error().to_string(), c.message);
  }
}

}  // namespace
}  // namespace tessel_codegen::exchange
