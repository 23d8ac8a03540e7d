#include "tessel_tools/loading.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "tessel_codegen/exchange/snapshot_reader.hpp"
#include "tessel_tools/file_text.hpp"

namespace tessel_tools {

namespace {

using tessel_codegen::exchange::ExchangeScheduleSnapshot;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The reader's documents hold at most 4 GiB.
constexpr std::size_t kMaximumSnapshotBytes = 0xFFFFFFFFu - 64;

}  // namespace

void keep_first_iterations(ExchangeScheduleSnapshot& snapshot) {
  for (auto& phase : snapshot.phases)
    for (auto& transfer : phase.transfers)
      if (transfer.source_addresses.size() > 1) transfer.source_addresses.resize(1);
}

std::expected<std::vector<std::size_t>, RunError> select_phases(const ExchangeScheduleSnapshot& snapshot,
                                                                const std::vector<std::uint32_t>& phase_ids) {
  std::set<std::uint32_t> wanted(phase_ids.begin(), phase_ids.end());
  if (wanted.size() < phase_ids.size()) return std::unexpected(RunError{"--phase contains a duplicate phase ID", {}});
  for (std::uint32_t id : wanted) {
    bool found = false;
    for (const auto& phase : snapshot.phases) found = found || phase.phase == id;
    if (!found) return std::unexpected(RunError{fmt::format("snapshot does not contain phase {}", id), {}});
  }
  std::vector<std::size_t> selected;
  for (std::size_t i = 0; i < snapshot.phases.size(); ++i)
    if (wanted.empty() || wanted.contains(snapshot.phases[i].phase)) selected.push_back(i);
  return selected;
}

std::expected<LoadedSnapshot, RunError> load_snapshot(const Arguments& args) {
  if (args.iterations == 0) return std::unexpected(RunError{"--iterations must be nonzero", {}});

  errno = 0;
  File file(std::fopen(args.snapshot.c_str(), "rb"));
  if (!file) return std::unexpected(RunError{fmt::format("open {}", args.snapshot), {std::strerror(errno)}});

  auto text = read_whole_file(file.get(), kMaximumSnapshotBytes);
  file.reset();
  const std::string parse_context = fmt::format("parse {}", args.snapshot);
  if (!text) return std::unexpected(RunError{parse_context, {text.error()}});

  auto snapshot = tessel_codegen::exchange::read_snapshot(*text);
  if (!snapshot) return std::unexpected(RunError{parse_context, {snapshot.error().message}});
  text->clear();
  text->shrink_to_fit();

  if (auto valid = snapshot->validate(); !valid) return std::unexpected(RunError{valid.error().to_string(), {}});

  if (args.first_iteration_only) keep_first_iterations(*snapshot);

  auto selected = select_phases(*snapshot, args.phases);
  if (!selected) return std::unexpected(selected.error());
  return LoadedSnapshot{std::move(*snapshot), std::move(*selected)};
}

}  // namespace tessel_tools
