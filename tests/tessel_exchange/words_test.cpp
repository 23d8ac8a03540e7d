#include "tessel_exchange/words.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tessel_exchange/row_builders.hpp"

namespace tessel_exchange {
namespace {

using testing::placed_row;
using testing::pointer_event;
using testing::row_of;
using testing::sender_row;
using testing::source_event;
using testing::teardown_event;
using Words = std::vector<std::uint32_t>;

std::string describe(std::uint32_t word) { return fmt::format("{:#010x}", word); }

TEST(WordsTest, ClassifiesWordsAndReadsTheirCycles) {
  struct Case {
    std::uint32_t word;
    WordKind kind;
    std::uint32_t cycles;
  };
  const std::vector<Case> cases = {
      {0x43A00000, WordKind::Return, 0},
      {0x40A00038, WordKind::Delay, 57},
      {0x40A7FFFF, WordKind::Delay, 524288},
      {0x641C0000, WordKind::XpicControl, 113},
      {0x64000640, WordKind::XpicControl, 1},
      {0x60080000, WordKind::PicControl, 2},
      {0xF0000000, WordKind::PicPairSend, 1},
      {0xF7E00000, WordKind::PicPairSend, 64},
      {0x70100005, WordKind::PicSend, 1},
      {0x78200008, WordKind::ExplicitSend, 2},
      {offset_send_word(4033, 0, 1), WordKind::OffsetSend, 4033},
      {0x41800003, WordKind::Sync, 0},
      {0x10000000, WordKind::Other, 0},
      {0x00000000, WordKind::Other, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.word));
    EXPECT_EQ(classify_word(c.word), c.kind);
    EXPECT_EQ(word_cycles(c.word), c.cycles);
  }
  EXPECT_EQ(xpic_value(0x641C0000), 0u);
  EXPECT_EQ(xpic_value(0x64000640), kXpicTeardown);
  // An Offset send of 4 033 words keeps n - 1 = 4 032 as 0 in bits 21-26 and 63 in bits 14-19.
  const std::uint32_t offset = offset_send_word(4033, 0, 0);
  EXPECT_EQ((offset >> 21) & 0x3F, 0u);
  EXPECT_EQ((offset >> 14) & 0x3F, 63u);
}

TEST(WordsTest, BuildersRoundTripThroughTheFields) {
  const std::uint32_t xpic = xpic_control_word(4096, 0x2ABC);
  EXPECT_EQ(xpic_control_cycles(xpic), 4096u);
  EXPECT_EQ(xpic_value(xpic), 0x2ABCu);
  const std::uint32_t pic = pic_control_word(128, 0x7FFFF);
  EXPECT_EQ(pic_control_cycles(pic), 128u);
  EXPECT_EQ(pic_value(pic), 0x7FFFFu);
  const std::uint32_t send = explicit_send_word(64, 0x3FFFF, 7);
  EXPECT_EQ(short_send_words(send), 64u);
  EXPECT_EQ(send_operand(send), 0x3FFFFu);
  EXPECT_EQ(send_control(send), 7u);
  const std::uint32_t offset = offset_send_word(4096, 0x7FF, 3);
  EXPECT_EQ(classify_word(offset), WordKind::OffsetSend);
  EXPECT_EQ(offset_send_words(offset), 4096u);
  EXPECT_EQ(offset_send_operand(offset), 0x7FFu);
  // Pic sends carry a PIC value in bits 0-18 with bit 19 set, or an XPIC value with its bit 13 in bit 18.
  EXPECT_EQ(pic_send_word(1, pic_control_word(1, 5)), 0x70100000u | 0x80000u | 5u);
  EXPECT_EQ(pic_send_word(1, xpic_control_word(1, 0x2005)), 0x70100000u | 0x40000u | 5u);
  const auto pair = pic_pair_send_words(3, 9, 0, 100, 0x40000 | 32);
  EXPECT_EQ(pair[0], 0xF0000000u | (1u << 27) | (2u << 21) | (9u << 3));
  EXPECT_EQ(pair[1], (100u << 18) | 32u);
}

TEST(WordsTest, EventKindsFollowTheControlValue) {
  struct Case {
    std::uint32_t word;
    std::optional<std::uint8_t> kind;
  };
  const std::vector<Case> cases = {
      {xpic_control_word(1, 5), kSourceEvent},
      {xpic_control_word(1, 0x640), kTeardownEvent},
      {xpic_control_word(1, 0x2005), kPairedSourceEvent},
      {xpic_control_word(1, 0x2640), kPairedTeardownEvent},
      {pic_control_word(1, 0x10), kPointerEvent},
      {pic_control_word(1, 0x40001), kPairedFormatEvent},
      {delay_word(3), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.word));
    EXPECT_EQ(receive_event_kind(c.word), c.kind);
  }
}

TEST(WordsTest, DelayRunUsesTheLongestDelays) {
  struct Case {
    std::uint32_t cycles;
    Words words;
  };
  const std::vector<Case> cases = {
      {0, {}},
      {1, {delay_word(1)}},
      {524288, {delay_word(524288)}},
      {1000000, {delay_word(524288), delay_word(475712)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cycles);
    Words words;
    append_delay_run(words, c.cycles);
    EXPECT_EQ(words, c.words);
  }
}

TEST(WordsTest, TimedAdvanceSetsTheCountFieldOrNamesWhyItCannot) {
  struct Case {
    std::uint32_t word;
    std::uint32_t gap;
    Result<std::uint32_t> expected;
  };
  const auto error = [](const char* reason) { return std::unexpected(ExchangeError::schedule(reason)); };
  const std::vector<Case> cases = {
      {pic_control_word(1, 7), 128, pic_control_word(128, 7)},
      {xpic_control_word(9, 7), 4096, xpic_control_word(4096, 7)},
      {delay_word(1), 524288, delay_word(524288)},
      {pic_control_word(1, 7), 0, error("zero event advance")},
      {pic_control_word(1, 7), 129, error("PIC delay advance overflow")},
      {xpic_control_word(1, 7), 4097, error("XPIC delay advance overflow")},
      {delay_word(1), 524289, error("delay advance overflow")},
      {explicit_send_word(1, 0, 1), 3, error("scheduled offset truncates a send")},
      {kReturnWord, 3, error("first scheduled event is not a delay")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(describe(c.word) + " gap " + std::to_string(c.gap));
    EXPECT_EQ(timed_advance_word(c.word, c.gap), c.expected);
  }
}

TEST(WordsTest, EmitSenderWordsSplitsChunksForAlignment) {
  struct Case {
    const char* name;
    std::size_t words_before;
    bool initial_emitted;
    std::uint32_t count;
    bool align;
    Words expected;  // the words appended
  };
  const std::uint32_t initial = explicit_send_word(64, 3, 1);
  const std::vector<Case> cases = {
      {"first chunk is the initial send", 0, false, 100, false,
       {with_short_send_words(initial, 64), offset_send_word(36, 0, 1)}},
      {"after the initial send chunks are 4096", 0, true, 5000, false,
       {offset_send_word(4096, 0, 1), offset_send_word(904, 0, 1)}},
      {"aligned odd total splits the last chunk", 0, false, 19, true,
       {with_short_send_words(initial, 1), offset_send_word(18, 0, 1)}},
      {"aligned even total stays", 1, false, 19, true, {with_short_send_words(initial, 19)}},
      {"split goes to the last chunk larger than one", 1, false, 65, true,
       {with_short_send_words(initial, 1), offset_send_word(63, 0, 1), offset_send_word(1, 0, 1)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Words words(c.words_before, kEntrySyncWord);
    std::uint32_t time = 10;
    SenderMessageProgress message{initial, 1, 10000, 0, c.initial_emitted};
    ASSERT_TRUE(emit_sender_words(words, time, message, c.count, c.align).has_value());
    EXPECT_EQ(Words(words.begin() + static_cast<std::ptrdiff_t>(c.words_before), words.end()), c.expected);
    EXPECT_EQ(time, 10 + c.count);
    EXPECT_EQ(message.remaining, 10000 - c.count);
    EXPECT_EQ(message.sent, c.count);
    EXPECT_TRUE(message.initial_emitted);
  }
}

TEST(WordsTest, EmitSenderWordsErrorsLeaveEverythingUnchanged) {
  struct Case {
    const char* reason;
    std::size_t words_before;
    std::optional<std::uint32_t> initial;
    bool initial_emitted;
    std::uint32_t remaining;
    std::uint32_t count;
    bool align;
  };
  const std::uint32_t initial = explicit_send_word(4, 0, 1);
  const std::vector<Case> cases = {
      {"sender payload overflow", 0, initial, false, 4, 5, false},
      {"initial send size", 0, std::nullopt, false, 4, 2, false},
      {"unencodable initial send control", 0, initial, false, 4, 0, false},
      {"SENDPICP instruction alignment", 0, initial, true, 4, 1, true},
      {"SENDPICP instruction alignment", 1, initial, true, 4, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Words words(c.words_before, kEntrySyncWord);
    const Words before = words;
    std::uint32_t time = 7;
    SenderMessageProgress message{c.initial, 1, c.remaining, 0, c.initial_emitted};
    EXPECT_EQ(emit_sender_words(words, time, message, c.count, c.align),
              std::unexpected(ExchangeError::schedule(c.reason)));
    EXPECT_EQ(words, before);
    EXPECT_EQ(time, 7u);
    EXPECT_EQ(message.remaining, c.remaining);
  }
}

TEST(WordsTest, SenderMessageFoldsControlsIntoSends) {
  struct Case {
    const char* name;
    std::size_t words_before;
    std::uint32_t time;
    ScheduledSenderRow row;
    std::vector<ReceiveEvent> events;
    Words expected;
  };
  const auto x = xpic_control_word(1, 5);
  const auto initial = [](std::uint32_t n, std::uint32_t operand = 0) { return explicit_send_word(n, operand, 1); };
  const auto pair = [](std::uint32_t n, std::uint32_t operand, std::uint32_t xpic, std::uint32_t pic) {
    return pic_pair_send_words(n, operand, 1, xpic, pic);
  };
  const std::vector<Case> cases = {
      {"100 words without events", 0, 0, placed_row(0, 100), {}, {initial(64), offset_send_word(36, 0, 1)}},
      {"delay to the payload start", 0, 3, placed_row(10, 4), {}, {delay_word(7), initial(4)}},
      {"one control inside the payload",
       0,
       10,
       placed_row(10, 100),
       {source_event(30)},
       {initial(19), pic_send_word(64, x), offset_send_word(17, 0, 1)}},
      {"a control in the last payload cycle",
       0,
       10,
       placed_row(10, 4),
       {source_event(14)},
       {initial(3), pic_send_word(1, x)}},
      {"two controls in a PicPair at an even word",
       0,
       10,
       placed_row(10, 100, 8),
       {pointer_event(30), source_event(30)},
       {initial(1, 8), offset_send_word(18, 0, 1), pair(64, 8 + 19, 5, 0x10)[0], pair(64, 8 + 19, 5, 0x10)[1],
        offset_send_word(17, 0, 1)}},
      {"a span before a PicPair ends one cycle early to keep the pair aligned",
       1,
       10,
       placed_row(10, 40),
       {source_event(20), pointer_event(30), teardown_event(30)},
       {initial(9), pic_send_word(9, x), offset_send_word(1, 0, 1), pair(21, 19, kXpicTeardown, 0x10)[0],
        pair(21, 19, kXpicTeardown, 0x10)[1]}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Words words(c.words_before, kEntrySyncWord);
    std::uint32_t time = c.time;
    ASSERT_EQ(append_sender_message(words, time, c.row, c.events), Result<void>{});
    EXPECT_EQ(Words(words.begin() + static_cast<std::ptrdiff_t>(c.words_before), words.end()), c.expected);
    EXPECT_EQ(time, c.row.payload_end);
  }
}

TEST(WordsTest, SenderMessageErrorsLeaveEverythingUnchanged) {
  struct Case {
    const char* reason;
    std::size_t words_before;
    std::uint32_t time;
    ScheduledSenderRow row;
    std::vector<ReceiveEvent> events;
  };
  ScheduledSenderRow no_explicit{row_of({kEntrySyncWord, offset_send_word(4, 0, 1), kReturnWord}), 10, 14};
  ScheduledSenderRow two_explicit{
      row_of({kEntrySyncWord, explicit_send_word(4, 0, 1), explicit_send_word(4, 0, 1), kReturnWord}), 10, 18};
  ScheduledSenderRow short_end = placed_row(10, 4);
  short_end.payload_end = 13;
  const std::vector<Case> cases = {
      {"plan delay order", 0, 11, placed_row(10, 4), {}},
      {"sender payload", 0, 0, no_explicit, {}},
      {"multiple initial sends", 0, 0, two_explicit, {}},
      {"sender payload horizon", 0, 0, short_end, {}},
      {"send control at phase entry", 0, 0, placed_row(0, 4), {source_event(0)}},
      {"send control order", 0, 10, placed_row(10, 4), {source_event(10)}},
      {"unencodable initial send control", 0, 10, placed_row(10, 4), {source_event(11)}},
      {"send control beyond payload", 0, 10, placed_row(10, 4), {source_event(15)}},
      {"SENDPICP instruction alignment", 0, 10, placed_row(10, 4), {pointer_event(12), source_event(12)}},
      {"SENDPICP operand", 1, 10, placed_row(10, 4, 0x3FFFF), {pointer_event(12), source_event(12)}},
      {"SENDPICP XPIC control", 1, 10, placed_row(10, 4), {pointer_event(12), pointer_event(12)}},
      {"SENDPICP PIC control", 1, 10, placed_row(10, 4), {source_event(12), teardown_event(12)}},
      {"incompatible simultaneous receive controls", 1, 10, placed_row(10, 9),
       {source_event(12), teardown_event(12), pointer_event(12)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Words words(c.words_before, kEntrySyncWord);
    const Words before = words;
    std::uint32_t time = c.time;
    EXPECT_EQ(append_sender_message(words, time, c.row, c.events), std::unexpected(ExchangeError::schedule(c.reason)));
    EXPECT_EQ(words, before);
    EXPECT_EQ(time, c.time);
  }
}

TEST(WordsTest, ReceiveRecordTimesControlsAndPairs) {
  struct Case {
    const char* name;
    std::size_t words_before;
    std::uint32_t time;
    std::vector<ReceiveEvent> events;
    std::uint32_t end;
    bool align;
    Words expected;
  };
  const auto pair = [](std::uint32_t n, std::uint32_t xpic, std::uint32_t pic) {
    return pic_pair_send_words(n, 0, 0, xpic, pic);
  };
  const std::vector<Case> cases = {
      {"an XPIC control ends at its cycle", 0, 0, {source_event(200)}, 200, true, {xpic_control_word(200, 5)}},
      {"a PIC control waits with a delay first", 0, 0, {pointer_event(200)}, 200, true,
       {delay_word(72), pic_control_word(128, 0x10)}},
      {"trailing delay to the end cycle", 0, 0, {source_event(3)}, 10, true, {xpic_control_word(3, 5), delay_word(7)}},
      {"aligned pair after an odd prefix takes one delay", 1, 0, {pointer_event(11), source_event(11)}, 20, true,
       {delay_word(10), pair(10, 5, 0x10)[0], pair(10, 5, 0x10)[1]}},
      {"aligned pair after an even prefix splits the wait", 0, 0, {pointer_event(11), source_event(11)}, 20, true,
       {delay_word(9), delay_word(1), pair(10, 5, 0x10)[0], pair(10, 5, 0x10)[1]}},
      {"pair without alignment", 0, 0, {pointer_event(11), source_event(11)}, 20, false,
       {delay_word(10), pair(10, 5, 0x10)[0], pair(10, 5, 0x10)[1]}},
      {"pair span stops before the next control", 1, 0,
       {pointer_event(11), source_event(11), teardown_event(14)}, 14, true,
       {delay_word(10), pair(3, 5, 0x10)[0], pair(3, 5, 0x10)[1], xpic_control_word(1, 0x640)}},
      {"pair span is at most 64 cycles", 1, 0, {pointer_event(2), source_event(2)}, 100, true,
       {delay_word(1), pair(64, 5, 0x10)[0], pair(64, 5, 0x10)[1], delay_word(35)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Words words(c.words_before, kEntrySyncWord);
    std::uint32_t time = c.time;
    ASSERT_EQ(append_receive_events_record(words, time, c.events, c.end, c.align), Result<void>{});
    EXPECT_EQ(Words(words.begin() + static_cast<std::ptrdiff_t>(c.words_before), words.end()), c.expected);
    EXPECT_EQ(time, c.end);
  }
}

TEST(WordsTest, ReceiveRecordWritesOneCheckpointPerGroup) {
  Words words{kEntrySyncWord};
  std::uint32_t time = 0;
  std::vector<Checkpoint> checkpoints;
  const std::vector<ReceiveEvent> events = {source_event(5), pointer_event(11), teardown_event(11)};
  ASSERT_EQ(append_receive_events_record(words, time, events, 30, true, {&checkpoints, 2, 7}), Result<void>{});
  const std::vector<Checkpoint> expected = {
      {.pair = 0, .limit = 0, .sender_index = 2, .receive_index = 8, .word_count = 2, .cycle = 5},
      {.pair = 1, .limit = 30, .sender_index = 2, .receive_index = 10, .word_count = 6, .cycle = 30},
  };
  EXPECT_EQ(checkpoints, expected);
}

TEST(WordsTest, ReceiveRecordErrorsLeaveEverythingUnchanged) {
  struct Case {
    const char* reason;
    std::size_t words_before;
    std::uint32_t time;
    std::vector<ReceiveEvent> events;
    std::uint32_t end;
  };
  const std::vector<Case> cases = {
      {"receive control at phase entry", 0, 0, {pointer_event(0), source_event(0)}, 5},
      {"plan delay order", 0, 5, {pointer_event(5), source_event(5)}, 9},
      {"SENDPICP instruction alignment", 1, 4, {pointer_event(5), source_event(5)}, 9},
      {"SENDPICP instruction alignment", 0, 3, {pointer_event(5), source_event(5)}, 9},
      {"empty SENDPICP interval", 0, 4, {pointer_event(5), source_event(5)}, 4},
      {"receive control order", 0, 4, {pointer_event(5), source_event(5)}, 3},
      {"SENDPICP PIC control", 0, 4, {source_event(5), teardown_event(5)}, 9},
      {"receive event order", 0, 6, {source_event(5)}, 9},
      {"receive control issue interval", 0, 5, {source_event(5)}, 9},
      {"receive timed event", 0, 0, {{5, delay_word(1), kSourceEvent}}, 9},
      {"plan delay order", 0, 0, {source_event(5)}, 4},
      {"incompatible simultaneous receive controls", 0, 0,
       {pointer_event(5), source_event(5), teardown_event(5)}, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    Words words(c.words_before, kEntrySyncWord);
    // A first, successful group proves that partial output and checkpoints are rolled back too.
    std::vector<Checkpoint> checkpoints(1);
    const Words before = words;
    std::uint32_t time = c.time;
    EXPECT_EQ(append_receive_events_record(words, time, c.events, c.end, true, {&checkpoints, 0, 0}),
              std::unexpected(ExchangeError::schedule(c.reason)));
    EXPECT_EQ(words, before);
    EXPECT_EQ(time, c.time);
    EXPECT_EQ(checkpoints.size(), 1u);
  }
  Words words{kEntrySyncWord};
  std::uint32_t time = 0;
  std::vector<Checkpoint> checkpoints;
  const std::vector<ReceiveEvent> late_failure = {source_event(3), source_event(3000)};
  EXPECT_FALSE(append_receive_events_record(words, time, late_failure, 1, true, {&checkpoints, 0, 0}));
  EXPECT_EQ(words, Words{kEntrySyncWord});
  EXPECT_TRUE(checkpoints.empty());
}

TEST(WordsTest, SetSenderControlPatchesEverySendWord) {
  ExchangeRow row = row_of({kEntrySyncWord, delay_word(3), explicit_send_word(64, 2, 1), offset_send_word(10, 0, 1),
                            kReturnWord});
  ASSERT_EQ(set_sender_control(row, 6), Result<void>{});
  EXPECT_EQ(row, row_of({kEntrySyncWord, delay_word(3), explicit_send_word(64, 2, 6), offset_send_word(10, 0, 6),
                         kReturnWord}));

  struct Case {
    const char* reason;
    ExchangeRow row;
    std::uint32_t control;
  };
  const std::vector<Case> cases = {
      {"send control", sender_row(4), 0},
      {"send control", sender_row(4), 8},
      {"sender payload", row_of({kEntrySyncWord, delay_word(3), kReturnWord}), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    ExchangeRow patched = c.row;
    EXPECT_EQ(set_sender_control(patched, c.control), std::unexpected(ExchangeError::schedule(c.reason)));
    EXPECT_EQ(patched, c.row);
  }
}

TEST(WordsTest, SetSenderControlLeavesThePicPairOperandWordAlone) {
  const auto pair = pic_pair_send_words(4, 0, 1, 0x3FFF, 1);  // operand word at or above 0xF0000000
  ExchangeRow row = row_of({kEntrySyncWord, pair[0], pair[1], kReturnWord});
  ASSERT_EQ(set_sender_control(row, 3), Result<void>{});
  EXPECT_EQ(row[1], (pair[0] & ~7u) | 3u);
  EXPECT_EQ(row[2], pair[1]);
}

TEST(WordsTest, PatchSenderAddressWritesTheOperandInSendUnits) {
  struct Case {
    std::uint32_t control;
    std::uint32_t address;
    std::optional<std::uint32_t> operand;  // none: ExchangeError::Address
  };
  const std::vector<Case> cases = {
      {1, 8, 2},       {5, 8, 1},          {1, 6, std::nullopt},       {5, 4, std::nullopt},
      {1, 0xFFFFC, 0x3FFFF}, {1, 0x100000, std::nullopt}, {5, 0x1FFFF8, 0x3FFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::format("control {} address {:#x}", c.control, c.address));
    ExchangeRow row = sender_row(4, 2, c.control);
    const ExchangeRow before = row;
    const Result<void> result = patch_sender_address(row, c.address);
    if (c.operand) {
      ASSERT_TRUE(result.has_value());
      ExchangeRow expected = before;
      expected[2] = explicit_send_word(4, *c.operand, c.control);
      EXPECT_EQ(row, expected);
    } else {
      EXPECT_EQ(result, std::unexpected(ExchangeError::address(c.address)));
      EXPECT_EQ(row, before);
    }
  }
  ExchangeRow no_send = row_of({kEntrySyncWord, kReturnWord});
  EXPECT_EQ(patch_sender_address(no_send, 8), std::unexpected(ExchangeError::address(8)));
}

TEST(WordsTest, FinalizePointReceiverPatchesTheSourceId) {
  const std::array<std::uint32_t, 8> words = {kEntrySyncWord, xpic_control_word(113, 0), kReturnWord};
  const Result<ExchangeRow> row = finalize_point_receiver(1, words, 0x1FFF);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(*row, row_of({kEntrySyncWord, xpic_control_word(113, 0x1FFF), kReturnWord}));
  const auto patch_error = std::unexpected(ExchangeError::schedule("point receiver patch index"));
  EXPECT_EQ(finalize_point_receiver(8, words, 1), patch_error);
  EXPECT_EQ(finalize_point_receiver(1, words, 8192), patch_error);
}

}  // namespace
}  // namespace tessel_exchange
