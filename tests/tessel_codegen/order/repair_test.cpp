#include "tessel_codegen/exchange/order/repair.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <random>

#include "order_phases.hpp"

namespace tessel_codegen::exchange::order {

void PrintTo(const RepairReady& key, std::ostream* out) {
  *out << "{ready " << key.ready_cycle << ", bucket " << key.bucket << ", continuing "
       << key.continuing_destinations << ", critical " << key.critical << ", work " << key.endpoint_work
       << ", position " << key.order_position << ", transfer " << key.transfer << "}";
}

namespace {

using testing::Edge;
using testing::point_to_point;
using W = ExchangeItemWidth;
using Order = std::vector<std::size_t>;

Order identity(std::size_t n) {
  Order order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  return order;
}

std::vector<bool> flags(std::size_t n, const std::vector<std::size_t>& marked) {
  std::vector<bool> result(n, false);
  for (std::size_t t : marked) result[t] = true;
  return result;
}

TEST(RepairReady, FieldsDecideInOrder) {
  struct Case {
    const char* name;
    RepairReady better;
    RepairReady worse;  // better in every later field
  };
  const Case cases[] = {
      {"earlier ready cycle", {10, 5, 0, false, 0, 50, 9}, {12, 0, 3, true, 1000, 0, 0}},
      {"lower bucket", {10, 0, 0, false, 0, 50, 9}, {10, 1, 3, true, 1000, 3, 0}},
      {"more continuing destinations", {10, 1, 2, false, 0, 50, 9}, {10, 1, 1, true, 1000, 3, 0}},
      {"critical", {10, 1, 1, true, 0, 50, 9}, {10, 1, 1, false, 1000, 3, 0}},
      {"more endpoint work", {10, 1, 1, true, 1000, 50, 9}, {10, 1, 1, true, 999, 3, 0}},
      {"earlier order position", {10, 1, 1, true, 1000, 3, 9}, {10, 1, 1, true, 1000, 4, 0}},
      {"lower transfer index", {10, 1, 1, true, 1000, 3, 0}, {10, 1, 1, true, 1000, 3, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_GT(c.better, c.worse);
    EXPECT_LT(c.worse, c.better);
    EXPECT_NE(c.better, c.worse);
    EXPECT_EQ(std::set<RepairReady>({c.better, c.worse}).rbegin()->transfer, c.better.transfer);
  }
}

TEST(RepairReady, BucketWidthIsTheIntegerSquareRoot) {
  const std::pair<std::size_t, std::size_t> cases[] = {{0, 1},  {1, 1},  {2, 1},       {3, 1},     {4, 2},
                                                       {8, 2},  {9, 3},  {10, 3},      {15, 3},    {16, 4},
                                                       {99, 9}, {100, 10}, {999999, 999}, {1000000, 1000}};
  for (const auto& [n, width] : cases) EXPECT_EQ(repair_bucket_width(n), width) << n;
}

TEST(RepairReady, KeyReadsTheTilesOfTheTransfer) {
  // Source 0, partner 1, destinations on tiles 2 and 3 and a loopback onto tile 0.
  PendingTransfer transfer;
  transfer.source = 0;
  transfer.paired_source = 1;
  transfer.destinations = {{2, 0x100}, {3, 0x200}, {0, 0x4000}};
  transfer.words = 4;
  const std::vector<PendingTransfer> transfers = {transfer};
  RepairTileState tiles({}, 4);
  tiles.send_ready = {5, 9, 0, 0};
  tiles.receive_ready = {11, 0, 7, 3};
  tiles.receive_cursor = {0x4000, std::nullopt, 0x100, 0x300};
  tiles.endpoint_work = {1, 2, 4, 8};
  const Order positions = {7};
  const std::vector<bool> critical = {true};
  const RepairContext context{transfers, tiles, positions, 3, critical};

  const RepairReady expected{11, 2, 2, true, 1 + 2 + 4 + 8 + 1, 7, 0};
  EXPECT_EQ(repair_ready(0, context), expected);
  EXPECT_EQ(repair_static_key(0, context), (RepairReady{0, 2, 0, true, 0, 7, 0}));
}

TEST(RepairTileState, PlacingOccupiesTilesAndMovesCursors) {
  PendingTransfer single = point_to_point({{3, 7, 100}})[0];
  single.destinations[0].second = 0x1000;
  PendingTransfer paired = point_to_point({{4, 5, 200, W::Paired64}})[0];
  paired.destinations.emplace_back(6, 0x2000);
  RepairTileState tiles({single, paired}, 8);
  ASSERT_EQ(tiles.endpoint_work, (std::vector<std::uint64_t>{0, 0, 0, 100, 100, 200, 100, 100}));

  ASSERT_TRUE(tiles.place(single, 40));
  EXPECT_EQ(tiles.send_ready[3], 140u);
  EXPECT_EQ(tiles.receive_ready[7], 140u);
  EXPECT_EQ(tiles.receive_cursor[7], 0x1190u);
  EXPECT_EQ(tiles.endpoint_work[3], 0u);
  EXPECT_EQ(tiles.endpoint_work[7], 0u);

  // A paired multicast of 100 cycles occupies source and partner; its partner is also a receiver
  // and so loses the work twice, once more than it has left.
  tiles.endpoint_work[5] = 150;
  ASSERT_TRUE(tiles.place(paired, 7));
  EXPECT_EQ(tiles.send_ready[4], 107u);
  EXPECT_EQ(tiles.send_ready[5], 107u);
  EXPECT_EQ(tiles.receive_ready[5], 107u);
  EXPECT_EQ(tiles.receive_ready[6], 107u);
  EXPECT_EQ(tiles.receive_cursor[5], 0x10000u + 800u);
  EXPECT_EQ(tiles.receive_cursor[6], 0x2000u + 800u);
  EXPECT_EQ(tiles.endpoint_work[5], 0u);
  EXPECT_EQ(tiles.receive_ready[7], 140u);
}

TEST(RepairTileState, BeyondThirtyTwoBits) {
  struct Case {
    const char* name;
    std::uint32_t ready_cycle;
    std::uint32_t words;
    std::uint32_t address;
    bool placed;
    std::optional<std::uint32_t> cursor;
  };
  const Case cases[] = {
      {"payload ends at the last byte", 0, 4, 0xFFFFFFF0, true, std::nullopt},
      {"payload ends beyond the last byte", 0, 8, 0xFFFFFFF0, true, std::nullopt},
      {"payload ends just below", 0, 3, 0xFFFFFFF0, true, 0xFFFFFFFCu},
      {"end cycle beyond u32", 0xFFFFFFF0, 100, 0x1000, false, std::nullopt},
      {"byte count beyond u32", 0, 0x40000000, 0x1000, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PendingTransfer transfer = point_to_point({{0, 1, c.words}})[0];
    transfer.destinations[0].second = c.address;
    RepairTileState tiles({transfer}, 2);
    const RepairTileState before = tiles;
    EXPECT_EQ(tiles.place(transfer, c.ready_cycle), c.placed);
    EXPECT_EQ(tiles.receive_cursor[1], c.cursor);
    if (!c.placed) {
      EXPECT_EQ(tiles.send_ready, before.send_ready);
      EXPECT_EQ(tiles.endpoint_work, before.endpoint_work);
    }
  }
}

TEST(RepairGroup, ProposesTheBestReadyTransfer) {
  // Four transfers from tile 0 to tile 1: t2 and t3 both start where the stream at 0x2000 left
  // off; t0 at 0x1000 and t1 at 0x5000 do not.
  std::vector<PendingTransfer> transfers = point_to_point({{0, 1}, {0, 1}, {0, 1}, {0, 1}});
  const std::uint32_t addresses[] = {0x1000, 0x5000, 0x2000, 0x2000};
  RepairGroup group;
  for (std::size_t t = 0; t < 4; ++t) {
    transfers[t].destinations[0].second = addresses[t];
    group.by_destination[transfers[t].destinations[0]].push_back(t);
  }
  const Order positions = identity(4);

  struct Case {
    const char* name;
    Order ready;
    std::vector<std::size_t> critical;
    std::size_t bucket_width;
    std::optional<std::uint32_t> cursor;
    std::optional<std::size_t> proposed;
    std::size_t continuing;
  };
  const Case cases[] = {
      {"nothing ready", {}, {}, 4, std::nullopt, std::nullopt, 0},
      {"first in static order without a stream", {0, 1, 2, 3}, {}, 4, std::nullopt, 0, 0},
      {"a critical transfer first in its bucket", {0, 1, 2, 3}, {1}, 4, std::nullopt, 1, 0},
      {"a lower bucket before a critical transfer", {0, 1, 2, 3}, {2}, 2, std::nullopt, 0, 0},
      {"a stream continues in the bucket", {0, 1, 2, 3}, {}, 4, 0x2000, 2, 1},
      {"a continuation outranks a critical first transfer", {0, 1, 2, 3}, {0}, 4, 0x2000, 2, 1},
      {"the best continuation wins", {0, 1, 2, 3}, {0, 3}, 4, 0x2000, 3, 1},
      {"a continuation in a later bucket waits", {0, 1, 2, 3}, {}, 2, 0x2000, 0, 0},
      {"a continuation that is not ready", {0, 1}, {}, 4, 0x2000, 0, 0},
      {"the first transfer continues the stream itself", {0, 1, 2, 3}, {}, 4, 0x1000, 0, 1},
      {"a cursor no transfer starts at", {0, 1, 2, 3}, {}, 4, 0x3000, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RepairTileState tiles(transfers, 2);
    tiles.receive_cursor[1] = c.cursor;
    const std::vector<bool> critical = flags(4, c.critical);
    const RepairContext context{transfers, tiles, positions, c.bucket_width, critical};
    group.ready.clear();
    for (std::size_t t : c.ready) group.ready.insert(repair_static_key(t, context));
    const std::optional<RepairReady> proposal = group.best(context);
    ASSERT_EQ(proposal.has_value(), c.proposed.has_value());
    if (!proposal) continue;
    EXPECT_EQ(*proposal, repair_ready(*c.proposed, context));
    EXPECT_EQ(proposal->continuing_destinations, c.continuing);
  }
}

TEST(RepairOrder, PlacesTheBestProposalFirst) {
  struct Case {
    const char* name;
    std::vector<PendingTransfer> transfers;
    Order current;
    std::vector<std::size_t> critical;
    Order expected;
  };

  // p = 0 -> 1 (10 words) and q = 2 -> 3 (12 words); A = 5 -> 1 and B = 6 -> 3 overwrite their
  // payloads. Once p and q are placed, A is ready at cycle 10 and B at 12: A goes first although
  // B is critical, earlier in the current order and in a lower bucket.
  std::vector<PendingTransfer> ready_cycles = point_to_point({{0, 1, 10}, {2, 3, 12}, {5, 1}, {6, 3}});
  ready_cycles[2].destinations[0].second = ready_cycles[0].destinations[0].second;
  ready_cycles[3].destinations[0].second = ready_cycles[1].destinations[0].second;

  // One group of ten (bucket width 3): buckets {0, 1, 2}, {3, 4, 5}, {6, 7, 8}, {9}, critical
  // transfers first within each.
  const std::vector<PendingTransfer> one_group = point_to_point(std::vector<Edge>(10, Edge{0, 1}));

  // One group of nine (bucket width 3): t2 continues the stream that t0 leaves at 0x1010.
  std::vector<PendingTransfer> stream = point_to_point(std::vector<Edge>(9, Edge{0, 1}));
  stream[0].destinations[0].second = 0x1000;
  stream[2].destinations[0].second = 0x1010;
  std::vector<PendingTransfer> late_stream = point_to_point(std::vector<Edge>(9, Edge{0, 1}));
  late_stream[0].destinations[0].second = 0x1000;
  late_stream[3].destinations[0].second = 0x1010;

  // b (1 -> 2) reads what a (0 -> 1) writes on tile 1.
  std::vector<PendingTransfer> dependent = point_to_point({{0, 1}, {1, 2}});
  dependent[1].source_addresses = {dependent[0].destinations[0].second};
  dependent[1].refresh_source_elements();


  const Case cases[] = {
      {"ready cycle 10 beats 12", ready_cycles, {3, 2, 1, 0}, {3}, {1, 0, 2, 3}},
      {"static order within one group", one_group, identity(10), {2, 5, 8, 9}, {2, 0, 1, 5, 3, 4, 8, 6, 7, 9}},
      {"a stream continues within its bucket", stream, identity(9), {}, {0, 2, 1, 3, 4, 5, 6, 7, 8}},
      {"a stream into the next bucket waits", late_stream, identity(9), {}, identity(9)},
      {"a successor waits for its predecessor", dependent, {1, 0}, {1}, {0, 1}},
      // The paired transfer (64 cycles) keeps its partner, tile 3, busy: tile 3's own transfer
      // is ready at 64 and the transfer on free tiles overtakes it.
      {"a paired transfer occupies its partner", point_to_point({{2, 5, 128, W::Paired64}, {3, 6}, {7, 8}}),
       {0, 1, 2}, {}, {0, 2, 1}},
      // Transfers missing from the order count as position 0 (bucket 0): t1 before t2.
      {"missing transfers rank at the front", point_to_point({{0, 1}, {2, 3}, {4, 5}}), {2, 0}, {}, {1, 2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(repair_order(c.transfers, 16, c.current, flags(c.transfers.size(), c.critical)), c.expected);
  }
}

TEST(RepairOrder, GivesUpOnArithmeticBeyondThirtyTwoBits) {
  struct Case {
    const char* name;
    std::vector<Edge> edges;
    Order current;
    std::vector<std::size_t> critical;
    Order expected;
  };
  // t0 and t1 share tile 0; t2 is free at cycle 0 and overtakes t1.
  const std::vector<Edge> small = {{0, 1, 4}, {0, 2, 4}, {3, 4, 4}};
  const std::vector<Edge> huge_payload = {{0, 1, 0x40000000}, {0, 2, 4}, {3, 4, 4}};
  // Five transfers of 0x3FFFFFFF cycles from tile 0: the fifth would end beyond u32.
  std::vector<Edge> four_long, five_long;
  for (std::uint16_t i = 1; i <= 5; ++i) {
    if (i <= 4) four_long.push_back({0, i, 0x3FFFFFFF});
    five_long.push_back({0, i, 0x3FFFFFFF});
  }
  const Case cases[] = {
      {"small payloads reorder", small, {0, 1, 2}, {}, {0, 2, 1}},
      {"a byte count beyond u32 keeps the order", huge_payload, {0, 1, 2}, {}, {0, 1, 2}},
      // The last of four ends at 0xFFFFFFFC; the critical t2 moves up its bucket.
      {"end cycles up to the last cycle", four_long, {3, 2, 1, 0}, {2}, {2, 3, 1, 0}},
      {"an end cycle beyond u32 keeps the order", five_long, {4, 3, 2, 1, 0}, {3}, {4, 3, 2, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<PendingTransfer> transfers = point_to_point(c.edges);
    EXPECT_EQ(repair_order(transfers, 8, c.current, flags(transfers.size(), c.critical)), c.expected);
  }
}

TEST(RepairOrder, RandomPhasesGiveRepeatableDependencyOrders) {
  std::mt19937 random(1211);
  for (int round = 0; round < 300; ++round) {
    const auto tile_count = static_cast<std::uint16_t>(4 + random() % 28);
    const std::size_t n = 2 + random() % 60;
    const std::vector<PendingTransfer> transfers = testing::random_phase(random, tile_count, n, round % 2 == 0);
    const Order current = testing::random_order(random, n, round % 5 == 0);
    std::vector<bool> critical(n);
    for (std::size_t t = 0; t < n; ++t) critical[t] = random() % 3 == 0;
    SCOPED_TRACE(round);
    const Order order = repair_order(transfers, tile_count, current, critical);
    EXPECT_TRUE(testing::is_dependency_order(transfers, tile_count, order));
    EXPECT_EQ(order, repair_order(transfers, tile_count, current, critical));
  }
}

}  // namespace
}  // namespace tessel_codegen::exchange::order
