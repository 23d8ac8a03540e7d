#include "tessel_exchange/timing.hpp"

#include <algorithm>
#include <cstdlib>

#include "support/checked.hpp"
#include "support/invariant.hpp"
#include "support/result.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_exchange {
namespace {

std::unexpected<ExchangeError> schedule_error(const char* reason) {
  return std::unexpected(ExchangeError::schedule(reason));
}

// Index of the first Return among words first..8.
std::optional<std::size_t> find_return(const ExchangeRow& row, std::size_t first) {
  for (std::size_t index = first; index < kRowWords; ++index) {
    if (row[index] == kReturnWord) return index;
  }
  return std::nullopt;
}

// Moves an optional cycle by `offset`; false on overflow.
bool shift_cycle(std::optional<std::uint32_t>& cycle, std::uint32_t offset) {
  if (!cycle) return true;
  const auto moved = support::checked_add(*cycle, offset);
  if (!moved) return false;
  cycle = *moved;
  return true;
}

// Every cycle of a row timing moved by `offset`; none on overflow.
std::optional<ReceiveRowTiming> shifted(const ReceiveRowTiming& timing, std::uint32_t offset) {
  ReceiveRowTiming moved = timing;
  for (ReceiveEvent& event : moved.events) {
    const auto cycle = support::checked_add(event.cycle, offset);
    if (!cycle) return std::nullopt;
    event.cycle = *cycle;
  }
  const auto end = support::checked_add(moved.end, offset);
  if (!end) return std::nullopt;
  moved.end = *end;
  if (!shift_cycle(moved.teardown, offset) || !shift_cycle(moved.source, offset) ||
      !shift_cycle(moved.paired_start, offset) || !shift_cycle(moved.paired_end, offset) ||
      !shift_cycle(moved.pointer, offset)) {
    return std::nullopt;
  }
  return moved;
}

// Sorts out the walked events: one source, pointer and teardown each, at most one paired format start
// and end, and a paired format that both starts and ends.
Result<void> classify_receive_events(ReceiveRowTiming& timing) {
  std::optional<std::size_t> format_start;
  std::optional<std::size_t> format_end;
  for (std::size_t index = 0; index < timing.events.size(); ++index) {
    const ReceiveEvent& event = timing.events[index];
    switch (event.kind) {
      case kTeardownEvent:
      case kPairedTeardownEvent:
        if (timing.teardown) return schedule_error("multiple receive teardowns");
        timing.teardown = event.cycle;
        break;
      case kPairedPointerEvent:
      case kPointerEvent:
        if (timing.pointer) return schedule_error("multiple receive pointers");
        timing.pointer = event.cycle;
        timing.pointer_address = (pic_value(event.word) << 2) & 0xFFFFCu;
        break;
      case kSourceEvent:
      case kPairedSourceEvent:
        if (timing.source) return schedule_error("multiple receive sources");
        timing.source = event.cycle;
        break;
      case kPairedFormatEvent: {
        const std::uint32_t value = pic_value(event.word) & 0x3FFFFu;
        if (value == 1 || value == 2) {
          if (format_start) return schedule_error("multiple paired format starts");
          format_start = index;
        } else if (value == 0) {
          if (format_end) return schedule_error("multiple paired format ends");
          format_end = index;
        } else {
          return schedule_error("paired receive format value");
        }
        break;
      }
      default:
        break;
    }
  }

  if (format_start) {
    // The format must end after it starts.
    if (!format_end || *format_end < *format_start) return schedule_error("incomplete paired receive format");
    for (ReceiveEvent& event : timing.events) {
      if (event.kind == kPointerEvent) event.kind = kPairedPointerEvent;
    }
    timing.paired = true;
    timing.paired_start = timing.events[*format_start].cycle;
    timing.paired_end = timing.events[*format_end].cycle;
    return {};
  }
  for (const ReceiveEvent& event : timing.events) {
    if (event.kind == kPairedSourceEvent || event.kind == kPairedTeardownEvent) {
      return schedule_error("incomplete paired receive format");
    }
  }
  if (!timing.source || !timing.teardown) return schedule_error("incomplete ordinary receive mux");
  return {};
}

}  // namespace

void RowEventList::push_back(const ReceiveEvent& event) {
  support::check_invariant(size_ < kCapacity, "row events fit in a row");
  events_[size_++] = event;
}

void RowEventList::sort_by_cycle() {
  // Insertion sort: stable, and the lists are at most eight long.
  for (std::size_t index = 1; index < size_; ++index) {
    const ReceiveEvent event = events_[index];
    std::size_t slot = index;
    while (slot > 0 && events_[slot - 1].cycle > event.cycle) {
      events_[slot] = events_[slot - 1];
      --slot;
    }
    events_[slot] = event;
  }
}

bool operator==(const RowEventList& a, const RowEventList& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

Result<SenderRowTiming> sender_row_timing(const ExchangeRow& row, std::uint32_t base) {
  if (row[0] != kEntrySyncWord) return schedule_error("sender row entry");
  if (row[1] == kReturnWord) return schedule_error("sender payload");
  const std::optional<std::size_t> return_index = find_return(row, 2);
  if (!return_index) return schedule_error("sender row return");

  std::uint32_t now = base;
  std::optional<std::uint32_t> payload_start;
  std::uint32_t payload_end = 0;
  for (std::size_t index = 1; index < *return_index; ++index) {
    const std::uint32_t word = row[index];
    const WordKind kind = classify_word(word);
    const auto end = support::checked_add(now, word_cycles(word));
    if (!end) return schedule_error("sender event horizon overflow");
    if (kind == WordKind::ExplicitSend || kind == WordKind::OffsetSend) {
      if (!payload_start) payload_start = now;
      payload_end = *end;
    }
    now = *end;
    if (kind == WordKind::PicPairSend) ++index;  // its second word is an operand
  }
  if (!payload_start) return schedule_error("sender payload");
  return SenderRowTiming{*payload_start, payload_end, now};
}

Result<ReceiveRowTiming> receive_row_timing(const ExchangeRow& row, std::uint32_t base) {
  if (row[0] != kEntrySyncWord) return schedule_error("receive row entry");
  const std::optional<std::size_t> return_index = find_return(row, 1);
  if (!return_index) return schedule_error("receive row return");

  ReceiveRowTiming timing;
  std::uint32_t now = base;
  for (std::size_t index = 1; index < *return_index;) {
    const std::uint32_t word = row[index];
    const WordKind kind = classify_word(word);
    if (kind == WordKind::PicPairSend) {
      // Both carried controls take effect one cycle after the send starts.
      if (now == UINT32_MAX) return schedule_error("receive event horizon overflow");
      const std::uint32_t operand = row[index + 1];
      const std::uint32_t xpic = operand >> 18;
      const std::uint32_t pic = (operand & 0x3FFFFu) | (((word >> 27) & 1u) << 18);
      timing.events.push_back({now + 1, xpic_control_word(1, xpic), xpic_event_kind(xpic)});
      timing.events.push_back({now + 1, pic_control_word(1, pic), pic_event_kind(pic)});
      const auto end = support::checked_add(now, short_send_words(word));
      if (!end) return schedule_error("receive event horizon overflow");
      now = *end;
      index += 2;
      continue;
    }
    const auto end = support::checked_add(now, word_cycles(word));
    if (!end) return schedule_error("receive event horizon overflow");
    if (kind == WordKind::XpicControl) {
      timing.events.push_back({*end, word, xpic_event_kind(xpic_value(word))});
    } else if (kind == WordKind::PicControl) {
      timing.events.push_back({*end, word, pic_event_kind(pic_value(word))});
    }
    now = *end;
    ++index;
  }
  timing.end = now;
  TESSEL_TRY(classify_receive_events(timing));
  return timing;
}

Result<ReceiveRowTiming> receive_row_timing_from_base(const ReceiveRowTiming& timing, std::uint32_t offset) {
  std::optional<ReceiveRowTiming> moved = shifted(timing, offset);
  if (!moved) return schedule_error("receive offset overflow");
  return std::move(*moved);
}

Result<ScheduledReceiverWindow> scheduled_receive_window(const ReceiveRowTiming& timing, std::uint32_t offset,
                                                         std::uint32_t rows,
                                                         const std::optional<OpenReceiveStream>& open) {
  const std::optional<ReceiveRowTiming> placed = shifted(timing, offset);
  if (!placed) return schedule_error("receive offset overflow");

  ScheduledReceiverWindow window;
  const std::optional<std::uint32_t> source = placed->source ? placed->source : placed->paired_start;
  if (!source) return schedule_error("receive source timing");
  window.source_cycle = *source;
  const auto source_end = support::checked_add(window.source_cycle, rows);
  if (!source_end) return schedule_error("receive source timing overflow");
  window.source_end = *source_end;

  // A paired stream continues the open one when its format starts where the open one's ends, with
  // the same format value.
  std::optional<std::size_t> format_start;
  if (placed->paired_start) {
    for (std::size_t index = 0; index < placed->events.size(); ++index) {
      const ReceiveEvent& event = placed->events[index];
      if (event.kind == kPairedFormatEvent && event.cycle == *placed->paired_start) {
        format_start = index;
        break;
      }
    }
    if (format_start && open) {
      const std::uint32_t value = pic_value(placed->events[*format_start].word) & 0x3FFFFu;
      window.continues_paired = open->has_format == 1 && value == open->format_value && open->has_paired_end == 1 &&
                                open->paired_end == *placed->paired_start;
    }
  }
  // An ordinary stream continues the open one when it receives right behind it.
  const bool continues_ordinary = open && !placed->paired && !open->paired && open->has_end_address == 1 &&
                                  placed->pointer_address && open->end_address == *placed->pointer_address;

  if (!placed->pointer) return schedule_error("receive pointer event");
  window.has_pointer = 1;
  window.pointer_address = placed->pointer_address.value_or(0);
  window.pointer_cycle = *placed->pointer;
  const auto payload_end = support::checked_add(window.pointer_cycle, rows);
  if (!payload_end) return schedule_error("receive payload timing overflow");
  window.payload_end = *payload_end;
  window.window_end = std::max({placed->end, window.source_end, window.payload_end});

  // Teardowns close the stream when the source has delivered every row; controls that the open stream
  // already provides are not issued again.
  for (std::size_t index = 0; index < placed->events.size(); ++index) {
    ReceiveEvent event = placed->events[index];
    if (window.continues_paired && format_start && index == *format_start) continue;
    if (continues_ordinary && event.kind == kPointerEvent) continue;
    if (event.kind == kTeardownEvent) event.cycle = window.source_end;
    window.events.push_back(event);
  }
  window.events.sort_by_cycle();
  TESSEL_TRY(check_simultaneous_receive_controls(window.events));
  return window;
}

std::int32_t time_to_mux(std::uint16_t sender, std::uint16_t receiver) {
  const auto sender_column = static_cast<std::int32_t>(column(sender));
  const auto receiver_column = static_cast<std::int32_t>(column(receiver));
  const std::int32_t sender_term = (sender_column & 8) + 3 + 4 * static_cast<std::int32_t>(fold(column(sender)));
  const std::int32_t crossing =
      half(sender) == half(receiver) ? (sender_column & 7) + 1 : 16 - (sender_column & 7);
  const std::int32_t receiver_term = receiver_column + 4 * static_cast<std::int32_t>(fold(column(receiver)));
  const std::int32_t positions =
      2 * (static_cast<std::int32_t>(position(sender)) - static_cast<std::int32_t>(position(receiver)));
  return sender_term + crossing - receiver_term + positions + std::abs(exchange_distance(sender, receiver)) - 34;
}

}  // namespace tessel_exchange
