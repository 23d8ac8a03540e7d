#include "tessel_codegen/exchange/schedule_validation.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "support/result.hpp"
#include "tessel_codegen/exchange/memory_elements.hpp"
#include "tessel_exchange/diagnostic/plan_program.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_codegen::exchange {

namespace {

using Kind = ExchangeActivityKind;

template <class... Args>
std::unexpected<ExchangeLoweringError> violated(fmt::format_string<Args...> text, Args&&... args) {
  return std::unexpected(ExchangeLoweringError::invariant(fmt::format(text, std::forward<Args>(args)...)));
}

Result<void> check_table_sizes(std::uint16_t tile_count, const PhysicalExchangePhase& phase, std::uint32_t id) {
  const std::pair<std::size_t, const char*> tables[] = {
      {phase.active.size(), "active"},
      {phase.programs.size(), "programs"},
      {phase.incoming_bases.size(), "incoming bases"},
      {phase.tile_horizons.size(), "tile horizons"},
      {phase.activities.size(), "activities"},
      {phase.repeat_patches.size(), "repeat patches"},
  };
  for (const auto& [size, label] : tables)
    if (size != tile_count) return violated("phase {} has {} {} entries for {} tiles", id, size, label, tile_count);
  return {};
}

// Send or Receive intervals of one tile must not overlap; touching is fine.
bool bus_intervals_disjoint(const std::vector<ExchangeActivity>& activities, Kind kind,
                            std::vector<std::pair<std::uint32_t, std::uint32_t>>& scratch) {
  scratch.clear();
  for (const ExchangeActivity& a : activities)
    if (a.kind == kind) scratch.emplace_back(a.start, a.payload_end);
  std::sort(scratch.begin(), scratch.end());
  for (std::size_t i = 1; i < scratch.size(); ++i)
    if (scratch[i].first < scratch[i - 1].second) return false;
  return true;
}

}  // namespace

Result<void> validate_exchange_schedule(std::uint16_t tile_count, const ExchangeScheduleProblem& problem,
                                        const PhysicalExchangePhase& phase) {
  const std::uint32_t id = problem.phase;
  if (phase.phase != problem.phase)
    return violated("phase id {} differs from snapshot phase {}", phase.phase, problem.phase);
  TESSEL_TRY(check_table_sizes(tile_count, phase, id));
  for (const auto& patches : phase.repeat_patches)
    if (!patches.empty()) return violated("standalone phase {} unexpectedly contains repeat patches", id);
  const std::uint32_t maximum_tile_horizon =
      phase.tile_horizons.empty() ? 0 : *std::max_element(phase.tile_horizons.begin(), phase.tile_horizons.end());
  if (phase.horizon != maximum_tile_horizon)
    return violated("phase {} horizon {} differs from maximum tile horizon {}", id, phase.horizon,
                    maximum_tile_horizon);

  const std::vector<ExchangeScheduleTransfer>& transfers = problem.transfers;
  std::vector<std::size_t> send_counts(transfers.size(), 0);
  std::vector<std::size_t> partner_counts(transfers.size(), 0);
  // Receive counters of every destination, transfer by transfer.
  std::vector<std::size_t> first_destination(transfers.size() + 1, 0);
  for (std::size_t i = 0; i < transfers.size(); ++i)
    first_destination[i + 1] = first_destination[i] + transfers[i].destinations.size();
  std::vector<std::size_t> receive_counts(first_destination.back(), 0);

  // The card's layout never changes; build it once.
  static const tessel_exchange::Topology r912 = tessel_exchange::Topology::r912();
  std::set<std::uint16_t> borrowed;
  for (const ExchangeScheduleTransfer& transfer : transfers)
    if (transfer.width == ExchangeItemWidth::Paired64) borrowed.insert(TESSEL_TRY(r912.paired_logical(transfer.source)));

  std::vector<std::pair<std::uint32_t, std::uint32_t>> scratch;
  for (std::uint16_t t = 0; t < tile_count; ++t) {
    const auto decoded = TESSEL_TRY(tessel_exchange::diagnostic::diagnose_plan_program(phase.programs[t], false));
    if (decoded.horizon != phase.tile_horizons[t])
      return violated("phase {} tile {} decoded horizon {} differs from {}", id, t, decoded.horizon,
                      phase.tile_horizons[t]);

    const std::vector<ExchangeActivity>& activities = phase.activities[t];
    const bool expect_active = !activities.empty() || borrowed.contains(t);
    if (phase.active[t] != expect_active || phase.active[t] != (phase.tile_horizons[t] != 0))
      return violated("phase {} tile {} has inconsistent active state", id, t);

    for (const ExchangeActivity& a : activities) {
      if (!(a.start <= a.payload_end && a.payload_end <= a.horizon && a.horizon <= phase.tile_horizons[t]))
        return violated("phase {} tile {} transfer {} has invalid cycle interval", id, t, a.transfer);
      if (a.transfer >= transfers.size()) return violated("phase {} tile {} references missing transfer {}", id, t, a.transfer);
      const ExchangeScheduleTransfer& transfer = transfers[a.transfer];
      if (a.words != transfer.words) return violated("phase {} tile {} transfer {} has wrong word count", id, t, a.transfer);
      switch (a.kind) {
        case Kind::Send:
          if (transfer.source != t || a.address != transfer.source_addresses.front())
            return violated("phase {} transfer {} has a mismatched send activity", id, a.transfer);
          ++send_counts[a.transfer];
          break;
        case Kind::Receive: {
          const auto& destinations = transfer.destinations;
          auto found = std::find_if(destinations.begin(), destinations.end(), [&](const auto& d) {
            return d.tile == t && d.address == a.address;
          });
          if (found == destinations.end())
            return violated("phase {} transfer {} has an unexpected receive activity on tile {}", id, a.transfer, t);
          ++receive_counts[first_destination[a.transfer] + static_cast<std::size_t>(found - destinations.begin())];
          break;
        }
        case Kind::PartnerBusy: {
          if (transfer.width != ExchangeItemWidth::Paired64)
            return violated("phase {} transfer {} has a mismatched partner-busy activity", id, a.transfer);
          const std::uint16_t partner = TESSEL_TRY(r912.paired_logical(transfer.source));
          if (partner != t || a.address != transfer.source_addresses.front())
            return violated("phase {} transfer {} has a mismatched partner-busy activity", id, a.transfer);
          ++partner_counts[a.transfer];
          break;
        }
      }
    }

    for (Kind kind : {Kind::Send, Kind::Receive})
      if (!bus_intervals_disjoint(activities, kind, scratch))
        return violated("phase {} tile {} has overlapping {} bus intervals", id, t, activity_kind_name(kind));

    for (const ExchangeActivity& s : activities) {
      if (s.kind != Kind::Send) continue;
      for (const ExchangeActivity& r : activities) {
        if (r.kind != Kind::Receive || !(s.start < r.horizon && r.start < s.horizon)) continue;
        for (std::uint32_t address : transfers[s.transfer].source_addresses)
          if (spans_share_effective_memory_element(address, s.words, r.address, r.words))
            return violated("phase {} tile {} overlaps send/receive access to one SRAM element", id, t);
      }
    }

    for (const ExchangeActivity& p : activities) {
      if (p.kind != Kind::PartnerBusy) continue;
      for (const ExchangeActivity& o : activities)
        if (o.transfer != p.transfer && o.kind != Kind::Receive && o.start < p.payload_end && p.start < o.payload_end)
          return violated("phase {} tile {} overlaps borrowed and local transmit intervals", id, t);
    }
  }

  for (std::size_t i = 0; i < transfers.size(); ++i)
    if (send_counts[i] != 1) return violated("phase {} transfer {} has {} send activities", id, i, send_counts[i]);
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const std::size_t expected = transfers[i].width == ExchangeItemWidth::Paired64 ? 1 : 0;
    if (partner_counts[i] != expected)
      return violated("phase {} transfer {} has {} partner-busy activities, expected {}", id, i, partner_counts[i],
                      expected);
  }
  for (std::size_t i = 0; i < transfers.size(); ++i)
    for (std::size_t k = first_destination[i]; k < first_destination[i + 1]; ++k)
      if (receive_counts[k] != 1)
        return violated("phase {} transfer {} does not have exactly one activity per destination", id, i);
  return {};
}

}  // namespace tessel_codegen::exchange
