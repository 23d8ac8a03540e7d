#include "tessel_exchange/tile_schedule.hpp"

#include <algorithm>

#include "support/checked.hpp"
#include "support/invariant.hpp"
#include "support/result.hpp"

namespace tessel_exchange {
namespace {

std::unexpected<ExchangeError> schedule_error(const char* reason) {
  return std::unexpected(ExchangeError::schedule(reason));
}

// First event at or after `cycle`.
std::vector<ReceiveEvent>::const_iterator first_event_from(const std::vector<ReceiveEvent>& receives,
                                                           std::uint32_t cycle) {
  return std::partition_point(receives.begin(), receives.end(),
                              [cycle](const ReceiveEvent& event) { return event.cycle < cycle; });
}

// Removes the first event of `kind` at `cycle`, if there is one.
void remove_event(std::vector<ReceiveEvent>& receives, std::uint32_t cycle, std::uint8_t kind) {
  for (auto it = first_event_from(receives, cycle); it != receives.end() && it->cycle == cycle; ++it) {
    if (it->kind == kind) {
      receives.erase(it);
      return;
    }
  }
}

// The paired format start event of a row read at base 0.
const ReceiveEvent* format_start_event(const ReceiveRowTiming& timing) {
  if (!timing.paired_start) return nullptr;
  for (const ReceiveEvent& event : timing.events) {
    if (event.kind == kPairedFormatEvent && event.cycle == *timing.paired_start) return &event;
  }
  return nullptr;
}

}  // namespace

Result<void> TileProgramSchedule::append_sender_at(const ExchangeRow& row, std::uint32_t offset) {
  const SenderRowTiming timing = TESSEL_TRY(sender_row_timing(row, offset));

  const auto at = std::partition_point(senders_.begin(), senders_.end(), [&](const ScheduledSenderRow& placed) {
    return placed.payload_start < timing.payload_start;
  });
  if (at != senders_.begin() && std::prev(at)->payload_end > timing.payload_start) {
    return schedule_error("overlapping outgoing messages");
  }
  if (at != senders_.end() && at->payload_start < timing.payload_end) {
    return schedule_error("overlapping outgoing messages");
  }
  // The initial send must run at least one cycle before a control can be folded into the message.
  const auto next_event = first_event_from(receives_, timing.payload_start);
  if (next_event != receives_.end() && next_event->cycle - timing.payload_start < 2) {
    return schedule_error("unencodable initial send control");
  }

  invalidate_encoding();
  horizon_ = std::max(horizon_, timing.end);
  senders_.insert(at, ScheduledSenderRow{row, timing.payload_start, timing.payload_end});
  return {};
}

Result<ScheduledReceiverWindow> TileProgramSchedule::append_receiver_at(const ExchangeRow& row, std::uint32_t offset,
                                                                        std::uint32_t rows) {
  const ReceiveRowTiming timing = TESSEL_TRY(receive_row_timing(row, 0));
  ScheduledReceiverWindow window = TESSEL_TRY(scheduled_receive_window(timing, offset, rows, open_stream_));

  const auto payload_bytes = support::checked_mul(rows, timing.paired ? 8 : 4);
  const auto end_address =
      payload_bytes ? support::checked_add(window.pointer_address, *payload_bytes) : std::nullopt;
  if (!end_address) return schedule_error("receive address overflow");

  if (open_stream_ &&
      (window.source_cycle < open_stream_->source_end || window.pointer_cycle < open_stream_->payload_end)) {
    return schedule_error("overlapping receive streams");
  }

  invalidate_encoding();
  if (open_stream_) {
    // Controls of the open stream that the new one takes over are not issued twice.
    const OpenReceiveStream& open = *open_stream_;
    if (window.continues_paired && open.has_paired_end == 1) {
      remove_event(receives_, open.paired_end, kPairedFormatEvent);
    }
    if (window.source_cycle == open.source_end) {
      if (!open.paired && !timing.paired) {
        remove_event(receives_, open.source_end, kTeardownEvent);
      } else if (open.paired && timing.paired && window.continues_paired) {
        remove_event(receives_, open.source_end, kPairedTeardownEvent);
      }
    }
  }
  for (const ReceiveEvent& event : window.events) {
    const auto at = std::partition_point(receives_.begin(), receives_.end(),
                                         [&](const ReceiveEvent& placed) { return placed.cycle <= event.cycle; });
    receives_.insert(at, event);
  }
  horizon_ = std::max(horizon_, window.window_end);

  OpenReceiveStream stream;
  if (const ReceiveEvent* format = format_start_event(timing)) {
    stream.has_format = 1;
    stream.format_value = pic_value(format->word) & 0x3FFFFu;
  }
  if (timing.paired_end) {
    // The window has already moved this cycle by the offset without overflow.
    stream.has_paired_end = 1;
    stream.paired_end = *timing.paired_end + offset;
  }
  stream.has_end_address = 1;
  stream.end_address = *end_address;
  stream.source_end = window.source_end;
  stream.payload_end = window.payload_end;
  stream.paired = timing.paired;
  open_stream_ = stream;
  return window;
}

void TileProgramSchedule::reserve_as_partner(std::uint32_t sender_end) {
  invalidate_encoding();
  busy_until_ = std::max(busy_until_, sender_end);
  horizon_ = std::max(horizon_, sender_end);
}

Result<std::shared_ptr<const EncodedSchedule>> TileProgramSchedule::encoded() {
  if (encoded_) return encoded_;
  EncodedSchedule program =
      TESSEL_TRY(encoding::build_scheduled_program(senders_, receives_, horizon_, previous_.get()));
  encoded_ = std::make_shared<const EncodedSchedule>(std::move(program));
  support::check_invariant(encoded_ != nullptr, "successful encoding was cached");
  return encoded_;
}

void TileProgramSchedule::invalidate_encoding() {
  if (encoded_) previous_ = std::move(encoded_);
  encoded_.reset();
}

}  // namespace tessel_exchange
