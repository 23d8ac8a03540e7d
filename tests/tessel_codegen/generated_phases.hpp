#pragma once
// Seeded random phases for scheduler tests: point-to-point, multicast, paired and loopback transfers,
// several Repeat source addresses and overlapping memory, all valid snapshot transfers.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "test_support/split_mix.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange::testing {

using test_support::SplitMix;

// Addresses come from a few small regions so that transfers overlap in memory and elements.
inline std::uint32_t pick_address(SplitMix& random, std::uint32_t alignment) {
  const std::uint32_t region = random.below(6) * 0x4000;
  return (region + random.below(64) * 16) & ~(alignment - 1);
}

inline ExchangeScheduleProblem generated_phase(std::uint64_t seed, std::uint16_t tile_count, std::size_t transfers) {
  SplitMix random(seed);
  ExchangeScheduleProblem problem;
  problem.phase = static_cast<std::uint32_t>(seed);
  while (problem.transfers.size() < transfers) {
    ExchangeScheduleTransfer t;
    t.source = static_cast<std::uint16_t>(random.below(tile_count));
    const std::uint32_t kind = random.below(10);
    if (kind < 2 && tile_count >= 4) {
      // Paired: a receiver pair apart from the source's pair.
      t.width = ExchangeItemWidth::Paired64;
      // Even row counts: paired rows of some odd counts put two controls on one cycle.
      t.words = 128 + 4 * random.below(100);
      const std::uint16_t own_pair = t.source / 2;
      std::uint16_t pair = static_cast<std::uint16_t>(random.below(tile_count / 2));
      if (pair == own_pair) pair = static_cast<std::uint16_t>((pair + 1) % (tile_count / 2));
      if (2 * pair + 1 >= tile_count || 2 * own_pair + 1 >= tile_count) continue;
      const std::uint32_t address = pick_address(random, 8);
      t.destinations = {{static_cast<std::uint16_t>(2 * pair), address},
                        {static_cast<std::uint16_t>(2 * pair + 1), address}};
      t.source_addresses = {pick_address(random, 8)};
    } else {
      t.width = ExchangeItemWidth::Word32;
      t.words = random.chance(20) ? 1 + random.below(8) : 16 + random.below(300);
      const std::uint32_t receivers = kind < 6 ? 1 : 2 + random.below(3);
      std::vector<bool> used(tile_count, false);
      const std::uint32_t iterations = random.chance(25) ? 2 + random.below(3) : 1;
      for (std::uint32_t i = 0; i < iterations; ++i) t.source_addresses.push_back(pick_address(random, 4));
      for (std::uint32_t r = 0; r < receivers && r < tile_count; ++r) {
        std::uint16_t tile = static_cast<std::uint16_t>(random.below(tile_count));
        // A loopback receiver only in multicasts; it writes the top region, which no source reads.
        if (tile == t.source && receivers < 2) continue;
        if (used[tile]) continue;
        used[tile] = true;
        const std::uint32_t address = tile == t.source ? 0x40000 + random.below(64) * 16 : pick_address(random, 4);
        t.destinations.push_back({tile, address});
      }
      const bool loops_back = std::any_of(t.destinations.begin(), t.destinations.end(),
                                          [&](const ExchangeScheduleDestination& d) { return d.tile == t.source; });
      if (t.destinations.empty() || (loops_back && t.destinations.size() < 2)) continue;
    }
    problem.transfers.push_back(std::move(t));
  }
  return problem;
}

}  // namespace tessel_codegen::exchange::testing
