#pragma once
// Loading a snapshot for a run: open, read, validate, apply --first-iteration-only, select phases.

#include <expected>
#include <vector>

#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/arguments.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

struct LoadedSnapshot {
  tessel_codegen::exchange::ExchangeScheduleSnapshot snapshot;
  // Positions in snapshot.phases of the phases to replay, in file order.
  std::vector<std::size_t> selected;
};

std::expected<LoadedSnapshot, RunError> load_snapshot(const Arguments& args);

// Keeps only the first source address of every transfer.
void keep_first_iterations(tessel_codegen::exchange::ExchangeScheduleSnapshot& snapshot);

// The phases named by `phase_ids` (all when empty), as positions in file order.
std::expected<std::vector<std::size_t>, RunError> select_phases(
    const tessel_codegen::exchange::ExchangeScheduleSnapshot& snapshot, const std::vector<std::uint32_t>& phase_ids);

}  // namespace tessel_tools
