#include "tessel_exchange/encoding/program.hpp"

#include <algorithm>
#include <optional>

#include "support/result.hpp"

namespace tessel_exchange::encoding {
namespace {

bool by_payload_start(const ScheduledSenderRow& a, const ScheduledSenderRow& b) {
  return a.payload_start < b.payload_start;
}
bool by_cycle(const ReceiveEvent& a, const ReceiveEvent& b) { return a.cycle < b.cycle; }

template <class T>
std::size_t common_prefix(const std::vector<T>& a, const std::vector<T>& b) {
  const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return static_cast<std::size_t>(mismatch.first - a.begin());
}

// Position in the timeline from which encoding continues.
struct EncodingCursor {
  std::uint32_t time = 0;
  std::size_t sender_index = 0;
  std::size_t receive_index = 0;
};

// Whether encoding `next` from checkpoint `checkpoint` gives what a full encoding of `next` gives at
// that point, when the previous encoding agrees with `next` on `same_senders` leading rows and
// `same_receives` leading events.
bool checkpoint_still_holds(const Checkpoint& checkpoint, const EncodedSchedule& next, std::uint32_t horizon,
                            std::size_t same_senders, std::size_t same_receives) {
  if (checkpoint.sender_index > same_senders || checkpoint.receive_index > same_receives) return false;
  // The encoding stretch the checkpoint lies in ends at the next row's payload start.
  const std::uint32_t bound = checkpoint.sender_index < next.senders.size()
                                  ? next.senders[checkpoint.sender_index].payload_start
                                  : horizon;
  if (checkpoint.cycle > bound) return false;
  const ReceiveEvent* following =
      checkpoint.receive_index < next.receives.size() ? &next.receives[checkpoint.receive_index] : nullptr;
  if (following != nullptr && following->cycle <= checkpoint.cycle) return false;
  if (checkpoint.receive_index > 0 && next.receives[checkpoint.receive_index - 1].cycle >= bound) return false;
  if (checkpoint.pair == 1) {
    // A control-only PicPair stretches up to the next control or the stretch end: that limit must
    // not have moved.
    std::uint32_t limit = bound;
    if (following != nullptr && following->cycle < bound) limit = following->cycle == 0 ? 0 : following->cycle - 1;
    if (checkpoint.limit != limit) return false;
  }
  return true;
}

// Copies the prefix of `previous` up to its latest checkpoint that still holds for `next`.
std::optional<EncodingCursor> resume_from(const EncodedSchedule& previous, EncodedSchedule& next,
                                          std::uint32_t horizon, std::size_t same_senders,
                                          std::size_t same_receives) {
  for (std::size_t index = previous.checkpoints.size(); index-- > 0;) {
    const Checkpoint& checkpoint = previous.checkpoints[index];
    if (!checkpoint_still_holds(checkpoint, next, horizon, same_senders, same_receives)) continue;
    const auto words_end = previous.words.begin() + static_cast<std::ptrdiff_t>(checkpoint.word_count);
    next.words.reserve(previous.words.size() + kRowWords);
    next.words.assign(previous.words.begin(), words_end);
    const auto checkpoints_end = previous.checkpoints.begin() + static_cast<std::ptrdiff_t>(index + 1);
    next.checkpoints.reserve(previous.checkpoints.size() + kRowWords);
    next.checkpoints.assign(previous.checkpoints.begin(), checkpoints_end);
    return EncodingCursor{checkpoint.cycle, checkpoint.sender_index, checkpoint.receive_index};
  }
  return std::nullopt;
}

// Sorts `list` stably by `less` unless it already is, and returns the number of its leading entries
// equal to those of `reference`, a list that is known to be sorted.
template <class T, class Less>
std::size_t sort_and_match(std::vector<T>& list, const std::vector<T>* reference, Less less) {
  std::size_t same = reference != nullptr ? common_prefix(*reference, list) : 0;
  const auto unchecked = list.begin() + static_cast<std::ptrdiff_t>(same > 0 ? same - 1 : 0);
  if (!std::is_sorted(unchecked, list.end(), less)) {
    std::stable_sort(list.begin(), list.end(), less);
    same = reference != nullptr ? common_prefix(*reference, list) : 0;
  }
  return same;
}

// End of the events from `begin` on whose cycle is not above `cycle`.
std::size_t events_through(const std::vector<ReceiveEvent>& receives, std::size_t begin, std::uint32_t cycle) {
  std::size_t end = begin;
  while (end < receives.size() && receives[end].cycle <= cycle) ++end;
  return end;
}

}  // namespace

Result<EncodedSchedule> build_scheduled_program(std::span<const ScheduledSenderRow> senders,
                                                std::span<const ReceiveEvent> receives, std::uint32_t horizon,
                                                const EncodedSchedule* previous) {
  EncodedSchedule result;
  result.senders.assign(senders.begin(), senders.end());
  result.receives.assign(receives.begin(), receives.end());
  // Leading rows and events equal to the previous encoding's were sorted and checked when it was
  // built: only the rest needs a look.
  const std::vector<ScheduledSenderRow>* previous_senders = previous ? &previous->senders : nullptr;
  const std::vector<ReceiveEvent>* previous_receives = previous ? &previous->receives : nullptr;
  const std::size_t same_senders = sort_and_match(result.senders, previous_senders, by_payload_start);
  const std::size_t same_receives = sort_and_match(result.receives, previous_receives, by_cycle);

  for (std::size_t index = std::max<std::size_t>(same_senders, 1); index < result.senders.size(); ++index) {
    if (result.senders[index].payload_start < result.senders[index - 1].payload_end) {
      return std::unexpected(ExchangeError::schedule("overlapping outgoing messages"));
    }
  }
  // Recheck from the start of the group that holds the last unchanged event.
  std::size_t unchecked = same_receives > 0 ? same_receives - 1 : 0;
  while (unchecked > 0 && result.receives[unchecked - 1].cycle == result.receives[unchecked].cycle) --unchecked;
  TESSEL_TRY(check_simultaneous_receive_controls(std::span(result.receives).subspan(unchecked)));

  EncodingCursor cursor;
  if (previous != nullptr) {
    const std::optional<EncodingCursor> resumed =
        resume_from(*previous, result, horizon, same_senders, same_receives);
    if (resumed) cursor = *resumed;
  }
  if (cursor.sender_index == 0 && cursor.receive_index == 0) {
    // Most rows take two or three words and most controls one or two.
    result.words.reserve(3 * result.senders.size() + 2 * result.receives.size() + 2);
    result.checkpoints.reserve(result.senders.size() + result.receives.size());
  }

  const std::span<const ReceiveEvent> events(result.receives);
  std::vector<std::uint32_t>& words = result.words;
  for (std::size_t row_index = cursor.sender_index; row_index < result.senders.size(); ++row_index) {
    const ScheduledSenderRow& row = result.senders[row_index];
    const std::size_t before_row = events_through(result.receives, cursor.receive_index, row.payload_start);
    TESSEL_TRY(append_receive_events_record(
        words, cursor.time, events.subspan(cursor.receive_index, before_row - cursor.receive_index),
        row.payload_start, true, CheckpointSink{&result.checkpoints, row_index, cursor.receive_index}));
    const std::size_t in_row = events_through(result.receives, before_row, row.payload_end);
    TESSEL_TRY(append_sender_message(words, cursor.time, row, events.subspan(before_row, in_row - before_row)));
    cursor.receive_index = in_row;
    result.checkpoints.push_back(Checkpoint{
        .pair = 0,
        .limit = 0,
        .sender_index = row_index + 1,
        .receive_index = in_row,
        .word_count = words.size(),
        .cycle = cursor.time,
    });
  }
  TESSEL_TRY(append_receive_events_record(words, cursor.time, events.subspan(cursor.receive_index), horizon, true,
                                          CheckpointSink{&result.checkpoints, result.senders.size(),
                                                         cursor.receive_index}));
  words.push_back(kReturnWord);
  return result;
}

}  // namespace tessel_exchange::encoding
