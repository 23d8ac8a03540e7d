#include <unistd.h>

#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "tessel_codegen/exchange/phase_entry.hpp"
#include "tessel_tools/arguments.hpp"
#include "tessel_tools/baseline.hpp"
#include "tessel_tools/loading.hpp"
#include "tessel_tools/progress.hpp"
#include "tessel_tools/run_loop.hpp"
#include "tessel_tools/trace.hpp"

namespace {

// Exit status of a run whose comparison with the baseline found a phase that grew.
constexpr int kRegressionStatus = 3;

int fail(const tessel_tools::RunError& error) {
  std::fflush(stdout);
  const std::string text = tessel_tools::render_error(error);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  return 1;
}

}  // namespace

int run(int argc, char** argv) {
  auto parsed = tessel_tools::parse_arguments(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const auto& args = std::get<tessel_tools::Arguments>(parsed);

  auto loaded = tessel_tools::load_snapshot(args);
  if (!loaded) return fail(loaded.error());

  // Everything that can fail on the way in fails here, before the header; the trace file is
  // created last, so that no earlier error leaves it behind.
  std::optional<tessel_tools::BaselineReport> baseline;
  if (args.baseline) {
    auto read = tessel_tools::read_baseline(*args.baseline);
    if (!read) return fail(read.error());
    baseline = std::move(*read);
  }
  std::optional<tessel_tools::TraceFile> trace;
  if (args.trace) {
    std::vector<std::string> inputs{args.snapshot};
    if (args.baseline) inputs.push_back(*args.baseline);
    auto created = tessel_tools::TraceFile::create(
        *args.trace,
        tessel_tools::trace_other_data(args.snapshot, loaded->snapshot.tile_count, !args.first_iteration_only),
        inputs);
    if (!created) return fail(created.error());
    trace = std::move(*created);
  }

  tessel_tools::Progress progress(stderr, isatty(fileno(stderr)) == 1);
  const tessel_tools::RunOutputs outputs{stdout, trace ? &*trace : nullptr, &progress};
  auto ran = tessel_tools::run_benchmark(args, *loaded, outputs, tessel_codegen::exchange::schedule_exchange_problem);
  if (!ran) return fail(ran.error());
  if (std::fflush(stdout) != 0) return fail({"write standard output", {}});

  if (baseline) {
    const auto comparison =
        tessel_tools::compare_with_baseline(*args.baseline, *baseline, args, loaded->snapshot.tile_count, *ran);
    std::fwrite(comparison.text.data(), 1, comparison.text.size(), stderr);
    std::fflush(stderr);
    if (comparison.regressed && args.fail_on_regression) return kRegressionStatus;
  }
  return 0;
}

int main(int argc, char** argv) {
  // A snapshot can ask for more memory than the machine has (millions of destinations or Repeat
  // addresses); that ends the run with an error like any other, not with an abort.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return fail({"out of memory", {}});
  } catch (const std::length_error&) {
    return fail({"out of memory", {}});
  }
}
