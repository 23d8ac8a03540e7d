#include "tessel_tools/run_loop.hpp"

#include <chrono>
#include <string>

#include "tessel_tools/report.hpp"

namespace tessel_tools {

namespace {

void write(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

}  // namespace

std::expected<void, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded, std::FILE* out) {
  write(out, header_line(args, loaded.snapshot.tile_count, loaded.selected.size()));
  const auto started = std::chrono::steady_clock::now();
  for (std::size_t index : loaded.selected) {
    // Each selected phase is scheduled, validated and reported here once the scheduler exists.
    (void)index;
  }
  write(out, total_line(std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - started)));
  return {};
}

}  // namespace tessel_tools
