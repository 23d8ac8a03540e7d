#include "tessel_codegen/exchange/memory_safety.hpp"

#include <algorithm>
#include <optional>

#include "support/checked.hpp"

namespace tessel_codegen::exchange {

namespace {

bool intersects_sorted(const std::vector<ExchangeMemoryElement>& access, const std::vector<ExchangeMemoryElement>& read) {
  for (const ExchangeMemoryElement& element : access)
    if (std::binary_search(read.begin(), read.end(), element)) return true;
  return false;
}

// Whether a sorted element list holds an element of the consecutive range [first, last].
bool intersects_range(const std::vector<ExchangeMemoryElement>& elements, const ExchangeMemoryElement& first,
                      const ExchangeMemoryElement& last) {
  auto it = std::lower_bound(elements.begin(), elements.end(), first);
  return it != elements.end() && *it <= last;
}

}  // namespace

Result<std::uint32_t> memory_safe_transfer_offset(const std::vector<TileMemorySchedule>& memory,
                                                  const PendingTransfer& transfer,
                                                  const tessel_exchange::PhaseTransferTiming& timing,
                                                  std::uint32_t candidate) {
  std::optional<std::uint32_t> delay;
  const auto conflict = [&](std::uint32_t access_end, std::uint32_t start) {
    const std::uint32_t d = access_end > start ? access_end - start : 0;
    delay = delay ? std::max(*delay, d) : d;
  };

  for (const MemoryAccess& write : memory[transfer.source].writes)
    if (write.start < timing.sender_end && timing.sender_payload_start < write.end &&
        intersects_sorted(write.elements, transfer.source_elements))
      conflict(write.end, timing.sender_payload_start);

  const std::size_t windows = std::min(timing.receive_starts.size(), timing.receive_ends.size());
  const std::size_t considered = std::min(transfer.destinations.size(), windows);
  for (std::size_t i = 0; i < considered; ++i) {
    const auto [tile, address] = transfer.destinations[i];
    const auto range = span_element_range(address, transfer.words);
    if (!range) continue;
    const std::uint32_t start = timing.receive_starts[i];
    const std::uint32_t end = timing.receive_ends[i];
    for (const MemoryAccess& read : memory[tile].reads)
      if (read.start < end && start < read.end && intersects_range(read.elements, range->first, range->second))
        conflict(read.end, start);
  }

  if (!delay) return candidate;
  const auto moved = support::checked_add(candidate, *delay);
  if (!moved) return std::unexpected(ExchangeLoweringError::overflow());
  return *moved;
}

}  // namespace tessel_codegen::exchange
