#include "tessel_codegen/exchange/materialized_schedule.hpp"

#include <algorithm>
#include <limits>

#include "support/invariant.hpp"
#include "support/result.hpp"

namespace tessel_codegen::exchange {

namespace {

using tessel_exchange::ExchangeRoute;
using tessel_exchange::ExchangeRow;
using tessel_exchange::PhaseTransferTiming;

constexpr std::uint64_t kMinimumValidationBudget = 0x20000000;

std::uint64_t saturating_add64(std::uint64_t a, std::uint64_t b) {
  std::uint64_t out;
  return __builtin_add_overflow(a, b, &out) ? std::numeric_limits<std::uint64_t>::max() : out;
}

std::uint64_t saturating_mul64(std::uint64_t a, std::uint64_t b) {
  std::uint64_t out;
  return __builtin_mul_overflow(a, b, &out) ? std::numeric_limits<std::uint64_t>::max() : out;
}

// Writes the receive address into the first receive-pointer control of a receiver row.
tessel_exchange::Result<void> patch_receiver_address(ExchangeRow& row, std::uint32_t address) {
  if (address % 4 != 0 || address > 0xFFFFC) return std::unexpected(ExchangeError::address(address));
  const std::uint32_t pointer = address / 4;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const std::uint32_t word = row[i];
    if (word < 0xF0000000u) {
      if ((word & 0xFC040000u) == 0x60000000u) {
        row[i] = (word & 0x63F80000u) | pointer;
        return {};
      }
      continue;
    }
    // A two-word PicPair send: its second word carries the PIC value unless it is a format value.
    if ((word & 0x08000000u) == 0) {
      if (i + 1 >= row.size()) return std::unexpected(ExchangeError::schedule("truncated SENDPICP payload"));
      row[i + 1] = (row[i + 1] & 0xFFFC0000u) | pointer;
      return {};
    }
    ++i;
  }
  return std::unexpected(ExchangeError::address(address));
}

bool loopback_shares_memory(const PendingTransfer& t) {
  const bool single = t.destinations.size() == 1;
  for (const auto& [tile, address] : t.destinations) {
    if (tile != t.source) continue;
    if (single || t.width == ExchangeItemWidth::Paired64) return true;
    const auto range = span_element_range(address, t.words);
    if (!range) continue;
    auto it = std::lower_bound(t.source_elements.begin(), t.source_elements.end(), range->first);
    if (it != t.source_elements.end() && *it <= range->second) return true;
  }
  return false;
}

}  // namespace

std::uint64_t validation_budget_for(std::uint16_t tile_count, const std::vector<PendingTransfer>& transfers) {
  std::vector<std::uint64_t> sends(tile_count, 0);
  std::vector<std::uint64_t> receives(tile_count, 0);
  for (const PendingTransfer& t : transfers) {
    support::check_invariant(t.source < tile_count, "index out of range");
    ++sends[t.source];
    for (const auto& destination : t.destinations) {
      support::check_invariant(destination.first < tile_count, "index out of range");
      ++receives[destination.first];
    }
  }
  std::uint64_t work = 0;
  for (std::size_t tile = 0; tile < tile_count; ++tile) {
    const std::uint64_t s = sends[tile];
    const std::uint64_t r = receives[tile];
    const std::uint64_t weight = saturating_add64(saturating_add64(s, saturating_mul64(3, r)), 1);
    work = saturating_add64(work, saturating_mul64(s + r, weight));
  }
  const std::uint64_t budget = work >= (std::uint64_t{1} << 62) ? std::numeric_limits<std::uint64_t>::max() : 4 * work;
  return std::max(budget, kMinimumValidationBudget);
}

MaterializedSchedule MaterializedSchedule::create(std::uint16_t tile_count, const std::vector<PendingTransfer>& transfers) {
  MaterializedSchedule schedule{
      tessel_exchange::PhaseProgramBuilder::create(tile_count).with_validation_budget(
          validation_budget_for(tile_count, transfers)),
      std::vector<TileReadiness>(tile_count),
      std::vector<TileMemorySchedule>(tile_count),
      std::vector<std::vector<ExchangeActivity>>(tile_count),
      {},
      std::vector<std::optional<TransferPlacement>>(transfers.size()),
      0};
  schedule.order.reserve(transfers.size());
  return schedule;
}

Result<std::uint32_t> MaterializedSchedule::append(const tessel_exchange::Topology& topology,
                                                   const std::vector<PendingTransfer>& transfers,
                                                   const std::vector<std::uint32_t>& incoming_bases,
                                                   const std::vector<std::size_t>& receive_counts, std::size_t index,
                                                   std::uint32_t not_before, bool incremental_validation,
                                                   std::vector<LastTransfer>& last) {
  support::check_invariant(index < transfers.size(), "index out of range");
  const PendingTransfer& t = transfers[index];
  const std::uint16_t s = t.source;
  support::check_invariant(s < tile_ready.size(), "index out of range");
  const std::uint32_t w = t.words;
  const bool paired = t.width == ExchangeItemWidth::Paired64;

  // The critical tile: the involved tile that becomes free last, lowest number on ties.
  std::uint16_t critical = s;
  std::uint32_t readiness = tile_ready[s].send;
  const auto consider = [&](std::uint16_t tile, std::uint32_t ready) {
    if (ready > readiness || (ready == readiness && tile < critical)) {
      critical = tile;
      readiness = ready;
    }
  };
  if (t.paired_source) consider(*t.paired_source, tile_ready[*t.paired_source].send);
  for (const auto& destination : t.destinations) consider(destination.first, tile_ready[destination.first].receive);
  if (readiness < not_before) critical = s;
  const bool sending_side = critical == s || (t.paired_source && critical == *t.paired_source);
  const std::optional<std::size_t> predecessor = sending_side ? last[critical].last_sender : last[critical].last_receiver;

  support::check_invariant(!t.source_addresses.empty(), "transfer has a source address");
  if (t.source_elements.empty() || w == 0) return std::unexpected(ExchangeLoweringError::unaligned_payload());
  if (loopback_shares_memory(t))
    return std::unexpected(ExchangeLoweringError::invariant(
        "multicast loopback requires separate source and destination memory elements"));
  if (paired && w % 2 != 0) return std::unexpected(ExchangeLoweringError::unaligned_payload());
  const std::uint32_t rows = paired ? w / 2 : w;

  std::vector<std::uint16_t> receivers;
  receivers.reserve(t.destinations.size());
  for (const auto& destination : t.destinations) receivers.push_back(destination.first);

  std::vector<std::uint16_t> partners;
  ExchangeRoute route;
  bool point_to_point = false;
  if (paired) {
    partners.push_back(TESSEL_TRY(topology.paired_logical(s)));
    route = TESSEL_TRY(topology.paired_multicast(s, receivers, rows));
  } else if (t.destinations.size() == 1 && receive_counts[t.destinations[0].first] == 1 &&
             incoming_bases[t.destinations[0].first] == t.destinations[0].second) {
    const tessel_exchange::PointToPointRoute point = TESSEL_TRY(topology.point_to_point(s, receivers[0], w));
    route.sender_row = point.sender_row;
    route.receiver_rows.push_back(TESSEL_TRY(tessel_exchange::finalize_point_receiver(
        point.receiver_patch_index, point.receiver_words, topology.physical_tiles()[s])));
    point_to_point = true;
  } else {
    route = TESSEL_TRY(topology.multicast(s, receivers, w, 0));
  }
  TESSEL_TRY(tessel_exchange::patch_sender_address(route.sender_row, t.source_addresses.front()));
  if (!point_to_point) {
    const std::size_t patched = std::min(route.receiver_rows.size(), t.destinations.size());
    for (std::size_t k = 0; k < patched; ++k)
      TESSEL_TRY(patch_receiver_address(route.receiver_rows[k], t.destinations[k].second));
  }

  // Alternate the programs' earliest offset and the memory-safe offset until they agree.
  std::uint32_t q = not_before;
  for (;;) {
    const std::uint32_t o =
        incremental_validation
            ? TESSEL_TRY(builder.earliest_transfer_offset(s, partners, receivers, route, rows, q))
            : TESSEL_TRY(builder.earliest_transfer_offset_deferred(s, partners, receivers, route, rows, q));
    const PhaseTransferTiming timing = TESSEL_TRY(builder.transfer_timing_at(s, receivers, route, o, rows));
    const std::uint32_t m = TESSEL_TRY(memory_safe_transfer_offset(memory, t, timing, o));
    if (m == q) break;
    q = m;
  }

  const PhaseTransferTiming timing = TESSEL_TRY(builder.append_transfer_at(s, partners, receivers, route, q, rows));
  std::uint32_t end = timing.sender_payload_end;
  for (std::uint32_t receive_end : timing.receive_payload_ends) end = std::max(end, receive_end);

  const std::size_t considered = std::min(t.destinations.size(), timing.receive_starts.size());
  memory[s].reads.push_back({t.source_elements, timing.sender_payload_start, timing.sender_end});
  for (std::size_t k = 0; k < considered; ++k) {
    const auto [tile, address] = t.destinations[k];
    memory[tile].writes.push_back(
        {span_memory_elements(address, w), timing.receive_starts[k], timing.receive_ends[k]});
  }

  if (index > std::numeric_limits<std::uint32_t>::max()) return std::unexpected(ExchangeLoweringError::overflow());
  const auto transfer = static_cast<std::uint32_t>(index);
  const auto destination_count = static_cast<std::uint16_t>(t.destinations.size());
  const std::uint32_t first_source = t.source_addresses.front();
  activities[s].push_back({transfer, timing.sender_payload_start, timing.sender_payload_end, timing.sender_end,
                           first_source, w, destination_count, ExchangeActivityKind::Send, t.width});
  if (paired)
    activities[partners[0]].push_back({transfer, timing.sender_payload_start, timing.sender_end, timing.sender_end,
                                       first_source, w, destination_count, ExchangeActivityKind::PartnerBusy, t.width});
  for (std::size_t k = 0; k < considered; ++k) {
    const auto [tile, address] = t.destinations[k];
    activities[tile].push_back({transfer, timing.receive_starts[k], timing.receive_payload_ends[k],
                                timing.receive_ends[k], address, w, destination_count, ExchangeActivityKind::Receive,
                                t.width});
  }

  tile_ready[s].send = timing.sender_payload_end;
  if (paired) tile_ready[partners[0]].send = timing.sender_end;
  for (std::size_t k = 0; k < considered; ++k) tile_ready[t.destinations[k].first].receive = timing.receive_payload_ends[k];

  if (paired) last[partners[0]].last_sender = index;
  last[s].last_sender = index;
  for (const auto& destination : t.destinations) last[destination.first].last_receiver = index;

  order.push_back(index);
  placements[index] = TransferPlacement{predecessor, end};
  return end;
}

}  // namespace tessel_codegen::exchange
