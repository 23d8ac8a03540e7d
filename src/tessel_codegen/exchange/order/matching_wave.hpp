#pragma once
// The matching-wave order of a point-to-point phase: the phase is cut into waves of ready transfers
// of which no two share a source or a destination tile, each wave a maximum matching between source
// and destination tiles (Hopcroft-Karp), and the order is the waves one after the other.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange::order {

// The order of all transfers wave by wave, every memory-dependency predecessor before its
// successor; absent when the phase has fewer than two transfers, a transfer without exactly one
// destination, an unbalanced tile load, an uncostable payload, or transfers that never get ready.
// `current_order` (the order being improved) decides the preferences inside a wave.
std::optional<std::vector<std::size_t>> point_to_point_matching_wave_order(
    const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count,
    const std::vector<std::size_t>& current_order);

// One pending step of the augmenting-path search: the source tile being extended and the position in
// its ready list of the edge being tried.
struct AugmentFrame {
  std::uint16_t source = 0;
  std::size_t edge = 0;
};

// Looks for an augmenting path from the unmatched source tile `source` along the level graph of the
// current round and applies it; a source tile from which none exists is given the largest level,
// which removes it from the rest of the round. The first successful edge in ready-list order wins.
// The search runs on `stack`, a reusable buffer, so that a path through every tile of the card
// needs no call stack.
bool augment_ready_matching(std::uint16_t source, const std::vector<PendingTransfer>& transfers,
                            const std::vector<std::vector<std::size_t>>& ready_lists,
                            std::vector<std::optional<std::size_t>>& match_of_source,
                            std::vector<std::optional<std::uint16_t>>& match_of_destination,
                            std::vector<std::size_t>& level, std::vector<AugmentFrame>& stack);

}  // namespace tessel_codegen::exchange::order
