#pragma once
// Timed memory accesses per tile, and the earliest offset at which a transfer's sender read and
// receiver writes do not run at the same time as an earlier access to one of the same memory elements.

#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/memory_elements.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"
#include "tessel_exchange/timing.hpp"

namespace tessel_codegen::exchange {

struct MemoryAccess {
  std::vector<ExchangeMemoryElement> elements;  // ascending
  std::uint32_t start = 0;                      // the access occupies [start, end)
  std::uint32_t end = 0;
};

struct TileMemorySchedule {
  std::vector<MemoryAccess> reads;   // one per transfer sent from the tile, in placement order
  std::vector<MemoryAccess> writes;  // one per transfer received into the tile, in placement order
};

// The earliest offset not before `candidate` at which the transfer, timed at `candidate`, does not read
// an element while an earlier write into it runs on its source tile, nor write an element while an
// earlier read of it runs on a destination tile.
Result<std::uint32_t> memory_safe_transfer_offset(const std::vector<TileMemorySchedule>& memory,
                                                  const PendingTransfer& transfer,
                                                  const tessel_exchange::PhaseTransferTiming& timing,
                                                  std::uint32_t candidate);

}  // namespace tessel_codegen::exchange
