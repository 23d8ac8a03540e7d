#include "tessel_exchange/phase_builder.hpp"

#include <gtest/gtest.h>

#include <random>

#include "tessel_exchange/diagnostic/tile_validation.hpp"
#include "tessel_exchange/row_builders.hpp"

namespace tessel_exchange {
namespace {

using testing::receiver_row;
using testing::sender_row;

const Topology& small_card() {
  static const Topology topology = Topology::r912_prefix(8).value();
  return topology;
}

ExchangeRoute point_route(std::uint16_t sender, std::uint16_t receiver, std::uint32_t words) {
  PointToPointRoute point = small_card().point_to_point(sender, receiver, words).value();
  ExchangeRoute route;
  route.sender_row = point.sender_row;
  route.receiver_rows.push_back(
      finalize_point_receiver(point.receiver_patch_index, point.receiver_words, small_card().physical_tiles()[sender])
          .value());
  return route;
}

struct Placement {
  std::uint16_t sender;
  std::vector<std::uint16_t> partners;
  std::vector<std::uint16_t> receivers;
  ExchangeRoute route;
  std::uint32_t rows;
};

// Places each transfer at its earliest deferred offset and returns the offsets.
std::vector<std::uint32_t> place_all(PhaseProgramBuilder& builder, const std::vector<Placement>& placements) {
  std::vector<std::uint32_t> offsets;
  for (const Placement& p : placements) {
    auto offset = builder.earliest_transfer_offset_deferred(p.sender, p.partners, p.receivers, p.route, p.rows, 0);
    EXPECT_TRUE(offset) << offset.error().to_string();
    if (!offset) return offsets;
    auto placed = builder.append_transfer_at(p.sender, p.partners, p.receivers, p.route, *offset, p.rows);
    EXPECT_TRUE(placed) << placed.error().to_string();
    offsets.push_back(*offset);
  }
  return offsets;
}

TEST(PhaseProgramBuilder, EmptyBuilder) {
  PhaseProgramBuilder builder = PhaseProgramBuilder::create(4);
  EXPECT_EQ(builder.earliest_transfer_offset_deferred(0, {}, std::vector<std::uint16_t>{1}, point_route(0, 1, 8), 8, 0),
            0u);
  EXPECT_EQ(builder.event_cycles(), 0u);
  auto finished = builder.finish();
  ASSERT_TRUE(finished);
  EXPECT_EQ(finished->horizon, 0u);
  EXPECT_EQ(finished->tile_horizons, (std::vector<std::uint32_t>(4, 0)));
  for (const auto& program : finished->programs) EXPECT_FALSE(program);
  EXPECT_EQ(PhaseProgramBuilder::create(0).event_cycles(), 0u);
}

TEST(PhaseProgramBuilder, EveryRouteKindFinishesAndValidates) {
  const std::vector<std::uint16_t> pair_receivers{4, 5};
  const std::vector<Placement> placements = {
      {0, {}, {1}, point_route(0, 1, 100), 100},
      {0, {}, {2, 3, 6}, small_card().multicast(0, std::vector<std::uint16_t>{2, 3, 6}, 40, 0).value(), 40},
      {2, {}, {1}, small_card().multicast(2, std::vector<std::uint16_t>{1}, 7, 0).value(), 7},
      {0, {1}, pair_receivers, small_card().paired_multicast(0, pair_receivers, 128).value(), 128},
      {3, {}, {3, 7}, small_card().multicast(3, std::vector<std::uint16_t>{3, 7}, 16, 0).value(), 16},
      {6, {}, {2, 4}, small_card().multicast(6, std::vector<std::uint16_t>{2, 4}, 300, 0).value(), 300},
  };
  PhaseProgramBuilder builder = PhaseProgramBuilder::create(8);
  const auto offsets = place_all(builder, placements);
  ASSERT_EQ(offsets.size(), placements.size());
  auto finished = builder.finish();
  ASSERT_TRUE(finished) << finished.error().to_string();
  EXPECT_EQ(finished->horizon, builder.event_cycles());
  for (std::size_t t = 0; t < 8; ++t) {
    SCOPED_TRACE(t);
    ASSERT_EQ(finished->programs[t].has_value(), builder.tiles()[t].horizon() != 0);
    if (!finished->programs[t]) continue;
    // A corrupted word makes the check fail: an extra cycle on the last delay or an unknown word.
    std::vector<std::uint32_t> words = *finished->programs[t];
    ASSERT_TRUE(diagnostic::validate_tile_program(t, builder.tiles()[t], words));
    words.insert(words.end() - 1, delay_word(1));
    EXPECT_EQ(diagnostic::validate_tile_program(t, builder.tiles()[t], words).error(),
              ExchangeError::schedule("encoded tile horizon mismatch"));
  }
  // The partner of the paired sender is kept busy until the sender's row ends.
  EXPECT_GT(builder.tiles()[1].busy_until(), 0u);
}

TEST(PhaseProgramBuilder, SenderSearchSkipsPlacedRowsAndControls) {
  PhaseProgramBuilder builder = PhaseProgramBuilder::create(4);
  ExchangeRoute first;
  first.sender_row = sender_row(10);
  // A sender-only route is enough to occupy the sender.
  ASSERT_TRUE(builder.append_transfer_at(0, {}, {}, first, 0, 10));
  ExchangeRoute second;
  second.sender_row = sender_row(4);
  EXPECT_EQ(builder.earliest_transfer_offset_deferred(0, {}, {}, second, 4, 0), 10u);
  EXPECT_EQ(builder.earliest_transfer_offset_deferred(0, {}, {}, second, 4, 12), 12u);
}

TEST(PhaseProgramBuilder, ValidationBudget) {
  PhaseProgramBuilder builder = PhaseProgramBuilder::create(4).with_validation_budget(0);
  const ExchangeRoute route = point_route(0, 1, 8);
  const std::vector<std::uint16_t> receivers{1};
  EXPECT_EQ(builder.earliest_transfer_offset(0, {}, receivers, route, 8, 0).error(),
            ExchangeError::validation_budget_exceeded());
  EXPECT_EQ(builder.earliest_transfer_offset_deferred(0, {}, receivers, route, 8, 0), 0u);

  // An empty sender and receiver cost one entry each; two builders draw from one pool of three.
  PhaseProgramBuilder first = PhaseProgramBuilder::create(4).with_validation_budget(3);
  PhaseProgramBuilder second = PhaseProgramBuilder::create(4);
  second.share_validation_budget(first.validation_budget());
  EXPECT_EQ(first.earliest_transfer_offset(0, {}, receivers, route, 8, 0), 0u);
  EXPECT_EQ(second.earliest_transfer_offset(0, {}, receivers, route, 8, 0).error(),
            ExchangeError::validation_budget_exceeded());
  EXPECT_EQ(first.validation_budget()->load(), 1u);
}

TEST(PhaseProgramBuilder, FailedPlacementChangesNoTile) {
  PhaseProgramBuilder builder = PhaseProgramBuilder::create(8);
  const ExchangeRoute route = point_route(0, 1, 8);
  ASSERT_TRUE(builder.append_transfer_at(0, {}, std::vector<std::uint16_t>{1}, route, 0, 8));
  const auto before = builder.tiles();
  const auto multicast = small_card().multicast(2, std::vector<std::uint16_t>{4, 5}, 8, 0).value();
  struct Case {
    const char* name;
    std::vector<std::uint16_t> partners, receivers;
    ExchangeError error;
  };
  const Case cases[] = {
      {"partner is the sender", {2}, {4, 5}, ExchangeError::duplicate_tile()},
      {"partner is a receiver", {4}, {4, 5}, ExchangeError::duplicate_tile()},
      {"receiver twice", {}, {4, 4}, ExchangeError::duplicate_tile()},
      {"receiver outside", {}, {4, 8}, ExchangeError::tile(8)},
      {"partner outside", {9}, {4, 5}, ExchangeError::tile(9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto placed = builder.append_transfer_at(2, c.partners, c.receivers, multicast, 0, 8);
    ASSERT_FALSE(placed);
    EXPECT_EQ(placed.error(), c.error);
    for (std::size_t t = 0; t < 8; ++t) {
      EXPECT_EQ(builder.tiles()[t].senders(), before[t].senders());
      EXPECT_EQ(builder.tiles()[t].receives(), before[t].receives());
      EXPECT_EQ(builder.tiles()[t].horizon(), before[t].horizon());
    }
  }
  EXPECT_EQ(builder.transfer_timing_at(0, {}, route, 0, 8).error(), ExchangeError::schedule("receiver row count"));
}

// The search accepts a receiver window whose events share a cycle only with events that appending it
// removes or with which they form a pointer-and-mux pair, and keeps the sender's payload start and the
// cycle after it free of controls. Placing at the found offset must leave every tile encodable in
// these terms.
TEST(PhaseProgramBuilder, SearchSkipsControlsThatCannotShareACycle) {
  struct Transfer {
    std::uint16_t sender;
    std::vector<std::uint16_t> receivers;
    ExchangeRoute route;
    std::uint32_t rows;
    std::uint32_t offset;  // for the placed transfers; the first allowed offset of the probe
  };
  const auto transfer = [](std::uint16_t sender, std::vector<std::uint16_t> receivers,
                           std::vector<ExchangeRow> receiver_rows, std::uint32_t words, std::uint32_t rows,
                           std::uint32_t offset) {
    ExchangeRoute route;
    route.sender_row = sender_row(words);
    route.receiver_rows = std::move(receiver_rows);
    return Transfer{sender, std::move(receivers), std::move(route), rows, offset};
  };
  // Tile 1 receives a stream at offset 0: source at 113, teardown at the source end 117, pointer at 165.
  const Transfer first_stream = transfer(0, {1}, {receiver_row(113, 52, 10)}, 4, 4, 0);
  struct Case {
    const char* name;
    std::vector<Transfer> placed;
    Transfer probe;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {"a source on the open stream's teardown replaces it",
       {first_stream},
       transfer(2, {1}, {receiver_row(113, 56, 10)}, 4, 4, 0),
       4},
      {"a teardown may share the cycle of a pointer",
       {first_stream},
       transfer(2, {1}, {receiver_row(113, 60, 10)}, 4, 48, 4),
       4},
      {"a source on a send's first cycle and the one after moves on",
       {transfer(1, {}, {}, 4, 4, 113)},
       transfer(2, {1}, {receiver_row(113, 52, 10)}, 4, 4, 0),
       2},
      {"a payload starting on a control moves one cycle",
       {transfer(2, {0}, {receiver_row(10, 20, 5)}, 4, 4, 0)},
       transfer(0, {}, {}, 4, 4, 10),
       11},
      {"a payload starting one cycle before a control moves two cycles",
       {transfer(2, {0}, {receiver_row(10, 20, 5)}, 4, 4, 0)},
       transfer(0, {}, {}, 4, 4, 9),
       11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PhaseProgramBuilder builder = PhaseProgramBuilder::create(4);
    for (const Transfer& t : c.placed)
      ASSERT_TRUE(builder.append_transfer_at(t.sender, {}, t.receivers, t.route, t.offset, t.rows));
    const Transfer& probe = c.probe;
    const Result<std::uint32_t> offset =
        builder.earliest_transfer_offset_deferred(probe.sender, {}, probe.receivers, probe.route, probe.rows, probe.offset);
    ASSERT_TRUE(offset) << offset.error().to_string();
    EXPECT_EQ(*offset, c.expected);
    ASSERT_TRUE(builder.append_transfer_at(probe.sender, {}, probe.receivers, probe.route, *offset, probe.rows));
    for (const TileProgramSchedule& tile : builder.tiles()) {
      EXPECT_TRUE(check_simultaneous_receive_controls(tile.receives()));
      for (const ScheduledSenderRow& row : tile.senders())
        for (const ReceiveEvent& event : tile.receives())
          EXPECT_FALSE(event.cycle == row.payload_start || event.cycle == row.payload_start + 1) << event.cycle;
    }
  }
}

// The validating search agrees with the deferred one unless the deferred offset cannot be encoded.
TEST(PhaseProgramBuilder, ValidatingSearchMatchesDeferredOrMovesPastAlignment) {
  std::mt19937 random(12345);
  std::size_t moved = 0;
  std::size_t agreed = 0;
  for (int round = 0; round < 200; ++round) {
    PhaseProgramBuilder builder = PhaseProgramBuilder::create(8);
    for (int step = 0; step < 12; ++step) {
      const auto sender = static_cast<std::uint16_t>(random() % 8);
      std::vector<std::uint16_t> receivers;
      for (std::uint16_t t = 0; t < 8; ++t)
        if (t != sender && random() % 3 == 0) receivers.push_back(t);
      if (receivers.empty()) receivers.push_back(static_cast<std::uint16_t>((sender + 1) % 8));
      const std::uint32_t words = 1 + random() % 80;
      const ExchangeRoute route = small_card().multicast(sender, receivers, words, 0).value();
      const std::uint32_t from = random() % 200;
      auto deferred = builder.earliest_transfer_offset_deferred(sender, {}, receivers, route, words, from);
      ASSERT_TRUE(deferred) << deferred.error().to_string();
      auto validated = builder.earliest_transfer_offset(sender, {}, receivers, route, words, from);
      if (!validated) break;  // a schedule error the search does not move past ends this phase
      ASSERT_GE(*validated, *deferred);
      if (*validated == *deferred)
        ++agreed;
      else
        ++moved;
      ASSERT_TRUE(builder.append_transfer_at(sender, {}, receivers, route, *validated, words));
    }
    auto finished = builder.finish();
    ASSERT_TRUE(finished) << finished.error().to_string();
  }
  EXPECT_GT(agreed, 0u);
  EXPECT_GT(moved, 0u) << "no case needed the alignment search";
}

}  // namespace
}  // namespace tessel_exchange
