#pragma once
// Small builders of rows, events and schedules shared by the encoder tests.

#include <cstdint>
#include <initializer_list>

#include "test_support/split_mix.hpp"
#include "tessel_exchange/words.hpp"

namespace tessel_exchange::testing {

// A row from its leading words; the rest stays 0.
inline ExchangeRow row_of(std::initializer_list<std::uint32_t> words) {
  ExchangeRow row{};
  std::size_t index = 0;
  for (std::uint32_t word : words) row[index++] = word;
  return row;
}

// Sync 3, an optional leading delay, an Explicit send of up to 64 words and an Offset send of the rest,
// Return.
inline ExchangeRow sender_row(std::uint32_t words, std::uint32_t delay = 0, std::uint32_t control = 1,
                              std::uint32_t operand = 0) {
  ExchangeRow row{};
  std::size_t index = 0;
  row[index++] = kEntrySyncWord;
  if (delay > 0) row[index++] = delay_word(delay);
  const std::uint32_t first = words < 64 ? words : 64;
  row[index++] = explicit_send_word(first, operand, control);
  if (words > 64) row[index++] = offset_send_word(words - 64, 0, control);
  row[index] = kReturnWord;
  return row;
}

// A sender row placed with its payload starting at `start`.
inline ScheduledSenderRow placed_row(std::uint32_t start, std::uint32_t words, std::uint32_t operand = 0) {
  return ScheduledSenderRow{sender_row(words, 0, 1, operand), start, start + words};
}

inline ReceiveEvent source_event(std::uint32_t cycle, std::uint32_t tile = 5) {
  return {cycle, xpic_control_word(1, tile), kSourceEvent};
}
inline ReceiveEvent teardown_event(std::uint32_t cycle) {
  return {cycle, xpic_control_word(1, kXpicTeardown), kTeardownEvent};
}
inline ReceiveEvent pointer_event(std::uint32_t cycle, std::uint32_t value = 0x10) {
  return {cycle, pic_control_word(1, value), kPointerEvent};
}

// An ordinary receiver row: source select ending at `source`, pointer `pointer_gap` cycles later,
// teardown `teardown_gap` cycles after that, then `tail` cycles of delay.
inline ExchangeRow receiver_row(std::uint32_t source, std::uint32_t pointer_gap, std::uint32_t teardown_gap,
                                std::uint32_t tail = 5, std::uint32_t pointer_value = 0x10,
                                std::uint32_t source_tile = 5) {
  return row_of({kEntrySyncWord, xpic_control_word(source, source_tile), pic_control_word(pointer_gap, pointer_value),
                 xpic_control_word(teardown_gap, kXpicTeardown), delay_word(tail), kReturnWord});
}

using test_support::SplitMix;

}  // namespace tessel_exchange::testing
