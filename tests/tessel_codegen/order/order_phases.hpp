#pragma once
// Phases for the order tests: hand-written point-to-point phases and seeded random ones, and the
// check that an order is a dependency-respecting permutation.

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "tessel_codegen/exchange/memory_dependencies.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange::order::testing {

struct Edge {
  std::uint16_t source = 0;
  std::uint16_t destination = 0;
  std::uint32_t words = 4;
  ExchangeItemWidth width = ExchangeItemWidth::Word32;
};

// Transfer i reads from address 0 of its source and writes at 0x10000 + i * 0x1000 on its
// destination, so the edges alone share no bytes and form no dependencies.
inline std::vector<PendingTransfer> point_to_point(const std::vector<Edge>& edges) {
  std::vector<PendingTransfer> transfers;
  for (const Edge& edge : edges) {
    PendingTransfer t;
    t.source = edge.source;
    if (edge.width == ExchangeItemWidth::Paired64) t.paired_source = static_cast<std::uint16_t>(edge.source ^ 1);
    t.source_addresses = {0};
    t.destinations = {{edge.destination, static_cast<std::uint32_t>(0x10000 + transfers.size() * 0x1000)}};
    t.words = edge.words;
    t.width = edge.width;
    t.refresh_source_elements();
    transfers.push_back(std::move(t));
  }
  return transfers;
}

// A random phase on `tile_count` tiles whose addresses fall on a few small slots, so that transfers
// overlap often and form dependency chains. With `multicast` some transfers get several destinations
// (and loopbacks and paired sources appear).
inline std::vector<PendingTransfer> random_phase(std::mt19937& random, std::uint16_t tile_count, std::size_t n,
                                                 bool multicast) {
  auto pick = [&](std::uint32_t below) { return std::uniform_int_distribution<std::uint32_t>(0, below - 1)(random); };
  std::vector<PendingTransfer> transfers;
  for (std::size_t i = 0; i < n; ++i) {
    PendingTransfer t;
    t.source = static_cast<std::uint16_t>(pick(tile_count));
    t.words = 1 + pick(16);
    if (multicast && pick(4) == 0) {
      t.width = ExchangeItemWidth::Paired64;
      t.words = 2 * (64 + pick(32));
      t.paired_source = static_cast<std::uint16_t>(t.source ^ 1);
      if (*t.paired_source >= tile_count) t.paired_source = static_cast<std::uint16_t>(t.source - 1);
    }
    t.source_addresses = {0x400 * pick(6)};
    if (pick(3) == 0) t.source_addresses.push_back(0x400 * pick(6));
    const std::size_t destination_count = multicast ? 1 + pick(3) : 1;
    while (t.destinations.size() < destination_count) {
      const auto tile = static_cast<std::uint16_t>(pick(tile_count));
      const bool taken = std::any_of(t.destinations.begin(), t.destinations.end(),
                                     [&](const auto& d) { return d.first == tile; });
      if (taken || (tile == t.source && !multicast)) continue;
      t.destinations.emplace_back(tile, 0x400 * pick(6));
    }
    t.refresh_source_elements();
    transfers.push_back(std::move(t));
  }
  return transfers;
}

// A random current order: a permutation of all transfers, or of a part of them when `partial`.
inline std::vector<std::size_t> random_order(std::mt19937& random, std::size_t n, bool partial) {
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  if (partial) order.resize(order.size() / 2);
  return order;
}

// Whether `order` holds every transfer once and every dependency's earlier transfer first.
inline bool is_dependency_order(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count,
                                const std::vector<std::size_t>& order) {
  if (order.size() != transfers.size()) return false;
  std::vector<std::size_t> position(order.size(), SIZE_MAX);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] >= order.size() || position[order[i]] != SIZE_MAX) return false;
    position[order[i]] = i;
  }
  for (const auto& [earlier, later] : memory_dependencies(transfers, tile_count))
    if (position[earlier] > position[later]) return false;
  return true;
}

}  // namespace tessel_codegen::exchange::order::testing
