#include "tessel_codegen/exchange/pending_transfer.hpp"

#include <gtest/gtest.h>

namespace tessel_codegen::exchange {
namespace {

using W = ExchangeItemWidth;

ExchangeScheduleTransfer transfer(std::uint16_t source, std::vector<std::uint32_t> sources,
                                  std::vector<ExchangeScheduleDestination> destinations, std::uint32_t words,
                                  W width = W::Word32) {
  return {source, std::move(sources), std::move(destinations), words, width};
}

TEST(PendingTransfer, ConversionChecksInOrder) {
  struct Case {
    const char* name;
    ExchangeScheduleTransfer bad;
    std::string message;  // empty: Overflow
    std::uint16_t tile_count = 8;
  };
  const std::string p = "invalid exchange-schedule snapshot: phase 7 transfer 1 ";
  const Case cases[] = {
      {"source at tile count", transfer(8, {0}, {{1, 0}}, 4), p + "has source tile 8 outside 0..8"},
      {"zero words", transfer(0, {0}, {{1, 0}}, 0), p + "has invalid word count 0"},
      {"too many words", transfer(0, {0}, {{1, 0}}, 4149), p + "has invalid word count 4149"},
      {"word count before source tile", transfer(9, {6}, {}, 0), p + "has source tile 9 outside 0..8"},
      {"short paired payload", transfer(0, {0}, {{2, 0}}, 126, W::Paired64), p + "has invalid 126-word paired payload"},
      {"odd paired payload", transfer(0, {0}, {{2, 0}}, 129, W::Paired64), p + "has invalid 129-word paired payload"},
      {"no source addresses", transfer(0, {}, {{1, 0}}, 4), p + "has no source addresses"},
      {"unaligned word source", transfer(0, {0, 6}, {{1, 0}}, 4), p + "has unaligned source address 0x6"},
      {"unaligned paired source", transfer(0, {4}, {{2, 0}}, 128, W::Paired64), p + "has unaligned source address 0x4"},
      {"source span overflows", transfer(0, {0xFFFFFFF0}, {{1, 0}}, 4), ""},
      {"no destinations", transfer(0, {0}, {}, 4), p + "has no destinations"},
      {"destination at tile count", transfer(0, {0}, {{8, 0}}, 4), p + "has invalid destination tile 8"},
      {"single loopback", transfer(0, {0}, {{0, 0x4000}}, 4), p + "has invalid destination tile 0"},
      {"paired loopback", transfer(0, {0}, {{0, 0x8000}, {2, 0}}, 128, W::Paired64), p + "has invalid destination tile 0"},
      {"loopback in one element", transfer(0, {0x0}, {{1, 0}, {0, 0x100}}, 4), p + "has invalid destination tile 0"},
      {"loopback touching a later iteration", transfer(0, {0x0, 0x4000}, {{1, 0}, {0, 0x4010}}, 4),
       p + "has invalid destination tile 0"},
      {"repeated receiver", transfer(0, {0}, {{1, 0}, {2, 0}, {1, 0x40}}, 4), p + "has invalid destination tile 1"},
      {"unaligned destination", transfer(0, {0}, {{1, 0x12}}, 4), p + "has unaligned destination address 0x12"},
      {"unaligned paired destination", transfer(0, {0}, {{2, 0x104}}, 128, W::Paired64),
       p + "has unaligned destination address 0x104"},
      {"destination span overflows", transfer(0, {0}, {{1, 0xFFFFFFFC}}, 2), ""},
      {"partner outside an odd phase", transfer(6, {0}, {{1, 0}}, 128, W::Paired64),
       p + "has paired source tile 6 whose partner tile 7 is outside 0..7", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExchangeScheduleProblem problem{7, {transfer(0, {0}, {{1, 0}}, 4), c.bad}};
    auto converted = pending_from_problem(problem, c.tile_count);
    ASSERT_FALSE(converted);
    if (c.message.empty())
      EXPECT_EQ(converted.error(), ExchangeLoweringError::overflow());
    else
      EXPECT_EQ(converted.error().to_string(), c.message);
  }
}

TEST(PendingTransfer, AcceptedEdges) {
  const std::vector<ExchangeScheduleTransfer> good = {
      transfer(0, {0}, {{1, 0}}, 4148),
      transfer(0, {0xFFFFFFF0}, {{1, 0}}, 3),
      transfer(0, {8}, {{3, 8}}, 128, W::Paired64),
      transfer(0, {0x0}, {{1, 0}, {0, 0x4000}}, 4),  // loopback into another element
      transfer(7, {0}, {{1, 0xFFFFFFF0}}, 3),
  };
  for (std::size_t i = 0; i < good.size(); ++i) {
    SCOPED_TRACE(i);
    auto converted = pending_from_problem(ExchangeScheduleProblem{1, {good[i]}}, 8);
    ASSERT_TRUE(converted) << converted.error().to_string();
  }
}

TEST(PendingTransfer, ConvertedFields) {
  ExchangeScheduleProblem problem{
      3, {transfer(5, {0x100, 0x200}, {{2, 0x40}, {9, 0x4000}}, 2), transfer(4, {0x7FF00}, {{6, 0}}, 256, W::Paired64)}};
  auto converted = pending_from_problem(problem, 12);
  ASSERT_TRUE(converted);
  const PendingTransfer& word = (*converted)[0];
  EXPECT_EQ(word.source, 5);
  EXPECT_FALSE(word.paired_source);
  EXPECT_EQ(word.destinations, (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{2, 0x40}, {9, 0x4000}}));
  EXPECT_EQ(word.source_elements, (std::vector<ExchangeMemoryElement>{{false, 0}}));
  EXPECT_EQ(word.tiles(), (std::vector<std::uint16_t>{5, 2, 9}));

  const PendingTransfer& paired = (*converted)[1];
  EXPECT_EQ(paired.paired_source, 5);
  EXPECT_EQ(paired.width, W::Paired64);
  EXPECT_EQ(paired.source_elements, (std::vector<ExchangeMemoryElement>{{false, 31}, {true, 0}}));
  EXPECT_EQ(paired.tiles(), (std::vector<std::uint16_t>{4, 5, 6}));
}

TEST(PendingTransfer, RefreshSourceElementsFollowsTheAddresses) {
  PendingTransfer pending;
  pending.words = 4;
  pending.source_addresses = {0x8000, 0x0, 0x8010};
  pending.refresh_source_elements();
  EXPECT_EQ(pending.source_elements, (std::vector<ExchangeMemoryElement>{{false, 0}, {false, 2}}));
  pending.source_addresses.resize(1);
  pending.refresh_source_elements();
  EXPECT_EQ(pending.source_elements, (std::vector<ExchangeMemoryElement>{{false, 2}}));
}

TEST(PendingTransfer, ReceiveConfiguration) {
  ExchangeScheduleProblem problem{1,
                                  {
                                      transfer(0, {0}, {{1, 0x40}}, 4),               // tile 1: its only receive
                                      transfer(0, {0}, {{2, 0x80}, {3, 0x90}}, 4),    // tiles 2, 3: a multicast
                                      transfer(1, {0}, {{4, 0x100}}, 4),              // tile 4: twice
                                      transfer(2, {0}, {{4, 0x200}}, 4),
                                  }};
  auto pending = pending_from_problem(problem, 6).value();
  auto config = receive_configuration(pending, 6).value();
  EXPECT_EQ(config.receive_counts, (std::vector<std::size_t>{0, 1, 1, 1, 2, 0}));
  EXPECT_EQ(config.incoming_bases, (std::vector<std::uint32_t>{0, 0x40, 0, 0, 0, 0}));

  pending[0].destinations[0].first = 6;
  EXPECT_EQ(receive_configuration(pending, 6).error(), ExchangeLoweringError::invalid_destination());
}

}  // namespace
}  // namespace tessel_codegen::exchange
