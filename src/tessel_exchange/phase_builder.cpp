#include "tessel_exchange/phase_builder.hpp"

#include <algorithm>
#include <limits>

#include "support/checked.hpp"
#include "support/result.hpp"
#include "tessel_exchange/diagnostic/tile_validation.hpp"

namespace tessel_exchange {

namespace {

// Receiver lists up to this length are checked for repeats by searching them.
constexpr std::size_t kSearchedReceivers = 16;

std::unexpected<ExchangeError> schedule_error(const char* reason) {
  return std::unexpected(ExchangeError::schedule(reason));
}

Result<void> check_receivers(const PhaseProgramBuilder& builder, std::uint16_t sender,
                             std::span<const std::uint16_t> receivers, const ExchangeRoute& route) {
  if (receivers.size() != route.receiver_rows.size()) return schedule_error("receiver row count");
  if (sender >= builder.tile_count()) return std::unexpected(ExchangeError::tile(sender));
  return {};
}

// Events of the tile sharing `cycle`: a binary search in the sorted list.
std::pair<std::vector<ReceiveEvent>::const_iterator, std::vector<ReceiveEvent>::const_iterator> events_at(
    const std::vector<ReceiveEvent>& receives, std::uint32_t cycle) {
  auto first = std::partition_point(receives.begin(), receives.end(),
                                    [cycle](const ReceiveEvent& e) { return e.cycle < cycle; });
  auto last = std::partition_point(first, receives.end(), [cycle](const ReceiveEvent& e) { return e.cycle == cycle; });
  return {first, last};
}

// Whether appending the window removes the tile's event `existing`: the open stream's format end when
// the window continues its paired stream, and its teardown when the new source starts where the old
// one ends.
bool replaced_by_window(const std::optional<OpenReceiveStream>& open, const ScheduledReceiverWindow& window,
                        bool row_paired, const ReceiveEvent& existing) {
  if (!open) return false;
  if (window.continues_paired && open->has_paired_end == 1 && existing.cycle == open->paired_end &&
      existing.kind == kPairedFormatEvent)
    return true;
  if (window.source_cycle != open->source_end || existing.cycle != open->source_end) return false;
  if (!open->paired && !row_paired) return existing.kind == kTeardownEvent;
  if (open->paired && row_paired && window.continues_paired) return existing.kind == kPairedTeardownEvent;
  return false;
}

// A pointer control may share its cycle with a source select or a teardown.
bool compatible_pair(std::uint8_t a, std::uint8_t b) {
  const auto mux = [](std::uint8_t kind) { return kind == kSourceEvent || kind == kTeardownEvent; };
  return (a == kPointerEvent && mux(b)) || (b == kPointerEvent && mux(a));
}

bool window_fits(const TileProgramSchedule& tile, const ScheduledReceiverWindow& window, bool row_paired) {
  const auto& receives = tile.receives();
  const auto& senders = tile.senders();
  for (const ReceiveEvent& event : window.events) {
    auto [first, last] = events_at(receives, event.cycle);
    for (auto it = first; it != last; ++it)
      if (!replaced_by_window(tile.open_stream(), window, row_paired, *it) && !compatible_pair(event.kind, it->kind))
        return false;
    // No control at a send's first cycle or the one after it.
    auto row = std::partition_point(senders.begin(), senders.end(), [&](const ScheduledSenderRow& r) {
      return r.payload_start < event.cycle - std::min<std::uint32_t>(event.cycle, 1);
    });
    for (; row != senders.end() && row->payload_start <= event.cycle; ++row)
      if (row->payload_start == event.cycle || row->payload_start + 1 == event.cycle) return false;
  }
  return true;
}

Result<std::uint32_t> next_offset(std::uint32_t offset) {
  if (offset == std::numeric_limits<std::uint32_t>::max()) return schedule_error("receive offset overflow");
  return offset + 1;
}

}  // namespace

PhaseProgramBuilder PhaseProgramBuilder::create(std::uint16_t tile_count) { return PhaseProgramBuilder(tile_count); }

PhaseProgramBuilder PhaseProgramBuilder::with_validation_budget(std::uint64_t budget) && {
  validation_budget_ = std::make_shared<std::atomic<std::uint64_t>>(budget);
  return std::move(*this);
}

std::uint32_t PhaseProgramBuilder::event_cycles() const {
  std::uint32_t cycles = 0;
  for (const TileProgramSchedule& tile : tiles_) cycles = std::max(cycles, tile.horizon());
  return cycles;
}

Result<PhaseTransferTiming> PhaseProgramBuilder::transfer_timing_at(std::uint16_t sender,
                                                                    std::span<const std::uint16_t> receivers,
                                                                    const ExchangeRoute& route, std::uint32_t offset,
                                                                    std::uint32_t rows) const {
  TESSEL_TRY(check_receivers(*this, sender, receivers, route));
  const SenderRowTiming sending = TESSEL_TRY(sender_row_timing(route.sender_row, offset));
  PhaseTransferTiming timing;
  timing.receive_starts.reserve(receivers.size());
  timing.receive_payload_ends.reserve(receivers.size());
  timing.receive_ends.reserve(receivers.size());
  timing.sender_payload_start = sending.payload_start;
  timing.sender_payload_end = sending.payload_end;
  timing.sender_end = sending.end;
  timing.end = sending.end;
  for (std::size_t k = 0; k < receivers.size(); ++k) {
    if (receivers[k] >= tiles_.size()) return std::unexpected(ExchangeError::tile(receivers[k]));
    const ReceiveRowTiming row = TESSEL_TRY(receiver_row_timing(k, route.receiver_rows[k]));
    const ScheduledReceiverWindow window =
        TESSEL_TRY(scheduled_receive_window(row, offset, rows, tiles_[receivers[k]].open_stream()));
    timing.receive_starts.push_back(window.pointer_cycle);
    timing.receive_payload_ends.push_back(window.payload_end);
    timing.receive_ends.push_back(window.window_end);
    timing.end = std::max(timing.end, window.window_end);
  }
  return timing;
}

Result<ReceiveRowTiming> PhaseProgramBuilder::receiver_row_timing(std::size_t position, const ExchangeRow& row) const {
  if (position < row_timings_.size() && row_timings_[position].known && row_timings_[position].row == row)
    return row_timings_[position].timing;
  ReceiveRowTiming timing = TESSEL_TRY(receive_row_timing(row, 0));
  if (position >= row_timings_.size()) row_timings_.resize(position + 1);
  row_timings_[position] = {true, row, timing};
  return timing;
}

Result<std::uint32_t> PhaseProgramBuilder::constrained_offset(std::uint16_t sender,
                                                              std::span<const std::uint16_t> partners,
                                                              std::span<const std::uint16_t> receivers,
                                                              const ExchangeRoute& route, std::uint32_t rows,
                                                              std::uint32_t candidate, std::uint32_t payload_start,
                                                              std::uint32_t payload_end) const {
  const TileProgramSchedule& source = tiles_[sender];
  std::uint32_t u = candidate;
  for (;;) {
    // The sender's payload must fit between its placed rows, not next to a control.
    std::uint32_t m = std::max(u, source.busy_until() > payload_start ? source.busy_until() - payload_start : 0);
    for (;;) {
      const auto start = support::checked_add(m, payload_start);
      const auto end = support::checked_add(m, payload_end);
      if (!start || !end) return schedule_error("send offset overflow");
      const auto& senders = source.senders();
      auto row = std::partition_point(senders.begin(), senders.end(),
                                      [&](const ScheduledSenderRow& r) { return r.payload_end <= *start; });
      if (row != senders.end() && row->payload_start < *end) {
        if (row->payload_end < payload_start) return schedule_error("send offset order");
        m = row->payload_end - payload_start;
        continue;
      }
      const auto& receives = source.receives();
      auto next = std::partition_point(receives.begin(), receives.end(),
                                       [&](const ReceiveEvent& e) { return e.cycle < *start; });
      if (next != source.receives().end() && next->cycle - *start < 2) {
        if (m == std::numeric_limits<std::uint32_t>::max()) return schedule_error("send offset overflow");
        ++m;
        continue;
      }
      break;
    }

    std::uint32_t o = m;
    for (std::uint16_t partner : partners) {
      if (partner >= tiles_.size()) return std::unexpected(ExchangeError::tile(partner));
      const TileProgramSchedule& tile = tiles_[partner];
      o = std::max(o, tile.busy_until());
      if (!tile.senders().empty()) o = std::max(o, tile.senders().back().payload_end);
    }

    std::uint32_t v = o;
    for (std::size_t k = 0; k < receivers.size(); ++k) {
      if (receivers[k] >= tiles_.size()) return std::unexpected(ExchangeError::tile(receivers[k]));
      const TileProgramSchedule& tile = tiles_[receivers[k]];
      const ReceiveRowTiming timing = TESSEL_TRY(receiver_row_timing(k, route.receiver_rows[k]));
      if (const auto& open = tile.open_stream()) {
        const std::optional<std::uint32_t> source_cycle = timing.source ? timing.source : timing.paired_start;
        if (!source_cycle) return schedule_error("receive source timing");
        if (!timing.pointer) return schedule_error("receive pointer event");
        const auto raise = [&v](std::uint32_t wanted, std::uint32_t relative) {
          if (wanted > relative) v = std::max(v, wanted - relative);
        };
        raise(open->source_end, *source_cycle);
        raise(open->payload_end, *timing.pointer);
        if (!open->paired && timing.paired_start) raise(open->payload_end, *timing.paired_start);
      }
      for (;;) {
        const ScheduledReceiverWindow window =
            TESSEL_TRY(scheduled_receive_window(timing, v, rows, tile.open_stream()));
        if (window_fits(tile, window, timing.paired)) break;
        v = TESSEL_TRY(next_offset(v));
      }
    }
    if (v == u) return u;
    u = v;
  }
}

Result<std::uint32_t> PhaseProgramBuilder::earliest_transfer_offset_deferred(
    std::uint16_t sender, std::span<const std::uint16_t> partners, std::span<const std::uint16_t> receivers,
    const ExchangeRoute& route, std::uint32_t rows, std::uint32_t first_allowed) const {
  TESSEL_TRY(check_receivers(*this, sender, receivers, route));
  const SenderRowTiming relative = TESSEL_TRY(sender_row_timing(route.sender_row, 0));
  return constrained_offset(sender, partners, receivers, route, rows, first_allowed, relative.payload_start,
                            relative.payload_end);
}

Result<void> PhaseProgramBuilder::charge_validation(std::uint16_t sender,
                                                    std::span<const std::uint16_t> receivers) const {
  if (!validation_budget_) return {};
  std::uint64_t cost = 0;
  const auto add_tile = [&](std::uint16_t tile) {
    const std::uint64_t entries = tiles_[tile].senders().size() + tiles_[tile].receives().size() + 1;
    cost = cost > std::numeric_limits<std::uint64_t>::max() - entries ? std::numeric_limits<std::uint64_t>::max()
                                                                       : cost + entries;
  };
  add_tile(sender);
  for (std::uint16_t receiver : receivers) add_tile(receiver);
  std::uint64_t remaining = validation_budget_->load();
  do {
    if (remaining < cost) return std::unexpected(ExchangeError::validation_budget_exceeded());
  } while (!validation_budget_->compare_exchange_weak(remaining, remaining - cost));
  return {};
}

Result<void> PhaseProgramBuilder::trial_encoding(std::uint16_t sender, std::span<const std::uint16_t> receivers,
                                                 const ExchangeRoute& route, std::uint32_t offset, std::uint32_t rows) {
  last_trial_.reset();
  // The originals keep a successful encoding cached, so that each copy resumes from it.
  (void)tiles_[sender].encoded();
  TileProgramSchedule sending = tiles_[sender];
  TESSEL_TRY(sending.append_sender_at(route.sender_row, offset));
  TESSEL_TRY(sending.encoded());
  std::vector<TileProgramSchedule> schedules;
  schedules.reserve(1 + receivers.size());
  bool loopback = false;
  for (std::size_t k = 0; k < receivers.size(); ++k) {
    const std::uint16_t receiver = receivers[k];
    loopback = loopback || receiver == sender;
    if (receiver != sender) (void)tiles_[receiver].encoded();
    TileProgramSchedule receiving = receiver == sender ? sending : tiles_[receiver];
    TESSEL_TRY(receiving.append_receiver_at(route.receiver_rows[k], offset, rows));
    TESSEL_TRY(receiving.encoded());
    schedules.push_back(std::move(receiving));
  }
  // A loopback tile encodes here from the sending copy, but would resume from its original when
  // appended: its copy is not kept, so that every committed encoding is the one the append yields.
  if (!loopback) {
    schedules.insert(schedules.begin(), std::move(sending));
    last_trial_ = TrialTiles{sender, {receivers.begin(), receivers.end()}, route, offset, rows, std::move(schedules)};
  }
  return {};
}

bool PhaseProgramBuilder::trial_matches(const TrialTiles& trial, std::uint16_t sender,
                                        std::span<const std::uint16_t> receivers, const ExchangeRoute& route,
                                        std::uint32_t offset, std::uint32_t rows) {
  return trial.sender == sender && trial.offset == offset && trial.rows == rows &&
         std::equal(receivers.begin(), receivers.end(), trial.receivers.begin(), trial.receivers.end()) &&
         trial.route == route;
}

Result<std::uint32_t> PhaseProgramBuilder::earliest_transfer_offset(std::uint16_t sender,
                                                                    std::span<const std::uint16_t> partners,
                                                                    std::span<const std::uint16_t> receivers,
                                                                    const ExchangeRoute& route, std::uint32_t rows,
                                                                    std::uint32_t first_allowed) {
  TESSEL_TRY(check_receivers(*this, sender, receivers, route));
  const SenderRowTiming relative = TESSEL_TRY(sender_row_timing(route.sender_row, 0));
  std::uint32_t u = first_allowed;
  for (;;) {
    u = TESSEL_TRY(
        constrained_offset(sender, partners, receivers, route, rows, u, relative.payload_start, relative.payload_end));
    TESSEL_TRY(charge_validation(sender, receivers));
    auto trial = trial_encoding(sender, receivers, route, u, rows);
    if (trial) return u;
    if (!trial.error().is_schedule("SENDPICP instruction alignment")) return std::unexpected(trial.error());
    u = TESSEL_TRY(next_offset(u));
  }
}

Result<PhaseTransferTiming> PhaseProgramBuilder::append_transfer_at(std::uint16_t sender,
                                                                    std::span<const std::uint16_t> partners,
                                                                    std::span<const std::uint16_t> receivers,
                                                                    const ExchangeRoute& route, std::uint32_t offset,
                                                                    std::uint32_t rows) {
  // A trial encoding only prepares the append that directly follows it. Its copies are what appending
  // the same transfer at the same offset to the unchanged tiles gives, with the encodings done.
  std::optional<TrialTiles> trial = std::move(last_trial_);
  last_trial_.reset();
  const bool from_trial = trial && trial_matches(*trial, sender, receivers, route, offset, rows);
  PhaseTransferTiming timing = TESSEL_TRY(transfer_timing_at(sender, receivers, route, offset, rows));
  TESSEL_TRY(check_receivers(*this, sender, receivers, route));

  // Changes are made on copies and committed together.
  std::vector<std::pair<std::uint16_t, TileProgramSchedule>> staged;
  staged.reserve(1 + partners.size() + receivers.size());
  const auto find_staged = [&](std::uint16_t tile) -> TileProgramSchedule* {
    for (auto& [index, schedule] : staged)
      if (index == tile) return &schedule;
    return nullptr;
  };
  if (from_trial) {
    staged.emplace_back(sender, std::move(trial->schedules[0]));
  } else {
    staged.emplace_back(sender, tiles_[sender]);
    TESSEL_TRY(staged.back().second.append_sender_at(route.sender_row, offset));
  }

  for (std::uint16_t partner : partners) {
    if (partner == sender || std::find(receivers.begin(), receivers.end(), partner) != receivers.end() ||
        find_staged(partner))
      return std::unexpected(ExchangeError::duplicate_tile());
    if (partner >= tiles_.size()) return std::unexpected(ExchangeError::tile(partner));
    staged.emplace_back(partner, tiles_[partner]);
    staged.back().second.reserve_as_partner(timing.sender_end);
  }
  // Receivers met so far: the usual handful is searched, a long multicast marks them in a table.
  const bool by_table = receivers.size() > kSearchedReceivers;
  std::vector<bool> received(by_table ? tiles_.size() : 0, false);
  for (std::size_t k = 0; k < receivers.size(); ++k) {
    const std::uint16_t receiver = receivers[k];
    const bool seen = by_table && receiver < tiles_.size()
                          ? received[receiver]
                          : std::find(receivers.begin(), receivers.begin() + static_cast<std::ptrdiff_t>(k), receiver) !=
                                receivers.begin() + static_cast<std::ptrdiff_t>(k);
    if (seen) return std::unexpected(ExchangeError::duplicate_tile());
    if (by_table && receiver < tiles_.size()) received[receiver] = true;
    if (receiver == sender) {
      TESSEL_TRY(staged.front().second.append_receiver_at(route.receiver_rows[k], offset, rows));
      continue;
    }
    if (find_staged(receiver) != nullptr) return std::unexpected(ExchangeError::duplicate_tile());
    if (receiver >= tiles_.size()) return std::unexpected(ExchangeError::tile(receiver));
    if (from_trial) {
      staged.emplace_back(receiver, std::move(trial->schedules[1 + k]));
      continue;
    }
    staged.emplace_back(receiver, tiles_[receiver]);
    TESSEL_TRY(staged.back().second.append_receiver_at(route.receiver_rows[k], offset, rows));
  }
  for (auto& [index, schedule] : staged) tiles_[index] = std::move(schedule);
  return timing;
}

Result<PhasePrograms> PhaseProgramBuilder::finish() {
  PhasePrograms out;
  out.tile_horizons.reserve(tiles_.size());
  for (const TileProgramSchedule& tile : tiles_) {
    out.tile_horizons.push_back(tile.horizon());
    out.horizon = std::max(out.horizon, tile.horizon());
  }
  out.programs.resize(tiles_.size());
  for (std::size_t t = 0; t < tiles_.size(); ++t) {
    if (tiles_[t].horizon() == 0) continue;
    std::shared_ptr<const EncodedSchedule> encoded = TESSEL_TRY(tiles_[t].encoded());
    TESSEL_TRY(diagnostic::validate_tile_program(t, tiles_[t], encoded->words));
    out.programs[t] = encoded->words;
  }
  return out;
}

}  // namespace tessel_exchange
