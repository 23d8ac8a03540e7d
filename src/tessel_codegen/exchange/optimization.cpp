#include "tessel_codegen/exchange/optimization.hpp"

#include <chrono>

#include "support/events.hpp"
#include "support/result.hpp"
#include "tessel_codegen/exchange/greedy.hpp"

namespace tessel_codegen::exchange {

namespace {
constexpr const char* kTarget = "tessel_codegen::exchange";
}  // namespace

Result<MaterializedSchedule> materialize_greedy_schedule(const tessel_exchange::Topology& topology,
                                                         const std::vector<PendingTransfer>& transfers,
                                                         const ReceiveConfiguration& receive,
                                                         std::uint16_t tile_count) {
  using support::events::field;
  using support::events::Level;
  MaterializedSchedule first =
      TESSEL_TRY(materialize_greedy_schedule_impl(topology, transfers, receive, tile_count, false));
  auto finished = first.builder.finish();
  if (finished) return first;
  if (!finished.error().is_schedule("SENDPICP instruction alignment")) return std::unexpected(finished.error());

  TESSEL_EVENT(Level::Info, kTarget, "retrying exchange schedule with incremental instruction-alignment validation",
               field("transfers", transfers.size()));
  const auto started = std::chrono::steady_clock::now();
  auto second = materialize_greedy_schedule_impl(topology, transfers, receive, tile_count, true);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  TESSEL_EVENT(Level::Info, kTarget, "finished incremental instruction-alignment validation",
               field("transfers", transfers.size()),
               field("elapsed_ms", static_cast<std::uint64_t>(
                                       std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count())),
               field("success", second.has_value()));
  return second;
}

Result<ImprovedSchedule> optimize_pending_schedule(const tessel_exchange::Topology& topology,
                                                   const std::vector<PendingTransfer>& transfers,
                                                   const ReceiveConfiguration& receive, std::uint16_t tile_count) {
  MaterializedSchedule schedule = TESSEL_TRY(materialize_greedy_schedule(topology, transfers, receive, tile_count));
  return improve_pending_schedule(topology, transfers, receive, tile_count, std::move(schedule));
}

}  // namespace tessel_codegen::exchange
