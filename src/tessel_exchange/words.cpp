#include "tessel_exchange/words.hpp"

#include <algorithm>

#include "support/checked.hpp"
#include "support/result.hpp"

namespace tessel_exchange {
namespace {

std::unexpected<ExchangeError> schedule_error(const char* reason) {
  return std::unexpected(ExchangeError::schedule(reason));
}

// Truncates a list back to its length at construction unless the operation committed.
template <class T>
class AppendRollback {
 public:
  explicit AppendRollback(std::vector<T>* list) : list_(list), size_(list ? list->size() : 0) {}
  AppendRollback(const AppendRollback&) = delete;
  AppendRollback& operator=(const AppendRollback&) = delete;
  ~AppendRollback() {
    if (list_ != nullptr && !committed_) list_->resize(size_);
  }
  void commit() { committed_ = true; }

 private:
  std::vector<T>* list_;
  std::size_t size_;
  bool committed_ = false;
};

// End of the group of equal-cycle events that starts at `begin`.
std::size_t group_end(std::span<const ReceiveEvent> events, std::size_t begin) {
  std::size_t end = begin + 1;
  while (end < events.size() && events[end].cycle == events[begin].cycle) ++end;
  return end;
}

struct ControlPair {
  std::uint32_t xpic_value = 0;
  std::uint32_t pic_value = 0;
};

// The XPIC and PIC values of a two-event group, checked as a PicPair can carry them.
Result<ControlPair> pair_controls(const ReceiveEvent& a, const ReceiveEvent& b) {
  const ReceiveEvent* xpic = is_xpic_control(a.word) ? &a : is_xpic_control(b.word) ? &b : nullptr;
  const ReceiveEvent* pic = is_pic_control(a.word) ? &a : is_pic_control(b.word) ? &b : nullptr;
  if (pic == nullptr) return schedule_error("SENDPICP PIC control");
  if (xpic == nullptr) return schedule_error("SENDPICP XPIC control");
  if (a.cycle != b.cycle) return schedule_error("SENDPICP event time");
  return ControlPair{xpic_value(xpic->word), pic_value(pic->word)};
}

}  // namespace

Result<void> check_simultaneous_receive_controls(std::span<const ReceiveEvent> sorted) {
  for (std::size_t begin = 0; begin < sorted.size();) {
    const std::size_t end = group_end(sorted, begin);
    if (end - begin >= 3) return schedule_error("incompatible simultaneous receive controls");
    if (end - begin == 2) {
      const std::uint8_t a = sorted[begin].kind;
      const std::uint8_t b = sorted[begin + 1].kind;
      const auto is_mux = [](std::uint8_t kind) { return kind == kSourceEvent || kind == kTeardownEvent; };
      const bool compatible = (a == kPointerEvent && is_mux(b)) || (b == kPointerEvent && is_mux(a));
      if (!compatible) return schedule_error("incompatible simultaneous receive controls");
    }
    begin = end;
  }
  return {};
}

void append_delay_run(std::vector<std::uint32_t>& words, std::uint32_t cycles) {
  while (cycles > 0) {
    const std::uint32_t step = std::min(cycles, kMaxDelayCycles);
    words.push_back(delay_word(step));
    cycles -= step;
  }
}

Result<std::uint32_t> timed_advance_word(std::uint32_t word, std::uint32_t gap) {
  if (gap == 0) return schedule_error("zero event advance");
  const std::uint32_t field = gap - 1;
  switch (classify_word(word)) {
    case WordKind::Delay:
      if (field > 0x7FFFFu) return schedule_error("delay advance overflow");
      return (word & ~0x7FFFFu) | field;
    case WordKind::PicControl:
      if (field > 0x7Fu) return schedule_error("PIC delay advance overflow");
      return (word & ~(0x7Fu << 19)) | (field << 19);
    case WordKind::XpicControl:
      if (field > 0xFFFu) return schedule_error("XPIC delay advance overflow");
      return (word & ~(0xFFFu << 14)) | (field << 14);
    default:
      if (word >= 0x70000000u && word <= 0x7FFFFFFFu) return schedule_error("scheduled offset truncates a send");
      return schedule_error("first scheduled event is not a delay");
  }
}

Result<void> emit_sender_words(std::vector<std::uint32_t>& words, std::uint32_t& time,
                               SenderMessageProgress& message, std::uint32_t count, bool align) {
  if (count > message.remaining) return schedule_error("sender payload overflow");

  // Chunks: the first at most 64 words while the initial send is pending, every other at most 4 096.
  const std::uint32_t first_limit = message.initial_emitted ? kMaxOffsetSendWords : kMaxShortSendWords;
  const std::uint32_t first_chunk = std::min(count, first_limit);
  const std::uint32_t rest = count - first_chunk;
  const std::size_t chunk_count =
      count == 0 ? 0 : 1 + (rest + kMaxOffsetSendWords - 1) / kMaxOffsetSendWords;
  auto chunk_size = [&](std::size_t index) -> std::uint32_t {
    if (index == 0) return first_chunk;
    const std::uint32_t before = static_cast<std::uint32_t>(index - 1) * kMaxOffsetSendWords;
    return std::min(kMaxOffsetSendWords, rest - before);
  };

  // With alignment an odd total is fixed by splitting off one word of the last chunk larger than 1.
  std::optional<std::size_t> split;
  if (align && (words.size() + chunk_count) % 2 != 0) {
    for (std::size_t index = chunk_count; index-- > 0;) {
      if (chunk_size(index) > 1) {
        split = index;
        break;
      }
    }
    if (!split) return schedule_error("SENDPICP instruction alignment");
  }
  if (!message.initial_emitted && count > 0 && !message.initial_send_word) {
    return schedule_error("initial send size");
  }
  if (count == 0 && !message.initial_emitted) return schedule_error("unencodable initial send control");

  AppendRollback<std::uint32_t> rollback(&words);
  SenderMessageProgress progress = message;
  std::uint32_t now = time;
  auto emit_chunk = [&](std::uint32_t size) -> Result<void> {
    if (!progress.initial_emitted) {
      if (size < 1 || size > kMaxShortSendWords) return schedule_error("initial send size");
      words.push_back(with_short_send_words(*progress.initial_send_word, size));
      progress.initial_emitted = true;
    } else {
      words.push_back(offset_send_word(size, 0, progress.send_control));
    }
    const auto next = support::checked_add(now, size);
    if (!next) return schedule_error("sender payload overflow");
    now = *next;
    progress.remaining -= size;
    progress.sent += size;
    return {};
  };
  for (std::size_t index = 0; index < chunk_count; ++index) {
    const std::uint32_t size = chunk_size(index);
    if (split && *split == index) {
      TESSEL_TRY(emit_chunk(1));
      TESSEL_TRY(emit_chunk(size - 1));
    } else {
      TESSEL_TRY(emit_chunk(size));
    }
  }
  if (align && words.size() % 2 != 0) return schedule_error("SENDPICP instruction alignment");

  rollback.commit();
  message = progress;
  time = now;
  return {};
}

Result<void> append_sender_message(std::vector<std::uint32_t>& words, std::uint32_t& time,
                                   const ScheduledSenderRow& row, std::span<const ReceiveEvent> events) {
  if (row.payload_start < time) return schedule_error("plan delay order");

  // Read the row's sends up to its Return: one Explicit send opens the message.
  SenderMessageProgress message;
  std::uint32_t source_operand = 0;
  std::uint32_t payload = 0;
  for (std::size_t index = 0; index < kRowWords; ++index) {
    const std::uint32_t word = row.words[index];
    const WordKind kind = classify_word(word);
    if (kind == WordKind::Return) break;
    if (kind == WordKind::PicPairSend) {
      ++index;  // its second word is an operand
      continue;
    }
    std::uint32_t words_sent = 0;
    if (kind == WordKind::ExplicitSend) {
      if (message.initial_send_word) return schedule_error("multiple initial sends");
      message.initial_send_word = word;
      message.send_control = send_control(word);
      source_operand = send_operand(word);
      words_sent = short_send_words(word);
    } else if (kind == WordKind::OffsetSend) {
      words_sent = offset_send_words(word);
    } else {
      continue;
    }
    const auto sum = support::checked_add(payload, words_sent);
    if (!sum) return schedule_error("sender payload overflow");
    payload = *sum;
  }
  if (!message.initial_send_word) return schedule_error("sender payload");
  message.remaining = payload;

  AppendRollback<std::uint32_t> rollback(&words);
  append_delay_run(words, row.payload_start - time);
  std::uint32_t now = row.payload_start;

  for (std::size_t begin = 0; begin < events.size();) {
    const std::size_t end = group_end(events, begin);
    const std::size_t group = end - begin;
    if (group > 2) return schedule_error("incompatible simultaneous receive controls");
    const std::uint32_t cycle = events[begin].cycle;
    if (cycle == 0) return schedule_error("send control at phase entry");
    const std::uint32_t issue = cycle - 1;  // the carrying send starts one cycle before the control
    if (issue < now) return schedule_error("send control order");
    if (issue >= row.payload_end) return schedule_error("send control beyond payload");
    TESSEL_TRY(emit_sender_words(words, now, message, issue - now, group == 2));

    // The carrying send runs until the next group's send must start, or to the payload end.
    const std::uint32_t span_end = end < events.size() ? events[end].cycle - 1 : row.payload_end;
    if (span_end < now) return schedule_error("send control order");
    std::uint32_t span = std::min({span_end - now, message.remaining, kMaxShortSendWords});
    const bool next_is_pair = end + 1 < events.size() && events[end + 1].cycle == events[end].cycle;
    const std::size_t own_words = group == 2 ? 2 : 1;
    if (next_is_pair && (words.size() + own_words) % 2 != 0 && span > 1) --span;
    if (span == 0) return schedule_error("empty receive-control continuation");

    if (group == 1) {
      words.push_back(pic_send_word(span, events[begin].word));
    } else {
      const auto operand = support::checked_add(source_operand, message.sent);
      if (!operand) return schedule_error("SENDPICP source overflow");
      if (*operand > kMaxSendOperand) return schedule_error("SENDPICP operand");
      const ControlPair controls = TESSEL_TRY(pair_controls(events[begin], events[begin + 1]));
      const auto pair =
          pic_pair_send_words(span, *operand, message.send_control, controls.xpic_value, controls.pic_value);
      words.insert(words.end(), pair.begin(), pair.end());
    }
    const auto next = support::checked_add(now, span);
    if (!next) return schedule_error("sender payload overflow");
    now = *next;
    message.remaining -= span;
    message.sent += span;
    begin = end;
  }

  if (!message.initial_emitted && message.remaining == 0) return schedule_error("initial send size");
  TESSEL_TRY(emit_sender_words(words, now, message, message.remaining, false));
  if (now != row.payload_end) return schedule_error("sender payload horizon");

  rollback.commit();
  time = now;
  return {};
}

Result<void> append_receive_events_record(std::vector<std::uint32_t>& words, std::uint32_t& time,
                                          std::span<const ReceiveEvent> events, std::uint32_t end_cycle,
                                          bool align, CheckpointSink sink) {
  AppendRollback<std::uint32_t> word_rollback(&words);
  AppendRollback<Checkpoint> checkpoint_rollback(sink.checkpoints);
  std::uint32_t now = time;

  for (std::size_t begin = 0; begin < events.size();) {
    const std::size_t end = group_end(events, begin);
    const std::size_t group = end - begin;
    if (group > 2) return schedule_error("incompatible simultaneous receive controls");
    const std::uint32_t cycle = events[begin].cycle;
    // The last cycle this group's PicPair may extend to.
    const std::uint32_t limit = end < events.size() ? events[end].cycle - 1 : end_cycle;

    if (group == 2) {
      if (cycle == 0) return schedule_error("receive control at phase entry");
      const std::uint32_t issue = cycle - 1;
      if (issue < now) return schedule_error("plan delay order");
      const std::uint32_t wait = issue - now;
      if (align) {
        // As few delays as cover the wait, one more when the PicPair would land on an odd word.
        std::uint32_t delays = wait / kMaxDelayCycles + (wait % kMaxDelayCycles != 0 ? 1 : 0);
        if ((words.size() + delays) % 2 != 0) ++delays;
        if (wait < delays) return schedule_error("SENDPICP instruction alignment");
        std::uint32_t left = wait;
        for (std::uint32_t remaining_delays = delays; remaining_delays > 0; --remaining_delays) {
          const std::uint32_t step = std::min(kMaxDelayCycles, left - (remaining_delays - 1));
          words.push_back(delay_word(step));
          left -= step;
        }
      } else {
        append_delay_run(words, wait);
      }
      now = issue;
      if (limit < now) return schedule_error("receive control order");
      if (limit == now) return schedule_error("empty SENDPICP interval");
      const ControlPair controls = TESSEL_TRY(pair_controls(events[begin], events[begin + 1]));
      const std::uint32_t span = std::min(limit - now, kMaxShortSendWords);
      const auto pair = pic_pair_send_words(span, 0, 0, controls.xpic_value, controls.pic_value);
      words.insert(words.end(), pair.begin(), pair.end());
      now += span;  // ends at or before `limit`
    } else {
      const ReceiveEvent& event = events[begin];
      if (cycle < now) return schedule_error("receive event order");
      if (cycle == now) return schedule_error("receive control issue interval");
      const WordKind kind = classify_word(event.word);
      if (kind != WordKind::PicControl && kind != WordKind::XpicControl) {
        return schedule_error("receive timed event");
      }
      const std::uint32_t longest = kind == WordKind::PicControl ? kMaxPicControlCycles : kMaxXpicControlCycles;
      std::uint32_t gap = cycle - now;
      if (gap > longest) {
        append_delay_run(words, gap - longest);
        gap = longest;
      }
      words.push_back(TESSEL_TRY(timed_advance_word(event.word, gap)));
      now = cycle;
    }

    if (sink.checkpoints != nullptr) {
      sink.checkpoints->push_back(Checkpoint{
          .pair = group == 2 ? 1u : 0u,
          .limit = group == 2 ? limit : 0u,
          .sender_index = sink.sender_index,
          .receive_index = sink.first_receive_index + end,
          .word_count = words.size(),
          .cycle = now,
      });
    }
    begin = end;
  }

  if (end_cycle < now) return schedule_error("plan delay order");
  append_delay_run(words, end_cycle - now);

  word_rollback.commit();
  checkpoint_rollback.commit();
  time = end_cycle;
  return {};
}

Result<void> set_sender_control(ExchangeRow& row, std::uint32_t control) {
  if (control < 1 || control > 7) return schedule_error("send control");
  ExchangeRow patched = row;
  bool found = false;
  for (std::size_t index = 0; index < kRowWords; ++index) {
    const std::uint32_t word = patched[index];
    const WordKind kind = classify_word(word);
    const bool is_send = kind == WordKind::ExplicitSend || kind == WordKind::OffsetSend ||
                         (kind == WordKind::PicPairSend && (word & 3u) != 0);
    if (is_send) {
      patched[index] = (word & ~7u) | control;
      found = true;
    }
    // The second word of a PicPair is its operand, not a send of its own.
    if (kind == WordKind::PicPairSend) ++index;
  }
  if (!found) return schedule_error("sender payload");
  row = patched;
  return {};
}

Result<void> patch_sender_address(ExchangeRow& row, std::uint32_t byte_address) {
  for (std::uint32_t& word : row) {
    if (classify_word(word) != WordKind::ExplicitSend) continue;
    const std::uint32_t unit = (send_control(word) & 4u) != 0 ? 8 : 4;
    if (byte_address % unit != 0) break;
    const std::uint32_t operand = byte_address / unit;
    if (operand > kMaxSendOperand) break;
    word = (word & ~(0x3FFFFu << 3)) | (operand << 3);
    return {};
  }
  return std::unexpected(ExchangeError::address(byte_address));
}

Result<ExchangeRow> finalize_point_receiver(std::uint32_t patch_index, const std::array<std::uint32_t, 8>& words,
                                            std::uint16_t sender_physical) {
  if (patch_index >= 8 || sender_physical >= 8192) return schedule_error("point receiver patch index");
  ExchangeRow row{};
  std::copy(words.begin(), words.end(), row.begin());
  row[patch_index] = (row[patch_index] & ~0x1FFFu) | sender_physical;
  return row;
}

}  // namespace tessel_exchange
