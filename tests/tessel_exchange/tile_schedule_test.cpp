#include "tessel_exchange/tile_schedule.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "tessel_exchange/row_builders.hpp"

namespace tessel_exchange {
namespace {

using testing::receiver_row;
using testing::row_of;
using testing::sender_row;
using testing::SplitMix;

std::unexpected<ExchangeError> reason(const char* text) { return std::unexpected(ExchangeError::schedule(text)); }

// Everything a failed call must leave as it was.
auto state_of(const TileProgramSchedule& tile) {
  return std::make_tuple(tile.senders(), tile.receives(), tile.open_stream(), tile.busy_until(), tile.horizon(),
                         tile.cached_encoding(), tile.previous_encoding());
}

// A receiver row whose source select ends at `source`, with its pointer 200 cycles later.
ExchangeRow receiver_with_source_at(std::uint32_t source) { return receiver_row(source, 200, 10); }

TEST(TileScheduleTest, SenderRowsMustNotOverlap) {
  struct Case {
    const char* name;
    std::uint32_t first_words, first_offset, second_words, second_offset;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"touching intervals", 10, 10, 10, 20, true},
      {"touching, placed in reverse order", 10, 20, 10, 10, true},
      {"first ends inside the second", 11, 10, 10, 20, false},
      {"second ends inside the first", 10, 20, 11, 10, false},
      {"same start", 4, 10, 4, 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TileProgramSchedule tile;
    ASSERT_TRUE(tile.append_sender_at(sender_row(c.first_words), c.first_offset).has_value());
    const auto before = state_of(tile);
    const Result<void> second = tile.append_sender_at(sender_row(c.second_words), c.second_offset);
    if (c.accepted) {
      ASSERT_TRUE(second.has_value());
      ASSERT_EQ(tile.senders().size(), 2u);
      EXPECT_LT(tile.senders()[0].payload_start, tile.senders()[1].payload_start);
      EXPECT_EQ(tile.horizon(), 30u);
    } else {
      EXPECT_EQ(second, reason("overlapping outgoing messages"));
      EXPECT_EQ(state_of(tile), before);
    }
  }
}

TEST(TileScheduleTest, ControlsRightAfterAPayloadStartCannotBeEncoded) {
  struct Case {
    std::uint32_t event_cycle;
    bool accepted;
  };
  const std::vector<Case> cases = {{9, true}, {10, false}, {11, false}, {12, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event_cycle);
    TileProgramSchedule tile;
    ASSERT_TRUE(tile.append_receiver_at(receiver_with_source_at(c.event_cycle), 0, 400).has_value());
    const auto before = state_of(tile);
    const Result<void> placed = tile.append_sender_at(sender_row(4), 10);
    if (c.accepted) {
      EXPECT_TRUE(placed.has_value());
    } else {
      EXPECT_EQ(placed, reason("unencodable initial send control"));
      EXPECT_EQ(state_of(tile), before);
    }
  }
}

TEST(TileScheduleTest, SenderRowTimingErrorsAreReturned) {
  TileProgramSchedule tile;
  EXPECT_EQ(tile.append_sender_at(row_of({kEntrySyncWord, kReturnWord}), 0), reason("sender payload"));
  EXPECT_TRUE(tile.senders().empty());
}

TEST(TileScheduleTest, ReceiverWindowsAreMergedIntoTheEvents) {
  TileProgramSchedule tile;
  // Source at 113, pointer (address 0x40) at 165, teardown at the source end, row end 180.
  const Result<ScheduledReceiverWindow> window = tile.append_receiver_at(receiver_row(113, 52, 10), 0, 4);
  ASSERT_TRUE(window.has_value());
  const std::vector<ReceiveEvent> expected(window->events.begin(), window->events.end());
  EXPECT_EQ(tile.receives(), expected);
  EXPECT_EQ(tile.horizon(), 180u);
  const OpenReceiveStream open{.has_end_address = 1, .end_address = 0x50, .source_end = 117, .payload_end = 169};
  EXPECT_EQ(tile.open_stream(), open);

  // A stream that picks up at the source end and address of the open one continues it: the old
  // teardown and the new pointer are not issued.
  ASSERT_TRUE(tile.append_receiver_at(receiver_row(113, 56, 10, 5, 0x14), 4, 4).has_value());
  const std::vector<std::uint32_t> cycles = {113, 117, 121, 165};
  const std::vector<std::uint8_t> kinds = {kSourceEvent, kSourceEvent, kTeardownEvent, kPointerEvent};
  ASSERT_EQ(tile.receives().size(), cycles.size());
  for (std::size_t index = 0; index < cycles.size(); ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(tile.receives()[index].cycle, cycles[index]);
    EXPECT_EQ(tile.receives()[index].kind, kinds[index]);
  }
  EXPECT_EQ(tile.open_stream()->end_address, 0x60u);
}

TEST(TileScheduleTest, ReceiverErrorsLeaveTheScheduleUnchanged) {
  struct Case {
    const char* reason;
    ExchangeRow row;
    std::uint32_t offset;
    std::uint32_t rows;
  };
  const std::vector<Case> cases = {
      {"overlapping receive streams", receiver_row(113, 52, 10), 3, 4},     // source before the open source end
      {"overlapping receive streams", receiver_row(113, 50, 10), 4, 4},     // pointer before the open payload end
      {"receive address overflow", receiver_row(113, 52, 10), 200, 0x40000000},
      {"incomplete ordinary receive mux", row_of({kEntrySyncWord, kReturnWord}), 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    TileProgramSchedule tile;
    ASSERT_TRUE(tile.append_receiver_at(receiver_row(113, 52, 10), 0, 4).has_value());
    ASSERT_TRUE(tile.encoded().has_value());
    const auto before = state_of(tile);
    EXPECT_EQ(tile.append_receiver_at(c.row, c.offset, c.rows), reason(c.reason));
    EXPECT_EQ(state_of(tile), before);
  }
}

TEST(TileScheduleTest, FirstReceiverNeverOverlapsAStream) {
  TileProgramSchedule tile;
  EXPECT_TRUE(tile.append_receiver_at(receiver_row(113, 52, 10), 0, 4).has_value());
}

TEST(TileScheduleTest, ChangesMoveTheCachedEncodingToPrevious) {
  TileProgramSchedule tile;
  ASSERT_TRUE(tile.append_sender_at(sender_row(4), 10).has_value());
  EXPECT_EQ(tile.previous_encoding(), nullptr);  // nothing was cached yet
  const Result<std::shared_ptr<const EncodedSchedule>> first = tile.encoded();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(tile.encoded().value(), *first);  // served from the cache

  ASSERT_TRUE(tile.append_sender_at(sender_row(4), 20).has_value());
  EXPECT_EQ(tile.cached_encoding(), nullptr);
  EXPECT_EQ(tile.previous_encoding(), *first);

  const Result<std::shared_ptr<const EncodedSchedule>> second = tile.encoded();
  ASSERT_TRUE(second.has_value());
  ASSERT_TRUE(tile.append_sender_at(sender_row(4), 30).has_value());
  EXPECT_EQ(tile.previous_encoding(), *second);
  EXPECT_EQ(first->use_count(), 1);  // the older previous encoding was dropped

  const Result<std::shared_ptr<const EncodedSchedule>> third = tile.encoded();
  ASSERT_TRUE(third.has_value());
  TileProgramSchedule scratch;
  for (std::uint32_t offset : {10, 20, 30}) ASSERT_TRUE(scratch.append_sender_at(sender_row(4), offset).has_value());
  EXPECT_EQ(*third.value(), *scratch.encoded().value());
}

TEST(TileScheduleTest, ClonesShareEncodingsUntilTheyChange) {
  TileProgramSchedule tile;
  ASSERT_TRUE(tile.append_sender_at(sender_row(4), 10).has_value());
  const std::shared_ptr<const EncodedSchedule> encoding = tile.encoded().value();

  TileProgramSchedule clone = tile;
  EXPECT_EQ(clone.cached_encoding(), encoding);
  ASSERT_TRUE(clone.append_receiver_at(receiver_row(113, 52, 10), 0, 4).has_value());
  EXPECT_EQ(clone.previous_encoding(), encoding);
  EXPECT_EQ(tile.cached_encoding(), encoding);
  EXPECT_EQ(tile.receives().size(), 0u);
  ASSERT_TRUE(clone.encoded().has_value());
  EXPECT_NE(clone.cached_encoding(), encoding);
}

TEST(TileScheduleTest, PartnerReservationKeepsTheTileBusy) {
  TileProgramSchedule tile;
  ASSERT_TRUE(tile.append_sender_at(sender_row(4), 10).has_value());
  const std::shared_ptr<const EncodedSchedule> encoding = tile.encoded().value();
  tile.reserve_as_partner(90);
  EXPECT_EQ(tile.busy_until(), 90u);
  EXPECT_EQ(tile.horizon(), 90u);
  EXPECT_EQ(tile.cached_encoding(), nullptr);
  EXPECT_EQ(tile.previous_encoding(), encoding);
  tile.reserve_as_partner(50);
  EXPECT_EQ(tile.busy_until(), 90u);
  // The reservation only lengthens the program.
  const std::vector<std::uint32_t> expected = {delay_word(10), explicit_send_word(4, 0, 1), delay_word(76), kReturnWord};
  EXPECT_EQ(tile.encoded().value()->words, expected);
}

TEST(TileScheduleTest, FailedEncodingCachesNothing) {
  // Source at 4, then teardown and pointer together at 5: the PicPair carrying them would start on an
  // odd word, with no cycle left to wait for alignment.
  const auto pair = pic_pair_send_words(1, 0, 0, kXpicTeardown, 0x10);
  const ExchangeRow row = row_of({kEntrySyncWord, xpic_control_word(4, 5), pair[0], pair[1], kReturnWord});
  TileProgramSchedule tile;
  ASSERT_TRUE(tile.append_receiver_at(row, 0, 1).has_value());
  EXPECT_EQ(tile.encoded(), reason("SENDPICP instruction alignment"));
  EXPECT_EQ(tile.cached_encoding(), nullptr);
}


// A paired receiver row: paired source at `source`, format start `format_gap` cycles later, pointer two
// cycles after that, paired teardown at source + rows and format end at format start + rows.
ExchangeRow paired_receiver_row(std::uint32_t source, std::uint32_t format_gap, std::uint32_t rows,
                                std::uint32_t format_value) {
  return row_of({kEntrySyncWord, xpic_control_word(source, kXpicPairedBit | 9),
                 pic_control_word(format_gap, kPicFormatBit | format_value), pic_control_word(2, 0),
                 xpic_control_word(rows - format_gap - 2, kXpicPairedBit | kXpicTeardown),
                 pic_control_word(format_gap, kPicFormatBit), delay_word(7), kReturnWord});
}

// Places random sender and receiver rows the way the phase builder does, on staged copies. Every
// failed placement must leave the tile as it was, and the cached encoding, resumed from the previous
// one at every step, must equal an encoding of the same contents from scratch.
TEST(TileScheduleTest, IncrementalEncodingEqualsEncodingFromScratch) {
  constexpr std::uint64_t kSequences = 1500;
  constexpr int kSteps = 30;
  std::size_t placed = 0;
  std::size_t attempts = 0;
  for (std::uint64_t sequence = 0; sequence < kSequences; ++sequence) {
    SplitMix random(0x5C4ED + sequence);
    TileProgramSchedule tile;
    for (int step = 0; step < kSteps; ++step) {
      TileProgramSchedule staged = tile;  // shares the cached encoding, as a builder's trial copy does
      const auto before = state_of(staged);
      const std::uint32_t near_end = tile.horizon() > 150 ? tile.horizon() - 150 + random.below(200) : random.below(200);
      bool ok = false;
      const std::uint32_t kind = random.below(10);
      if (kind < 4) {
        ok = staged.append_sender_at(sender_row(1 + random.below(150), random.below(40)), near_end).has_value();
      } else if (kind < 8) {
        // An ordinary stream, often right behind the open one so that it continues it.
        const std::optional<OpenReceiveStream>& open = staged.open_stream();
        const bool follow = open && !open->paired && random.chance(50);
        const std::uint32_t pointer_value = follow ? open->end_address / 4 : random.below(0x10000);
        const std::uint32_t source = 1 + random.below(120);
        const std::uint32_t offset = follow && open->source_end >= source ? open->source_end - source : near_end;
        ok = staged
                 .append_receiver_at(receiver_row(source, 1 + random.below(80), 1 + random.below(20),
                                                  1 + random.below(10), pointer_value),
                                     offset, 1 + random.below(120))
                 .has_value();
      } else {
        // A paired stream, sometimes starting its format where the open paired stream's ends.
        const std::optional<OpenReceiveStream>& open = staged.open_stream();
        const std::uint32_t rows = 64 + random.below(100);
        const std::uint32_t source = 1 + random.below(60);
        const std::uint32_t format_gap = 1 + random.below(50);
        const bool follow = open && open->paired && open->has_paired_end == 1 && random.chance(60);
        const std::uint32_t format_value = follow ? open->format_value : 1 + random.below(2);
        const std::uint32_t offset = follow && open->paired_end >= source + format_gap
                                         ? open->paired_end - source - format_gap
                                         : near_end;
        ok = staged.append_receiver_at(paired_receiver_row(source, format_gap, rows, format_value), offset, rows)
                 .has_value();
      }
      ++attempts;
      if (!ok) {
        ASSERT_EQ(state_of(staged), before) << "sequence " << sequence << " step " << step;
        continue;
      }
      ++placed;
      const Result<EncodedSchedule> scratch =
          encoding::build_scheduled_program(staged.senders(), staged.receives(), staged.horizon());
      const Result<std::shared_ptr<const EncodedSchedule>> incremental = staged.encoded();
      ASSERT_EQ(incremental.has_value(), scratch.has_value()) << "sequence " << sequence << " step " << step;
      if (!scratch) {
        ASSERT_EQ(incremental.error(), scratch.error());
        continue;  // an unencodable trial is dropped, as the builder drops it
      }
      ASSERT_EQ(**incremental, *scratch) << "sequence " << sequence << " step " << step;
      tile = staged;
    }
  }
  EXPECT_GT(placed * 2, attempts) << placed << " of " << attempts << " placements succeeded";
}

}  // namespace
}  // namespace tessel_exchange
