#include "tessel_exchange/encoding/program.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tessel_exchange/row_builders.hpp"

namespace tessel_exchange::encoding {
namespace {

using testing::placed_row;
using testing::SplitMix;
using testing::pointer_event;
using testing::source_event;
using testing::teardown_event;
using Words = std::vector<std::uint32_t>;

std::unexpected<ExchangeError> reason(const char* text) { return std::unexpected(ExchangeError::schedule(text)); }

TEST(ProgramTest, EncodesTheTimelineInCycleOrder) {
  struct Case {
    const char* name;
    std::vector<ScheduledSenderRow> senders;
    std::vector<ReceiveEvent> receives;
    std::uint32_t horizon;
    Words words;
  };
  const auto pair = pic_pair_send_words(6, 0, 0, kXpicTeardown, 0x10);
  const std::vector<Case> cases = {
      {"empty tile", {}, {}, 0, {kReturnWord}},
      {"empty tile with a horizon", {}, {}, 10, {delay_word(10), kReturnWord}},
      {"controls before, inside and after a send",
       {placed_row(20, 10)},
       {source_event(5), pointer_event(15), teardown_event(15), source_event(25, 7), teardown_event(40)},
       50,
       {xpic_control_word(5, 5), delay_word(9), pair[0], pair[1], explicit_send_word(4, 0, 1),
        pic_send_word(6, xpic_control_word(1, 7)), xpic_control_word(10, kXpicTeardown), delay_word(10), kReturnWord}},
      {"rows given out of order are sorted",
       {placed_row(30, 4), placed_row(10, 4)},
       {},
       40,
       {delay_word(10), explicit_send_word(4, 0, 1), delay_word(16), explicit_send_word(4, 0, 1), delay_word(6),
        kReturnWord}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<EncodedSchedule> program = build_scheduled_program(c.senders, c.receives, c.horizon);
    ASSERT_TRUE(program.has_value()) << program.error().to_string();
    EXPECT_EQ(program->words, c.words);
  }
}

TEST(ProgramTest, RecordsACheckpointAfterEveryGroupAndRow) {
  const std::vector<ScheduledSenderRow> senders = {placed_row(20, 10)};
  const std::vector<ReceiveEvent> receives = {source_event(5), pointer_event(15), teardown_event(15),
                                              source_event(25, 7), teardown_event(40)};
  const Result<EncodedSchedule> program = build_scheduled_program(senders, receives, 50);
  ASSERT_TRUE(program.has_value());
  const std::vector<Checkpoint> expected = {
      {.pair = 0, .limit = 0, .sender_index = 0, .receive_index = 1, .word_count = 1, .cycle = 5},
      {.pair = 1, .limit = 20, .sender_index = 0, .receive_index = 3, .word_count = 4, .cycle = 20},
      {.pair = 0, .limit = 0, .sender_index = 1, .receive_index = 4, .word_count = 6, .cycle = 30},
      {.pair = 0, .limit = 0, .sender_index = 1, .receive_index = 5, .word_count = 7, .cycle = 40},
  };
  EXPECT_EQ(program->checkpoints, expected);
}

TEST(ProgramTest, RejectsSchedulesTheWordsCannotExpress) {
  struct Case {
    const char* reason;
    std::vector<ScheduledSenderRow> senders;
    std::vector<ReceiveEvent> receives;
    std::uint32_t horizon;
  };
  const std::vector<Case> cases = {
      {"overlapping outgoing messages", {placed_row(10, 10), placed_row(15, 10)}, {}, 40},
      {"incompatible simultaneous receive controls",
       {},
       {pointer_event(5), source_event(5), teardown_event(5)},
       10},
      {"incompatible simultaneous receive controls", {}, {source_event(5), teardown_event(5)}, 10},
      {"plan delay order", {placed_row(10, 10)}, {}, 15},
      {"unencodable initial send control", {placed_row(10, 10)}, {source_event(11)}, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(build_scheduled_program(c.senders, c.receives, c.horizon), reason(c.reason));
  }
}

TEST(ProgramTest, ResumptionCopiesTheUnchangedPrefix) {
  std::vector<ScheduledSenderRow> senders = {placed_row(20, 10), placed_row(100, 70)};
  std::vector<ReceiveEvent> receives = {source_event(5), pointer_event(15), teardown_event(15), source_event(25, 7),
                                        teardown_event(140)};
  Result<EncodedSchedule> first = build_scheduled_program(senders, receives, 200);
  ASSERT_TRUE(first.has_value());
  // A marked copy shows which words a resumed encoding takes over instead of encoding them again.
  EncodedSchedule marked = *first;
  marked.words[0] = 0xDEADBEEF;

  senders.push_back(placed_row(300, 5));
  Result<EncodedSchedule> appended = build_scheduled_program(senders, receives, 400, &marked);
  ASSERT_TRUE(appended.has_value());
  EXPECT_EQ(appended->words[0], 0xDEADBEEFu);
  appended->words[0] = first->words[0];
  EXPECT_EQ(appended, build_scheduled_program(senders, receives, 400));

  // A change at the start of the timeline leaves nothing to take over.
  receives.insert(receives.begin(), source_event(2));
  Result<EncodedSchedule> changed = build_scheduled_program(senders, receives, 400, &marked);
  ASSERT_TRUE(changed.has_value());
  EXPECT_NE(changed->words[0], 0xDEADBEEFu);
  EXPECT_EQ(changed, build_scheduled_program(senders, receives, 400));
}

// A tile timeline that grows and changes the way a tile schedule does under the phase builder.
struct Timeline {
  std::vector<ScheduledSenderRow> senders;
  std::vector<ReceiveEvent> receives;
  std::uint32_t horizon = 0;

  std::uint32_t extent() const {
    std::uint32_t end = senders.empty() ? 0 : senders.back().payload_end;
    if (!receives.empty()) end = std::max(end, receives.back().cycle);
    return end;
  }
  bool cycle_taken(std::uint32_t cycle) const {
    return std::any_of(receives.begin(), receives.end(), [&](const ReceiveEvent& e) { return e.cycle == cycle; });
  }
  void insert_event(const ReceiveEvent& event) {
    const auto at = std::upper_bound(receives.begin(), receives.end(), event,
                                     [](const ReceiveEvent& a, const ReceiveEvent& b) { return a.cycle < b.cycle; });
    receives.insert(at, event);
  }
};

ReceiveEvent random_single_event(SplitMix& random, std::uint32_t cycle) {
  switch (random.below(7)) {
    case 0: return {cycle, xpic_control_word(1, random.below(1472)), kSourceEvent};
    case 1: return {cycle, xpic_control_word(1, kXpicTeardown), kTeardownEvent};
    case 2: return {cycle, xpic_control_word(1, kXpicPairedBit | random.below(1472)), kPairedSourceEvent};
    case 3: return {cycle, xpic_control_word(1, kXpicPairedBit | kXpicTeardown), kPairedTeardownEvent};
    case 4: return {cycle, pic_control_word(1, random.below(0x40000)), kPairedPointerEvent};
    case 5: return {cycle, pic_control_word(1, kPicFormatBit | random.below(3)), kPairedFormatEvent};
    default: return {cycle, pic_control_word(1, random.below(0x40000)), kPointerEvent};
  }
}

void mutate(Timeline& timeline, SplitMix& random) {
  const std::uint32_t extent = timeline.extent();
  const std::uint32_t choice = random.below(100);
  if (choice < 35) {
    // A new row near the end; controls already placed may fall inside its payload.
    const std::uint32_t last_end = timeline.senders.empty() ? 0 : timeline.senders.back().payload_end;
    const std::uint32_t start = last_end + random.below(80);
    const std::uint32_t length = 1 + random.below(random.chance(20) ? 300 : 70);
    timeline.senders.push_back(placed_row(start, length, random.below(0x1000)));
  } else if (choice < 40 && timeline.senders.size() >= 2) {
    // A row fitted into a gap between two rows.
    const std::size_t index = 1 + random.below(static_cast<std::uint32_t>(timeline.senders.size() - 1));
    const std::uint32_t gap_start = timeline.senders[index - 1].payload_end;
    const std::uint32_t gap_end = timeline.senders[index].payload_start;
    if (gap_end > gap_start + 1) {
      const std::uint32_t start = gap_start + random.below(gap_end - gap_start - 1);
      const std::uint32_t length = 1 + random.below(gap_end - start);
      timeline.senders.insert(timeline.senders.begin() + static_cast<std::ptrdiff_t>(index),
                              placed_row(start, length));
    }
  } else if (choice < 85) {
    // Controls, mostly near the end of the timeline.
    const std::uint32_t cycle = random.chance(85) ? std::max<std::uint32_t>(1, extent + 20 - std::min(extent, random.below(90)))
                                                  : 1 + random.below(extent + 50);
    if (timeline.cycle_taken(cycle)) return;
    if (random.chance(35)) {
      const ReceiveEvent pointer{cycle, pic_control_word(1, random.below(0x40000)), kPointerEvent};
      const ReceiveEvent mux = random.chance(50) ? source_event(cycle, random.below(1472)) : teardown_event(cycle);
      const bool pointer_first = random.chance(50);
      timeline.insert_event(pointer_first ? pointer : mux);
      timeline.insert_event(pointer_first ? mux : pointer);
    } else {
      timeline.insert_event(random_single_event(random, cycle));
    }
  } else if (choice < 92 && !timeline.receives.empty()) {
    // Appending a stream removes controls the new stream takes over.
    const std::size_t index = random.below(static_cast<std::uint32_t>(timeline.receives.size()));
    timeline.receives.erase(timeline.receives.begin() + static_cast<std::ptrdiff_t>(index));
  } else {
    timeline.horizon += random.below(40);
  }
  timeline.horizon = std::max(timeline.horizon, timeline.extent() + (random.chance(70) ? random.below(20) : 0));
}

// Resumption is only a shortcut: with any earlier encoding of the tile as `previous`, the result equals
// the encoding from scratch, error or program.
TEST(ProgramTest, ResumedEncodingEqualsEncodingFromScratch) {
  constexpr std::uint64_t kSequences = 3000;
  constexpr int kSteps = 40;
  std::size_t encodings = 0;
  std::size_t successes = 0;
  for (std::uint64_t sequence = 0; sequence < kSequences; ++sequence) {
    SplitMix random(0x7E55E1 + sequence);
    Timeline timeline;
    std::vector<EncodedSchedule> history;  // earlier successful encodings of this tile
    for (int step = 0; step < kSteps; ++step) {
      mutate(timeline, random);
      const Result<EncodedSchedule> scratch =
          build_scheduled_program(timeline.senders, timeline.receives, timeline.horizon);
      const EncodedSchedule* latest = history.empty() ? nullptr : &history.back();
      const EncodedSchedule* older =
          history.empty() ? nullptr : &history[random.below(static_cast<std::uint32_t>(history.size()))];
      for (const EncodedSchedule* previous : {latest, older}) {
        const Result<EncodedSchedule> resumed =
            build_scheduled_program(timeline.senders, timeline.receives, timeline.horizon, previous);
        if (resumed != scratch) {
          ADD_FAILURE() << "sequence " << sequence << " step " << step << ": resumed encoding differs ("
                        << (scratch ? "ok" : scratch.error().to_string()) << " from scratch, "
                        << (resumed ? "ok" : resumed.error().to_string()) << " resumed)";
          return;
        }
      }
      ++encodings;
      if (scratch) {
        ++successes;
        history.push_back(*scratch);
      }
    }
  }
  // The property means little unless most generated timelines are encodable.
  EXPECT_GT(successes * 2, encodings) << successes << " of " << encodings << " encodings succeeded";
}

}  // namespace
}  // namespace tessel_exchange::encoding
