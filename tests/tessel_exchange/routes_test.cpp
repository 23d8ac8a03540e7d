#include <gtest/gtest.h>

#include "support/events.hpp"
#include "tessel_exchange/timing.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_exchange {
namespace {

const Topology& card() {
  static const Topology topology = Topology::r912();
  return topology;
}

std::vector<std::uint16_t> tiles(std::initializer_list<std::uint16_t> list) { return list; }

TEST(Routes, PointToPointRows) {
  // Logical 0 (physical 0) to logical 2 (physical 64): latency -31.
  ASSERT_EQ(time_to_mux(0, 64), -31);
  auto route = card().point_to_point(0, 2, 100);
  ASSERT_TRUE(route);
  EXPECT_EQ(route->sender_row, (ExchangeRow{kEntrySyncWord, delay_word(143), explicit_send_word(64, 0, 1),
                                            offset_send_word(36, 0, 1), kReturnWord, 0, 0, 0, 0}));
  EXPECT_EQ(route->receiver_patch_index, 1u);
  // Position of physical 64 is 1: pointer of 2 + 52 cycles, teardown of 48, delay of 57.
  EXPECT_EQ(route->receiver_words,
            (std::array<std::uint32_t, 8>{kEntrySyncWord, xpic_control_word(113, 0), pic_control_word(54, 0),
                                          xpic_control_word(48, kXpicTeardown), delay_word(57), kReturnWord, 0, 0}));

  auto short_route = card().point_to_point(0, 2, 10);
  ASSERT_TRUE(short_route);
  EXPECT_EQ(short_route->receiver_words,
            (std::array<std::uint32_t, 8>{kEntrySyncWord, xpic_control_word(113, 0),
                                          xpic_control_word(10, kXpicTeardown), pic_control_word(44, 0), delay_word(15),
                                          kReturnWord, 0, 0}));
  // n = 52 keeps a one-cycle teardown.
  auto boundary = card().point_to_point(0, 2, 52);
  ASSERT_TRUE(boundary);
  EXPECT_EQ(boundary->receiver_words[3], xpic_control_word(1, kXpicTeardown));

  // The receiver row's source select ends at 113, its Return at 170 + 2 pos + n.
  auto row = finalize_point_receiver(1, route->receiver_words, 0).value();
  auto timing = receive_row_timing(row, 0).value();
  EXPECT_EQ(timing.source, 113u);
  EXPECT_EQ(timing.pointer, 167u);
  EXPECT_EQ(timing.end, 170u + 2 + 100);
}

TEST(Routes, CheckOrder) {
  struct Case {
    const char* name;
    Result<PointToPointRoute> result;
    ExchangeError error;
  };
  const Topology small = Topology::r912_prefix(4).value();
  const Case cases[] = {
      {"no words", card().point_to_point(0, 1, 0), ExchangeError::count(0)},
      {"too many words", card().point_to_point(0, 1, 4149), ExchangeError::count(4149)},
      {"count first", card().point_to_point(0, 0, 0), ExchangeError::count(0)},
      {"self before range", small.point_to_point(9, 9, 4), ExchangeError::duplicate_tile()},
      {"sender range", small.point_to_point(9, 1, 4), ExchangeError::tile(9)},
      {"receiver range", small.point_to_point(1, 4, 4), ExchangeError::tile(4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.result);
    EXPECT_EQ(c.result.error(), c.error);
  }
  EXPECT_TRUE(card().point_to_point(0, 1, 4148));
}

TEST(Routes, MulticastRows) {
  // A receiver with zero latency gets a sender row without leading delay.
  std::optional<std::pair<std::uint16_t, std::uint16_t>> zero;
  for (std::uint16_t a = 0; a < 1472 && !zero; ++a)
    for (std::uint16_t b = 0; b < 1472 && !zero; ++b)
      if (a != b && time_to_mux(card().physical_tiles()[a], card().physical_tiles()[b]) == 0) zero = {{a, b}};
  ASSERT_TRUE(zero);
  auto single = card().multicast(zero->first, tiles({zero->second}), 1, 0);
  ASSERT_TRUE(single);
  const std::uint16_t s = card().physical_tiles()[zero->first];
  const std::uint16_t r = card().physical_tiles()[zero->second];
  EXPECT_EQ(single->sender_row, (ExchangeRow{kEntrySyncWord, explicit_send_word(1, 0, direction(s, r)), delay_word(5),
                                             kReturnWord, 0, 0, 0, 0, 0}));
  ASSERT_EQ(single->receiver_rows.size(), 1u);
  EXPECT_EQ(single->receiver_rows[0][1], xpic_control_word(1, s));
  EXPECT_EQ(single->receiver_rows[0][3], pic_control_word(2 * position(r) - 1 + 52, 0x14000));

  // Several receivers: send control 3, start delayed by the most negative latency.
  auto route = card().multicast(0, tiles({2, 1, 0}), 80, 0);
  ASSERT_TRUE(route);
  const std::int32_t lowest = std::min({time_to_mux(0, 64), time_to_mux(0, 2), time_to_mux(0, 0)});
  const auto v = static_cast<std::uint32_t>(-lowest);
  EXPECT_EQ(route->sender_row, (ExchangeRow{kEntrySyncWord, delay_word(v), explicit_send_word(64, 0, 3),
                                            offset_send_word(16, 0, 3), kReturnWord, 0, 0, 0, 0}));
  ASSERT_EQ(route->receiver_rows.size(), 3u);
  EXPECT_EQ(route->receiver_rows[0][1], xpic_control_word(time_to_mux(0, 64) + v + 1, 0));
  EXPECT_EQ(route->receiver_rows[2][3], xpic_control_word(28, kXpicTeardown));
}

TEST(Routes, MulticastErrors) {
  struct Case {
    const char* name;
    Result<ExchangeRoute> result;
    ExchangeError error;
  };
  const Case cases[] = {
      {"count", card().multicast(0, tiles({1}), 0, 0), ExchangeError::count(0)},
      {"sender", card().multicast(1472, tiles({1}), 4, 0), ExchangeError::tile(1472)},
      {"empty", card().multicast(0, tiles({}), 4, 0), ExchangeError::receiver_set()},
      {"only the sender", card().multicast(5, tiles({5}), 4, 0), ExchangeError::receiver_set()},
      {"repeated", card().multicast(0, tiles({1, 2, 1}), 4, 0), ExchangeError::receiver_set()},
      {"outside", card().multicast(0, tiles({1, 1472}), 4, 0), ExchangeError::receiver_set()},
      {"start offset", card().multicast(0, tiles({1}), 4, 4096), ExchangeError::schedule("multicast start cycle")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.result);
    EXPECT_EQ(c.result.error(), c.error);
  }
  EXPECT_TRUE(card().multicast(5, tiles({5, 6}), 4, 0));
}

TEST(Routes, PairedMulticast) {
  auto route = card().paired_multicast(0, tiles({4, 5}), 128);
  ASSERT_TRUE(route) << route.error().to_string();
  const std::uint32_t control = direction(0, card().physical_tiles()[4]) + 4;
  EXPECT_EQ(send_control(route->sender_row[2]), control);
  ASSERT_EQ(route->receiver_rows.size(), 2u);
  for (const ExchangeRow& row : route->receiver_rows) {
    auto timing = receive_row_timing(row, 0);
    ASSERT_TRUE(timing) << timing.error().to_string();
    EXPECT_TRUE(timing->paired);
    ASSERT_TRUE(timing->paired_start && timing->paired_end);
    EXPECT_EQ(*timing->paired_end - *timing->paired_start, 128u);
  }

  struct Case {
    const char* name;
    Result<ExchangeRoute> result;
    ExchangeError error;
  };
  const Topology odd = Topology::r912_prefix(7).value();
  const Case cases[] = {
      {"short", card().paired_multicast(0, tiles({4, 5}), 63), ExchangeError::count(63)},
      {"long", card().paired_multicast(0, tiles({4, 5}), 4149), ExchangeError::count(4149)},
      {"odd list", card().paired_multicast(0, tiles({4, 5, 6}), 128), ExchangeError::receiver_set()},
      {"repeated", card().paired_multicast(0, tiles({4, 4}), 128), ExchangeError::receiver_set()},
      {"holds the sender", card().paired_multicast(4, tiles({4, 5}), 128), ExchangeError::receiver_set()},
      {"holds the partner", card().paired_multicast(0, tiles({1, 4}), 128), ExchangeError::receiver_set()},
      {"sender without partner", odd.paired_multicast(6, tiles({2, 3}), 128), ExchangeError::tile(6)},
      {"receiver partner missing", card().paired_multicast(0, tiles({4, 6}), 128), ExchangeError::receiver_set()},
      {"receiver without partner", odd.paired_multicast(0, tiles({6, 2}), 128), ExchangeError::receiver_set()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.result);
    EXPECT_EQ(c.result.error(), c.error);
  }
}

TEST(Routes, DebugEventsDescribeTheRoute) {
  support::events::CapturingReceiver capture(support::events::Level::Debug, "tessel_exchange");
  ASSERT_TRUE(card().point_to_point(3, 9, 12));
  ASSERT_TRUE(card().multicast(3, tiles({9, 10}), 12, 0));
  ASSERT_EQ(capture.events().size(), 2u);
  const auto& point = capture.events()[0];
  EXPECT_EQ(point.message, "assembled point-to-point exchange");
  EXPECT_EQ(*point.field("sender_logical"), "3");
  EXPECT_EQ(*point.field("receiver_logical"), "9");
  EXPECT_EQ(*point.field("count"), "12");
  const auto& multi = capture.events()[1];
  EXPECT_EQ(multi.message, "assembled multicast exchange");
  EXPECT_EQ(*multi.field("receiver_logical"), "[9, 10]");
  EXPECT_EQ(*multi.field("schedule_offset"), "0");
}

}  // namespace
}  // namespace tessel_exchange
