#include "tessel_exchange/topology.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace tessel_exchange {
namespace {

TEST(Topology, R912SampleRows) {
  struct Row {
    std::uint16_t logical, physical;
    std::uint32_t position, column, pair, side;
  };
  const Row rows[] = {
      {0, 0, 0, 0, 0, 0},      {1, 2, 0, 0, 1, 0},       {2, 64, 1, 0, 0, 0},   {44, 1408, 22, 0, 0, 0},
      {46, 1409, 22, 0, 0, 1}, {48, 1345, 21, 0, 0, 1},  {90, 1, 0, 0, 0, 1},   {92, 4, 0, 1, 0, 0},
      {138, 1413, 22, 1, 0, 1}, {1470, 61, 0, 15, 0, 1}, {1471, 63, 0, 15, 1, 1},
  };
  const Topology topology = Topology::r912();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.logical);
    const std::uint16_t id = topology.physical_tiles()[row.logical];
    EXPECT_EQ(id, row.physical);
    EXPECT_EQ(position(id), row.position);
    EXPECT_EQ(column(id), row.column);
    EXPECT_EQ(pair_bit(id), row.pair);
    EXPECT_EQ(side_bit(id), row.side);
  }
}

TEST(Topology, R912IsAPermutationWhosePartnersAreNeighbours) {
  const Topology topology = Topology::r912();
  ASSERT_EQ(topology.tile_count(), 1472u);
  std::vector<std::uint16_t> sorted = topology.physical_tiles();
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], i);
  for (std::uint16_t i = 0; i < 1472; ++i) ASSERT_EQ(topology.paired_logical(i).value(), i ^ 1) << i;
  EXPECT_EQ(topology.paired_logical(1472).error(), ExchangeError::tile(1472));
}

TEST(Topology, OddPrefixLeavesTheLastTileWithoutPartner) {
  const Topology topology = Topology::r912_prefix(1471).value();
  EXPECT_EQ(topology.paired_logical(1469).value(), 1468);
  EXPECT_EQ(topology.paired_logical(1470).error(), ExchangeError::tile(1470));
  EXPECT_FALSE(Topology::r912_prefix(0));
  EXPECT_FALSE(Topology::r912_prefix(1473));
}

TEST(Topology, CreateRejectsEmptyAndDuplicateTables) {
  EXPECT_TRUE(Topology::create({5}));
  EXPECT_EQ(Topology::create({}).error(), ExchangeError::receiver_set());
  EXPECT_EQ(Topology::create({5, 7, 5}).error(), ExchangeError::receiver_set());
  const Topology small = Topology::create({9, 4000}).value();
  EXPECT_EQ(small.physical(1).value(), 4000);
  EXPECT_EQ(small.physical(2).error(), ExchangeError::tile(2));
}

TEST(Topology, Geometry) {
  EXPECT_EQ(fold(0), 0u);
  EXPECT_EQ(fold(15), 0u);
  EXPECT_EQ(fold(7), 7u);
  EXPECT_EQ(fold(8), 7u);

  struct Case {
    std::uint16_t sender, receiver;
    std::int32_t distance;
    std::uint32_t direction;
  };
  const Case cases[] = {
      {0, 1, 5, 1},         // receiver on side 1 of the same column: lane 5
      {4, 0, -5, 2},        // one column back: 6 * (0 - 1 - 0) + 1
      {0, 0, 1, 1},         // lane 1
      {0, 2, 2, 1},         // pair bit set, side equals half: lane 2
      {0, 3, 4, 1},         // pair bit set, side differs from half: lane 4
      {1, 0, -5, 2},        // sender skew 1
      {32 + 1, 28, 1, 1},   // column 8 side 1 (skew 0) to column 7: both fold to 7
      {28, 32 + 1, 1, 1},   // column 7 to column 8 side 1 (side equals half): lane 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sender << " -> " << c.receiver);
    EXPECT_EQ(exchange_distance(c.sender, c.receiver), c.distance);
    EXPECT_EQ(direction(c.sender, c.receiver), c.direction);
  }
  // A column-8 sender on side 1 and a column-7 sender on side 0 see the same distances.
  for (std::uint16_t receiver = 0; receiver < 1472; receiver += 7)
    EXPECT_EQ(exchange_distance(32 + 1, receiver), exchange_distance(28, receiver)) << receiver;
}

}  // namespace
}  // namespace tessel_exchange
