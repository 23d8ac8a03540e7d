#include "tessel_codegen/exchange/order/matching_wave.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <optional>
#include <random>

#include "order_phases.hpp"

namespace tessel_codegen::exchange::order {
namespace {

using testing::Edge;
using testing::point_to_point;
using W = ExchangeItemWidth;
using Order = std::vector<std::size_t>;

std::vector<Edge> fan_out(std::uint16_t source, std::uint16_t first, std::uint16_t count) {
  std::vector<Edge> edges;
  for (std::uint16_t i = 0; i < count; ++i) edges.push_back({source, static_cast<std::uint16_t>(first + i)});
  return edges;
}

// Transfer `later` rewrites the destination bytes of transfer `earlier`: a write-after-write pair.
void write_after(std::vector<PendingTransfer>& transfers, std::size_t earlier, std::size_t later) {
  transfers[later].destinations.front().second = transfers[earlier].destinations.front().second;
}

TEST(MatchingWaveOrder, AbsentWhenThePhaseDoesNotFit) {
  struct Case {
    const char* name;
    std::vector<PendingTransfer> transfers;
  };
  std::vector<PendingTransfer> multicast = point_to_point({{0, 1}, {2, 3}});
  multicast[1].destinations.emplace_back(4, 0x20000);
  std::vector<Edge> unbalanced = fan_out(0, 1, 10);  // tile 0 sends 10 > 2 * ceil(12 / 3)
  unbalanced.push_back({11, 13});
  unbalanced.push_back({12, 13});
  std::vector<PendingTransfer> empty_payload = point_to_point({{0, 1}, {2, 3}});
  empty_payload[1].words = 0;
  const Case cases[] = {
      {"no transfers", {}},
      {"one transfer", point_to_point({{0, 1}})},
      {"a transfer with two destinations", multicast},
      {"one tile sends beyond twice its share", point_to_point(unbalanced)},
      {"odd paired payload", point_to_point({{0, 1}, {2, 3, 129, W::Paired64}})},
      {"empty payload", empty_payload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Order current(c.transfers.size());
    for (std::size_t i = 0; i < current.size(); ++i) current[i] = i;
    EXPECT_EQ(point_to_point_matching_wave_order(c.transfers, 16, current), std::nullopt);
  }
}

TEST(MatchingWaveOrder, WavesFollowMatchingsAndPreferences) {
  struct Case {
    const char* name;
    std::vector<PendingTransfer> transfers;
    Order current;
    Order expected;
  };
  // Ten transfers of one tile: balanced (10 <= 2 * ceil(10 / 1)), one transfer per wave.
  const Order reversed = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

  // b (tile 1 to 2) sends the bytes that a (tile 0 to 1) writes on tile 1.
  std::vector<PendingTransfer> dependent = point_to_point({{0, 1}, {1, 2}});
  dependent[1].source_addresses = {dependent[0].destinations.front().second};
  dependent[1].refresh_source_elements();

  // x = 0 -> 1 (8 words) and y = 0 -> 2 (4 words) are ready; z = 0 -> 2 (8 words) waits for y but
  // already counts in the receive work of tile 2, which puts y before the larger x.
  std::vector<PendingTransfer> receive_work_first = point_to_point({{0, 1, 8}, {0, 2, 4}, {0, 2, 8}});
  write_after(receive_work_first, 1, 2);
  // Equal receive work (8 on tiles 1 and 2): the larger transfer y goes first.
  std::vector<PendingTransfer> cycles_next = point_to_point({{0, 1, 4}, {0, 2, 8}, {0, 1, 4}});
  write_after(cycles_next, 0, 2);

  const Case cases[] = {
      {"ten waves in order-position order", point_to_point(fan_out(0, 1, 10)), reversed, reversed},
      {"a dependency splits otherwise disjoint transfers", dependent, {1, 0}, {0, 1}},
      // Round one matches t0 and, for tile 1, t2 (t1's destination is taken by a tile at level 0);
      // round two finds no free destination; t1 is left for the second wave.
      {"t0, t2 in the first wave, t1 in the second", point_to_point({{0, 5}, {1, 5}, {1, 6}}), {0, 1, 2}, {0, 2, 1}},
      {"earlier order position before receive work", receive_work_first, {0, 1, 2}, {0, 1, 2}},
      {"unordered: larger receive work first", receive_work_first, {}, {1, 0, 2}},
      {"unordered: then larger transfer cycles", cycles_next, {}, {1, 0, 2}},
      {"unordered: then the lower index", point_to_point({{0, 1}, {0, 2}}), {}, {0, 1}},
      // 130 paired words cost 65 cycles, less than the 100 of the second transfer.
      {"paired payload counts half its words", point_to_point({{0, 1, 130, W::Paired64}, {0, 2, 100}}), {}, {1, 0}},
      // The wave {x, z} is sorted by order position, then larger cycles first.
      {"a wave is sorted by position then cycles",
       point_to_point({{0, 1, 4}, {2, 3, 8}, {4, 5, 6}}), {2}, {2, 1, 0}},
      // Both tiles want tile 1 only: tile 3, holding the earlier transfer, is matched first.
      {"the tile with the earliest transfer is matched first", point_to_point({{0, 1}, {3, 1}}), {1, 0}, {1, 0}},
      // All unordered, all to tile 1: tile 0 (20 cycles to send) wins the first wave over tile 3
      // (16), the lower tile number breaks the 16 to 16 tie of the second, tile 3 wins the third.
      {"then more send work, then the lower tile",
       point_to_point({{3, 1, 16}, {0, 1, 4}, {0, 1, 4}, {0, 1, 4}, {0, 1, 4}, {0, 1, 4}}), {}, {1, 2, 0, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(point_to_point_matching_wave_order(c.transfers, 16, c.current), c.expected);
  }
}

// A chain across the whole card: source tile i (1 <= i <= k) has its earlier transfer a_i to tile
// i + 1 and its later transfer b_i to tile i + 2; tile 0, matched last, has only c to tile 2. The
// first round gives every a_i its destination; the second round must re-match every tile of the
// chain, one augmenting path k tiles long, so that the first wave is b_1 ... b_k, c.
struct ChainPhase {
  std::vector<PendingTransfer> transfers;
  Order current;
  Order expected;
};

ChainPhase chain_phase(std::uint16_t k) {
  ChainPhase phase;
  std::vector<Edge> edges;
  for (std::uint16_t i = 1; i <= k; ++i) {
    edges.push_back({i, static_cast<std::uint16_t>(i + 1)});
    edges.push_back({i, static_cast<std::uint16_t>(i + 2)});
  }
  edges.push_back({0, 2});
  phase.transfers = point_to_point(edges);
  for (std::size_t t = 0; t < edges.size(); ++t) phase.current.push_back(t);
  for (std::size_t i = 0; i < k; ++i) phase.expected.push_back(2 * i + 1);
  phase.expected.push_back(2 * std::size_t{k});
  for (std::size_t i = 0; i < k; ++i) phase.expected.push_back(2 * i);
  return phase;
}

TEST(MatchingWaveOrder, AugmentingPathAcrossTheCardFitsASmallStack) {
  constexpr std::uint16_t kTiles = 1472;
  const ChainPhase phase = chain_phase(kTiles - 3);

  // 64 KiB of stack: far too little for a call per tile of the path.
  struct Run {
    const ChainPhase* phase;
    std::optional<Order> order;
  } run{&phase, std::nullopt};
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64 * 1024), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* argument) -> void* {
                  auto* r = static_cast<Run*>(argument);
                  r->order = point_to_point_matching_wave_order(r->phase->transfers, kTiles, r->phase->current);
                  return nullptr;
                },
                &run),
            0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(run.order, phase.expected);
}

TEST(MatchingWaveOrder, AugmentFollowsLevelsAndKeepsTheFirstSuccessfulEdge) {
  // Source tile 1 is matched to destination 5 and reachable at level 1; tile 0 is free at level 0
  // with edges to 5 and 6. Through tile 1 (re-matched to its free destination 7) tile 0 takes 5,
  // its first edge, although 6 is free.
  const std::vector<PendingTransfer> transfers = point_to_point({{0, 5}, {0, 6}, {1, 5}, {1, 7}});
  const std::vector<std::vector<std::size_t>> ready = {{0, 1}, {2, 3}};
  std::vector<std::optional<std::size_t>> match_of_source = {std::nullopt, 2};
  std::vector<std::optional<std::uint16_t>> match_of_destination(8);
  match_of_destination[5] = 1;
  std::vector<std::size_t> level = {0, 1, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX};
  std::vector<AugmentFrame> stack;
  EXPECT_TRUE(augment_ready_matching(0, transfers, ready, match_of_source, match_of_destination, level, stack));
  EXPECT_EQ(match_of_source[0], 0u);
  EXPECT_EQ(match_of_source[1], 3u);
  EXPECT_EQ(match_of_destination[5], 0);
  EXPECT_EQ(match_of_destination[7], 1);
  EXPECT_EQ(match_of_destination[6], std::nullopt);

  // Tile 1 one level too deep: it is not followed, and tile 0 takes its free second edge.
  match_of_source = {std::nullopt, 2};
  std::fill(match_of_destination.begin(), match_of_destination.end(), std::nullopt);
  match_of_destination[5] = 1;
  level[1] = 2;
  EXPECT_TRUE(augment_ready_matching(0, transfers, ready, match_of_source, match_of_destination, level, stack));
  EXPECT_EQ(match_of_source[0], 1u);
  EXPECT_EQ(match_of_source[1], 2u);

  // No path at all: the tile is removed from the round.
  const std::vector<std::vector<std::size_t>> only_taken = {{0}, {2}};
  match_of_source = {std::nullopt, 2};
  std::fill(match_of_destination.begin(), match_of_destination.end(), std::nullopt);
  match_of_destination[5] = 1;
  level = {0, 1, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX, SIZE_MAX};
  EXPECT_FALSE(augment_ready_matching(0, transfers, only_taken, match_of_source, match_of_destination, level, stack));
  EXPECT_EQ(level[0], SIZE_MAX);
  EXPECT_EQ(level[1], SIZE_MAX);
  EXPECT_EQ(match_of_source[0], std::nullopt);
  EXPECT_EQ(match_of_destination[5], 1);
}

TEST(MatchingWaveOrder, RandomPhasesGiveRepeatableDependencyOrders) {
  std::mt19937 random(20261211);
  std::size_t produced = 0;
  for (int round = 0; round < 300; ++round) {
    const auto tile_count = static_cast<std::uint16_t>(4 + random() % 28);
    const std::size_t n = 2 + random() % 60;
    const std::vector<PendingTransfer> transfers = testing::random_phase(random, tile_count, n, false);
    const Order current = testing::random_order(random, n, round % 3 == 0);
    SCOPED_TRACE(round);
    const std::optional<Order> order = point_to_point_matching_wave_order(transfers, tile_count, current);
    EXPECT_EQ(order, point_to_point_matching_wave_order(transfers, tile_count, current));
    if (!order) continue;
    ++produced;
    EXPECT_TRUE(testing::is_dependency_order(transfers, tile_count, *order));
  }
  EXPECT_GT(produced, 200u);  // the phases are mostly balanced: the check above must have run
}

}  // namespace
}  // namespace tessel_codegen::exchange::order
