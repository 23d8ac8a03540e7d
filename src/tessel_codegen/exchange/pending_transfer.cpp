#include "tessel_codegen/exchange/pending_transfer.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "support/checked.hpp"
#include "support/result.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_codegen::exchange {

namespace {

constexpr std::uint32_t kMinimumPairedWords = 128;

bool span_overflows(std::uint32_t address, std::uint32_t words) {
  return !support::checked_add(address, words * 4).has_value();
}

// Checks one transfer and builds its pending form (without source elements).
Result<PendingTransfer> convert_transfer(const ExchangeScheduleTransfer& transfer, std::uint32_t phase,
                                         std::size_t index, std::uint16_t tile_count,
                                         const tessel_exchange::Topology& r912,
                                         std::vector<std::size_t>& seen_stamp) {
  auto invalid = [&](std::string what) {
    return std::unexpected(
        ExchangeLoweringError::invalid_snapshot(fmt::format("phase {} transfer {} {}", phase, index, what)));
  };
  const bool paired = transfer.width == ExchangeItemWidth::Paired64;
  const std::uint32_t mask = alignment_mask(transfer.width);
  const std::uint32_t words = transfer.words;

  if (transfer.source >= tile_count)
    return invalid(fmt::format("has source tile {} outside 0..{}", transfer.source, tile_count));
  if (words == 0 || words > tessel_exchange::kMaximumTransferWords)
    return invalid(fmt::format("has invalid word count {}", words));
  if (paired && (words < kMinimumPairedWords || words % 2 != 0))
    return invalid(fmt::format("has invalid {}-word paired payload", words));
  if (transfer.source_addresses.empty()) return invalid("has no source addresses");
  for (std::uint32_t address : transfer.source_addresses) {
    if ((address & mask) != 0) return invalid(fmt::format("has unaligned source address {:#x}", address));
    if (span_overflows(address, words)) return std::unexpected(ExchangeLoweringError::overflow());
  }
  if (transfer.destinations.empty()) return invalid("has no destinations");

  // seen_stamp[tile] == index + 1 marks a tile already accepted as a receiver of this transfer.
  for (const ExchangeScheduleDestination& destination : transfer.destinations) {
    const auto invalid_tile = [&] { return invalid(fmt::format("has invalid destination tile {}", destination.tile)); };
    if (destination.tile >= tile_count) return invalid_tile();
    if (destination.tile == transfer.source) {
      // A tile may receive its own multicast, provided it never reads and writes one memory element.
      if (paired || transfer.destinations.size() < 2) return invalid_tile();
      for (std::uint32_t address : transfer.source_addresses)
        if (spans_share_effective_memory_element(address, words, destination.address, words)) return invalid_tile();
    }
    if (seen_stamp[destination.tile] == index + 1) return invalid_tile();
    seen_stamp[destination.tile] = index + 1;
    if ((destination.address & mask) != 0)
      return invalid(fmt::format("has unaligned destination address {:#x}", destination.address));
    if (span_overflows(destination.address, words)) return std::unexpected(ExchangeLoweringError::overflow());
  }
  if (index > UINT32_MAX) return std::unexpected(ExchangeLoweringError::overflow());

  PendingTransfer pending;
  if (paired) {
    const std::uint16_t partner = TESSEL_TRY(r912.paired_logical(transfer.source));
    // With an odd tile count the last tile's partner on the card is not part of the phase.
    if (partner >= tile_count)
      return invalid(fmt::format("has paired source tile {} whose partner tile {} is outside 0..{}", transfer.source,
                                 partner, tile_count));
    pending.paired_source = partner;
  }
  pending.source = transfer.source;
  pending.words = words;
  pending.width = transfer.width;
  pending.destinations.reserve(transfer.destinations.size());
  for (const ExchangeScheduleDestination& destination : transfer.destinations)
    pending.destinations.emplace_back(destination.tile, destination.address);
  pending.source_addresses = transfer.source_addresses;
  return pending;
}

}  // namespace

void PendingTransfer::refresh_source_elements() {
  source_elements.clear();
  for (std::uint32_t address : source_addresses) append_span_memory_elements(address, words, source_elements);
  std::sort(source_elements.begin(), source_elements.end());
  source_elements.erase(std::unique(source_elements.begin(), source_elements.end()), source_elements.end());
}

std::vector<std::uint16_t> PendingTransfer::tiles() const {
  std::vector<std::uint16_t> out;
  out.reserve(destinations.size() + 2);
  for_each_tile([&](std::uint16_t tile) { out.push_back(tile); });
  return out;
}

Result<std::vector<PendingTransfer>> pending_from_problem(const ExchangeScheduleProblem& problem,
                                                          std::uint16_t tile_count) {
  // The card's fixed topology, built once: building it per phase made snapshots of many small phases
  // cost a sort of the whole card per phase.
  static const tessel_exchange::Topology r912 = tessel_exchange::Topology::r912();
  std::vector<PendingTransfer> pending;
  pending.reserve(problem.transfers.size());
  std::vector<std::size_t> seen_stamp(tile_count, 0);
  for (std::size_t i = 0; i < problem.transfers.size(); ++i) {
    PendingTransfer transfer =
        TESSEL_TRY(convert_transfer(problem.transfers[i], problem.phase, i, tile_count, r912, seen_stamp));
    transfer.refresh_source_elements();
    pending.push_back(std::move(transfer));
  }
  return pending;
}

Result<ReceiveConfiguration> receive_configuration(const std::vector<PendingTransfer>& transfers,
                                                   std::uint16_t tile_count) {
  ReceiveConfiguration config;
  config.receive_counts.assign(tile_count, 0);
  config.incoming_bases.assign(tile_count, 0);
  for (const PendingTransfer& transfer : transfers) {
    for (const auto& [tile, address] : transfer.destinations) {
      if (tile >= tile_count) return std::unexpected(ExchangeLoweringError::invalid_destination());
      ++config.receive_counts[tile];
    }
  }
  for (const PendingTransfer& transfer : transfers) {
    if (transfer.destinations.size() != 1) continue;
    const auto [tile, address] = transfer.destinations.front();
    if (config.receive_counts[tile] == 1) config.incoming_bases[tile] = address;
  }
  return config;
}

}  // namespace tessel_codegen::exchange
