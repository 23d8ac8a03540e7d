#include "tessel_exchange/timing.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "tessel_exchange/row_builders.hpp"

namespace tessel_exchange {
namespace {

using testing::receiver_row;
using testing::row_of;
using testing::sender_row;

std::unexpected<ExchangeError> reason(const char* text) { return std::unexpected(ExchangeError::schedule(text)); }

std::vector<ReceiveEvent> events_of(const RowEventList& list) { return {list.begin(), list.end()}; }

// A paired receiver row: paired source at 10, format start at 20, pointer at 22, format end at 84,
// paired teardown at 74 (64 rows).
ExchangeRow paired_row(std::uint32_t format_value = 1) {
  return row_of({kEntrySyncWord, xpic_control_word(10, kXpicPairedBit | 5), pic_control_word(10, 0x40000 | format_value),
                 pic_control_word(2, 0x20), xpic_control_word(52, kXpicPairedBit | kXpicTeardown),
                 pic_control_word(10, 0x40000), delay_word(7), kReturnWord});
}

TEST(TimingTest, SenderRowTimingFindsThePayload) {
  struct Case {
    const char* name;
    ExchangeRow row;
    std::uint32_t base;
    Result<SenderRowTiming> expected;
  };
  const std::vector<Case> cases = {
      {"one send", row_of({kEntrySyncWord, explicit_send_word(4, 0, 1), kReturnWord}), 10, SenderRowTiming{10, 14, 14}},
      {"delay, explicit and offset sends",
       row_of({kEntrySyncWord, delay_word(5), explicit_send_word(64, 0, 1), offset_send_word(10, 0, 1), kReturnWord}),
       0, SenderRowTiming{5, 79, 79}},
      {"trailing delay", row_of({kEntrySyncWord, explicit_send_word(1, 0, 1), delay_word(5), kReturnWord}), 3,
       SenderRowTiming{3, 4, 9}},
      {"no entry sync", row_of({delay_word(1), explicit_send_word(1, 0, 1), kReturnWord}), 0,
       reason("sender row entry")},
      {"return at word 1", row_of({kEntrySyncWord, kReturnWord}), 0, reason("sender payload")},
      {"no return", row_of({kEntrySyncWord, explicit_send_word(1, 0, 1)}), 0, reason("sender row return")},
      {"only delays", row_of({kEntrySyncWord, delay_word(5), kReturnWord}), 0, reason("sender payload")},
      {"horizon overflow", sender_row(4, 10), 0xFFFFFFF8u, reason("sender event horizon overflow")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sender_row_timing(c.row, c.base), c.expected);
  }
}

TEST(TimingTest, ReceiveRowTimingReadsOrdinaryRows) {
  const ExchangeRow row = row_of({kEntrySyncWord, xpic_control_word(1, 5), pic_control_word(1, 0x10),
                                  xpic_control_word(1, kXpicTeardown), kReturnWord});
  const Result<ReceiveRowTiming> timing = receive_row_timing(row, 0);
  ASSERT_TRUE(timing.has_value());
  const std::vector<ReceiveEvent> expected = {
      {1, row[1], kSourceEvent}, {2, row[2], kPointerEvent}, {3, row[3], kTeardownEvent}};
  EXPECT_EQ(events_of(timing->events), expected);
  EXPECT_EQ(timing->source, 1u);
  EXPECT_EQ(timing->pointer, 2u);
  EXPECT_EQ(timing->teardown, 3u);
  EXPECT_EQ(timing->pointer_address, 0x40u);
  EXPECT_EQ(timing->end, 3u);
  EXPECT_FALSE(timing->paired);
  EXPECT_FALSE(timing->paired_start);
}

TEST(TimingTest, ReceiveRowTimingReadsPairedRowsAndPicPairs) {
  const Result<ReceiveRowTiming> timing = receive_row_timing(paired_row(), 0);
  ASSERT_TRUE(timing.has_value());
  EXPECT_TRUE(timing->paired);
  EXPECT_EQ(timing->paired_start, 20u);
  EXPECT_EQ(timing->paired_end, 84u);
  EXPECT_EQ(timing->source, 10u);
  EXPECT_EQ(timing->teardown, 74u);
  EXPECT_EQ(timing->pointer_address, 0x80u);
  EXPECT_EQ(timing->pointer, 22u);
  EXPECT_EQ(timing->events[2].kind, kPairedPointerEvent);
  EXPECT_EQ(timing->end, 91u);

  // A control-only PicPair inside a row gives both its controls one cycle after it starts.
  const auto pair = pic_pair_send_words(3, 0, 0, 5, 0x10);
  const ExchangeRow with_pair =
      row_of({kEntrySyncWord, delay_word(4), pair[0], pair[1], xpic_control_word(9, kXpicTeardown), kReturnWord});
  const Result<ReceiveRowTiming> pair_timing = receive_row_timing(with_pair, 100);
  ASSERT_TRUE(pair_timing.has_value());
  const std::vector<ReceiveEvent> expected = {{105, xpic_control_word(1, 5), kSourceEvent},
                                              {105, pic_control_word(1, 0x10), kPointerEvent},
                                              {116, with_pair[4], kTeardownEvent}};
  EXPECT_EQ(events_of(pair_timing->events), expected);
  EXPECT_EQ(pair_timing->end, 116u);
}

TEST(TimingTest, ReceiveRowTimingRejectsMalformedRows) {
  const std::uint32_t source = xpic_control_word(1, 5);
  const std::uint32_t teardown = xpic_control_word(1, kXpicTeardown);
  const std::uint32_t pointer = pic_control_word(1, 0x10);
  const std::uint32_t start = pic_control_word(1, 0x40001);
  const std::uint32_t finish = pic_control_word(1, 0x40000);
  struct Case {
    const char* reason;
    ExchangeRow row;
    std::uint32_t base;
  };
  const std::vector<Case> cases = {
      {"receive row entry", row_of({sync_word(2), source, teardown, kReturnWord}), 0},
      {"receive row return", row_of({kEntrySyncWord, source, teardown}), 0},
      {"receive event horizon overflow", row_of({kEntrySyncWord, source, teardown, kReturnWord}), 0xFFFFFFFFu},
      {"multiple receive teardowns", row_of({kEntrySyncWord, source, teardown, teardown, kReturnWord}), 0},
      {"multiple receive pointers", row_of({kEntrySyncWord, source, pointer, pointer, teardown, kReturnWord}), 0},
      {"multiple receive sources", row_of({kEntrySyncWord, source, source, teardown, kReturnWord}), 0},
      {"multiple paired format starts", row_of({kEntrySyncWord, start, start, finish, kReturnWord}), 0},
      {"multiple paired format ends", row_of({kEntrySyncWord, start, finish, finish, kReturnWord}), 0},
      {"paired receive format value", row_of({kEntrySyncWord, pic_control_word(1, 0x40003), kReturnWord}), 0},
      {"incomplete paired receive format", row_of({kEntrySyncWord, source, start, kReturnWord}), 0},
      {"incomplete paired receive format", row_of({kEntrySyncWord, finish, start, kReturnWord}), 0},
      {"incomplete paired receive format",
       row_of({kEntrySyncWord, xpic_control_word(1, kXpicPairedBit | 5), teardown, kReturnWord}), 0},
      {"incomplete ordinary receive mux", row_of({kEntrySyncWord, source, pointer, kReturnWord}), 0},
      {"incomplete ordinary receive mux", row_of({kEntrySyncWord, kReturnWord}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(receive_row_timing(c.row, c.base), reason(c.reason));
  }
}

TEST(TimingTest, RebasingEqualsReadingAtTheLaterBase) {
  for (const ExchangeRow& row : {receiver_row(113, 52, 10), paired_row()}) {
    const Result<ReceiveRowTiming> at_zero = receive_row_timing(row, 0);
    ASSERT_TRUE(at_zero.has_value());
    EXPECT_EQ(receive_row_timing_from_base(*at_zero, 1000), receive_row_timing(row, 1000));
    EXPECT_EQ(receive_row_timing_from_base(*at_zero, 0xFFFFFFF0u), reason("receive offset overflow"));
  }
}

TEST(TimingTest, ReceiveWindowPlacesTheRowAtTheOffset) {
  // Source at 113, pointer at 165, teardown at 175, end at 180; 40 rows.
  const Result<ReceiveRowTiming> timing = receive_row_timing(receiver_row(113, 52, 10), 0);
  ASSERT_TRUE(timing.has_value());
  const Result<ScheduledReceiverWindow> window = scheduled_receive_window(*timing, 1000, 40, std::nullopt);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->source_cycle, 1113u);
  EXPECT_EQ(window->source_end, 1153u);
  EXPECT_EQ(window->pointer_cycle, 1165u);
  EXPECT_EQ(window->payload_end, 1205u);
  EXPECT_EQ(window->window_end, 1205u);
  EXPECT_EQ(window->has_pointer, 1u);
  EXPECT_EQ(window->pointer_address, 0x40u);
  EXPECT_FALSE(window->continues_paired);
  // The teardown moves to the source end, ahead of the pointer.
  const std::vector<std::uint32_t> cycles = {1113, 1153, 1165};
  ASSERT_EQ(window->events.size(), 3u);
  for (std::size_t index = 0; index < cycles.size(); ++index) EXPECT_EQ(window->events[index].cycle, cycles[index]);
  EXPECT_EQ(window->events[1].kind, kTeardownEvent);
}

TEST(TimingTest, ReceiveWindowContinuesOpenStreams) {
  const Result<ReceiveRowTiming> ordinary = receive_row_timing(receiver_row(113, 52, 10, 5, 0x10), 0);
  ASSERT_TRUE(ordinary.has_value());
  OpenReceiveStream behind{.has_end_address = 1, .end_address = 0x40, .source_end = 900, .payload_end = 950};
  Result<ScheduledReceiverWindow> window = scheduled_receive_window(*ordinary, 1000, 40, behind);
  ASSERT_TRUE(window.has_value());
  for (const ReceiveEvent& event : window->events) EXPECT_NE(event.kind, kPointerEvent);
  behind.end_address = 0x44;
  window = scheduled_receive_window(*ordinary, 1000, 40, behind);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->events.size(), 3u);

  const Result<ReceiveRowTiming> paired = receive_row_timing(paired_row(1), 0);
  ASSERT_TRUE(paired.has_value());
  OpenReceiveStream open_pair{.has_format = 1, .format_value = 1, .has_paired_end = 1, .paired_end = 520,
                              .has_end_address = 1, .end_address = 0, .paired = true};
  window = scheduled_receive_window(*paired, 500, 64, open_pair);
  ASSERT_TRUE(window.has_value());
  EXPECT_TRUE(window->continues_paired);
  EXPECT_EQ(window->events.size(), 4u);  // the format start is dropped
  for (const ReceiveEvent& event : window->events) {
    EXPECT_FALSE(event.kind == kPairedFormatEvent && event.cycle == 520);
  }
  open_pair.format_value = 2;
  window = scheduled_receive_window(*paired, 500, 64, open_pair);
  ASSERT_TRUE(window.has_value());
  EXPECT_FALSE(window->continues_paired);
  EXPECT_EQ(window->events.size(), 5u);
}

TEST(TimingTest, ReceiveWindowErrors) {
  const Result<ReceiveRowTiming> ordinary = receive_row_timing(receiver_row(113, 52, 10), 0);
  ASSERT_TRUE(ordinary.has_value());
  ReceiveRowTiming no_source = *ordinary;
  no_source.source.reset();
  const Result<ReceiveRowTiming> no_pointer = receive_row_timing(
      row_of({kEntrySyncWord, xpic_control_word(3, 5), xpic_control_word(3, kXpicTeardown), kReturnWord}), 0);
  ASSERT_TRUE(no_pointer.has_value());
  // A pointer that lands on the cycle of a paired format event.
  const Result<ReceiveRowTiming> clash = receive_row_timing(
      row_of({kEntrySyncWord, xpic_control_word(10, kXpicPairedBit | 5), pic_control_word(10, 0x40001),
              pic_control_word(2, 0x20), pic_control_word(10, 0x40000), delay_word(3), kReturnWord}),
      0);
  ASSERT_TRUE(clash.has_value());
  ReceiveRowTiming coincident = *clash;
  coincident.events[2].cycle = 20;
  struct Case {
    const char* reason;
    const ReceiveRowTiming* timing;
    std::uint32_t offset;
    std::uint32_t rows;
  };
  const std::vector<Case> cases = {
      {"receive offset overflow", &*ordinary, 0xFFFFFF80u, 4},
      {"receive source timing", &no_source, 0, 4},
      {"receive source timing overflow", &*ordinary, 0xFFFFFF00u, 0xF0},
      {"receive pointer event", &*no_pointer, 0, 4},
      {"receive payload timing overflow", &*ordinary, 0xFFFFFF00u, 0x60},
      {"incompatible simultaneous receive controls", &coincident, 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(scheduled_receive_window(*c.timing, c.offset, c.rows, std::nullopt), reason(c.reason));
  }
}

TEST(TimingTest, SimultaneousControlsOnlyAsPointerWithMux) {
  struct Case {
    std::uint8_t first;
    std::uint8_t second;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {kPointerEvent, kSourceEvent, true},        {kTeardownEvent, kPointerEvent, true},
      {kPointerEvent, kPairedFormatEvent, false}, {kSourceEvent, kTeardownEvent, false},
      {kPairedPointerEvent, kSourceEvent, false}, {kPointerEvent, kPairedSourceEvent, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("kinds {} {}", c.first, c.second));
    const std::vector<ReceiveEvent> events = {{5, 0, c.first}, {5, 0, c.second}, {9, 0, kSourceEvent}};
    EXPECT_EQ(check_simultaneous_receive_controls(events).has_value(), c.accepted);
  }
  const std::vector<ReceiveEvent> three = {{5, 0, kPointerEvent}, {5, 0, kSourceEvent}, {5, 0, kTeardownEvent}};
  EXPECT_EQ(check_simultaneous_receive_controls(three), reason("incompatible simultaneous receive controls"));
}

TEST(TimingTest, TimeToMuxFollowsTheCardGeometry) {
  struct Case {
    std::uint16_t sender;
    std::uint16_t receiver;
    std::int32_t cycles;
  };
  const std::vector<Case> cases = {
      {0, 0, -29},   // same place, lane offset 1
      {0, 64, -31},  // one position up
      {0, 1, -25},   // other side, lane offset 5
      {0, 32, -4},   // column 8: the other half
      {36, 0, 57},   // column 9 back to column 0, sender skew 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("{} -> {}", c.sender, c.receiver));
    EXPECT_EQ(time_to_mux(c.sender, c.receiver), c.cycles);
  }
}

}  // namespace
}  // namespace tessel_exchange
