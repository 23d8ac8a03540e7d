#pragma once
// The scheduler's form of a snapshot transfer, checked on conversion, and a phase's receive
// configuration (receive count and incoming base per tile).

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/memory_elements.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange {

struct PendingTransfer {
  std::uint16_t source = 0;
  std::optional<std::uint16_t> paired_source;  // the partner tile of a Paired64 transfer
  std::vector<std::uint32_t> source_addresses;  // one per Repeat iteration; at least one
  std::vector<std::pair<std::uint16_t, std::uint32_t>> destinations;  // (tile, address), distinct tiles
  std::uint32_t words = 0;
  ExchangeItemWidth width = ExchangeItemWidth::Word32;
  // Every element read by any source span, ascending and unique; kept in step with
  // source_addresses and words by refresh_source_elements.
  std::vector<ExchangeMemoryElement> source_elements;

  void refresh_source_elements();

  // The tiles the transfer occupies: source, partner (if any), then the destinations in order.
  template <class F>
  void for_each_tile(F&& visit) const {
    visit(source);
    if (paired_source) visit(*paired_source);
    for (const auto& destination : destinations) visit(destination.first);
  }
  std::vector<std::uint16_t> tiles() const;

  bool operator==(const PendingTransfer&) const = default;
};

// Alignment mask of a width's addresses: 3 for Word32, 7 for Paired64.
inline constexpr std::uint32_t alignment_mask(ExchangeItemWidth width) {
  return width == ExchangeItemWidth::Paired64 ? 7 : 3;
}

// Converts and checks every transfer of a phase, in snapshot order; the first failure wins.
Result<std::vector<PendingTransfer>> pending_from_problem(const ExchangeScheduleProblem& problem,
                                                          std::uint16_t tile_count);

struct ReceiveConfiguration {
  std::vector<std::size_t> receive_counts;   // per tile: destination entries naming it
  std::vector<std::uint32_t> incoming_bases;  // per tile: the address of its single receive, or 0
  bool operator==(const ReceiveConfiguration&) const = default;
};

Result<ReceiveConfiguration> receive_configuration(const std::vector<PendingTransfer>& transfers,
                                                   std::uint16_t tile_count);

}  // namespace tessel_codegen::exchange
