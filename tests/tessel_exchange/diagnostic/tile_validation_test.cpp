#include "tessel_exchange/diagnostic/tile_validation.hpp"

#include <gtest/gtest.h>

#include "support/events.hpp"
#include "tessel_exchange/row_builders.hpp"

namespace tessel_exchange::diagnostic {
namespace {

using tessel_exchange::testing::receiver_row;
using tessel_exchange::testing::sender_row;

// A tile that sends 64 words from cycle 100 and receives one stream.
TileProgramSchedule sample_schedule() {
  TileProgramSchedule schedule;
  EXPECT_TRUE(schedule.append_sender_at(sender_row(64), 100));
  EXPECT_TRUE(schedule.append_receiver_at(receiver_row(20, 10, 12), 0, 12));
  return schedule;
}

TEST(TileValidation, FinishedProgramPassesAndCorruptionsFail) {
  TileProgramSchedule schedule = sample_schedule();
  const std::vector<std::uint32_t> words = schedule.encoded().value()->words;
  ASSERT_TRUE(validate_tile_program(0, schedule, words));

  struct Case {
    const char* name;
    std::vector<std::uint32_t> words;
    const char* reason;
  };
  std::vector<Case> cases;
  {
    auto longer = words;
    longer.insert(longer.end() - 1, delay_word(1));
    cases.push_back({"one cycle longer", longer, "encoded tile horizon mismatch"});
  }
  {
    auto unknown = words;
    unknown.insert(unknown.begin() + 1, 0x10000000u);
    cases.push_back({"unknown word", unknown, "unknown encoded exchange instruction"});
  }
  {
    cases.push_back({"no scheduled controls", {kEntrySyncWord, delay_word(schedule.horizon()), kReturnWord},
                     "encoded incoming-control mismatch"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto checked = validate_tile_program(0, schedule, c.words);
    ASSERT_FALSE(checked);
    EXPECT_EQ(checked.error(), ExchangeError::schedule(c.reason));
  }
}

TEST(TileValidation, SenderIntervals) {
  TileProgramSchedule schedule;
  ASSERT_TRUE(schedule.append_sender_at(sender_row(64), 100));
  ASSERT_EQ(schedule.horizon(), 164u);
  struct Case {
    const char* name;
    std::vector<std::uint32_t> words;
    const char* reason;  // nullptr: passes
  };
  const Case cases[] = {
      {"one send", {kEntrySyncWord, delay_word(100), explicit_send_word(64, 0, 1), kReturnWord}, nullptr},
      {"two touching sends",
       {kEntrySyncWord, delay_word(100), explicit_send_word(40, 0, 1), offset_send_word(24, 0, 1), kReturnWord},
       nullptr},
      {"a gap inside the row",
       {kEntrySyncWord, delay_word(100), explicit_send_word(40, 0, 1), delay_word(1), offset_send_word(23, 0, 1),
        kReturnWord},
       "encoded sender interval mismatch"},
      {"late start", {kEntrySyncWord, delay_word(101), explicit_send_word(63, 0, 1), kReturnWord},
       "encoded sender interval mismatch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto checked = validate_tile_program(0, schedule, c.words);
    if (c.reason == nullptr) {
      EXPECT_TRUE(checked) << checked.error().to_string();
    } else {
      ASSERT_FALSE(checked);
      EXPECT_EQ(checked.error(), ExchangeError::schedule(c.reason));
    }
  }

  TileProgramSchedule quiet;
  quiet.reserve_as_partner(10);
  EXPECT_EQ(validate_tile_program(0, quiet, std::vector<std::uint32_t>{explicit_send_word(10, 0, 1), kReturnWord}).error(),
            ExchangeError::schedule("unexpected encoded outgoing interval"));
  EXPECT_TRUE(validate_tile_program(0, quiet, std::vector<std::uint32_t>{delay_word(10), kReturnWord}));
}

TEST(TileValidation, ControlMismatchEvent) {
  TileProgramSchedule schedule = sample_schedule();
  support::events::CapturingReceiver capture(support::events::Level::Debug, "tessel_exchange::diagnostic");
  auto checked =
      validate_tile_program(7, schedule, std::vector<std::uint32_t>{kEntrySyncWord, delay_word(schedule.horizon()), kReturnWord});
  ASSERT_FALSE(checked);
  ASSERT_EQ(capture.events().size(), 1u);
  const auto& event = capture.events()[0];
  EXPECT_EQ(event.message, "encoded incoming controls differ from the phase schedule");
  EXPECT_EQ(*event.field("tile"), "7");
  EXPECT_EQ(*event.field("first_mismatch"), "0");
  EXPECT_EQ(*event.field("actual_len"), "0");
  EXPECT_EQ(*event.field("expected_len"), "3");
  EXPECT_EQ(*event.field("actual"), "none");
  EXPECT_EQ(event.field("expected_window")->substr(0, 2), "[(");
}

}  // namespace
}  // namespace tessel_exchange::diagnostic
