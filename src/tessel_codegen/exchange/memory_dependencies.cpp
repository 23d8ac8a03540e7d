#include "tessel_codegen/exchange/memory_dependencies.hpp"

#include <algorithm>
#include <optional>

#include "support/invariant.hpp"

namespace tessel_codegen::exchange {

namespace {

struct TransferAccess {
  std::size_t transfer = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  bool write = false;
};

struct AccessFrontier {
  std::optional<std::size_t> last_writer;
  std::vector<std::size_t> readers;
};

std::size_t boundary_position(const std::vector<std::uint64_t>& boundaries, std::uint64_t value, const char* what) {
  auto found = std::lower_bound(boundaries.begin(), boundaries.end(), value);
  support::check_invariant(found != boundaries.end() && *found == value, what);
  return static_cast<std::size_t>(found - boundaries.begin());
}

// Replays one tile's accesses in pending order over the segments their boundaries cut the address space
// into, collecting the pairs.
void tile_dependencies(const std::vector<TransferAccess>& accesses, std::vector<std::uint64_t>& boundaries,
                       std::vector<AccessFrontier>& frontiers, std::vector<MemoryDependency>& pairs) {
  boundaries.clear();
  for (const TransferAccess& access : accesses) {
    boundaries.push_back(access.start);
    boundaries.push_back(access.end);
  }
  std::sort(boundaries.begin(), boundaries.end());
  boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());
  frontiers.assign(boundaries.empty() ? 0 : boundaries.size() - 1, AccessFrontier{});

  for (const TransferAccess& access : accesses) {
    const std::size_t first = boundary_position(boundaries, access.start, "access start is a boundary");
    const std::size_t last = boundary_position(boundaries, access.end, "access end is a boundary");
    const std::size_t t = access.transfer;
    for (std::size_t segment = first; segment < last; ++segment) {
      AccessFrontier& frontier = frontiers[segment];
      if (frontier.last_writer && *frontier.last_writer != t) pairs.emplace_back(*frontier.last_writer, t);
      if (access.write) {
        for (std::size_t reader : frontier.readers)
          if (reader != t) pairs.emplace_back(reader, t);
        frontier.readers.clear();
        frontier.last_writer = t;
      } else if (frontier.readers.empty() || frontier.readers.back() != t) {
        frontier.readers.push_back(t);
      }
    }
  }
}

}  // namespace

std::vector<MemoryDependency> memory_dependencies(const std::vector<PendingTransfer>& transfers,
                                                  std::uint16_t tile_count) {
  std::vector<std::vector<TransferAccess>> per_tile(tile_count);
  for (std::size_t t = 0; t < transfers.size(); ++t) {
    const PendingTransfer& transfer = transfers[t];
    const std::uint64_t bytes = std::uint64_t{transfer.words} * 4;
    support::check_invariant(transfer.source < tile_count, "index out of range");
    for (std::uint32_t address : transfer.source_addresses)
      per_tile[transfer.source].push_back({t, address, address + bytes, false});
    for (const auto& [tile, address] : transfer.destinations) {
      support::check_invariant(tile < tile_count, "index out of range");
      per_tile[tile].push_back({t, address, address + bytes, true});
    }
  }

  std::vector<MemoryDependency> pairs;
  std::vector<std::uint64_t> boundaries;
  std::vector<AccessFrontier> frontiers;
  for (const auto& accesses : per_tile)
    if (!accesses.empty()) tile_dependencies(accesses, boundaries, frontiers, pairs);
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  return pairs;
}

}  // namespace tessel_codegen::exchange
