#pragma once
// Ordering constraints between transfers that touch the same tile memory, and the cost of a transfer.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange {

// A (earlier, later) pair of transfer indices: `later` must be placed after `earlier`.
using MemoryDependency = std::pair<std::size_t, std::size_t>;

// Read-after-write, write-after-read and write-after-write pairs between transfers whose byte ranges
// overlap on a tile, directed by pending order. Sorted ascending by (earlier, later), without repeats.
std::vector<MemoryDependency> memory_dependencies(const std::vector<PendingTransfer>& transfers,
                                                  std::uint16_t tile_count);

// Cycles a transfer occupies its tiles: words, halved for an even Paired64 payload; 0 for no words.
inline constexpr std::uint32_t transfer_cycles(const PendingTransfer& transfer) {
  if (transfer.words == 0) return 0;
  if (transfer.width == ExchangeItemWidth::Paired64 && transfer.words % 2 == 0) return transfer.words / 2;
  return transfer.words;
}

}  // namespace tessel_codegen::exchange
