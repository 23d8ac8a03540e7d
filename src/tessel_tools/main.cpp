#include <cstdio>
#include <string>

#include "tessel_codegen/exchange/phase_entry.hpp"
#include "tessel_tools/arguments.hpp"
#include "tessel_tools/loading.hpp"
#include "tessel_tools/run_loop.hpp"

namespace {

int fail(const tessel_tools::RunError& error) {
  std::fflush(stdout);
  const std::string text = tessel_tools::render_error(error);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = tessel_tools::parse_arguments(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  const auto& args = std::get<tessel_tools::Arguments>(parsed);

  auto loaded = tessel_tools::load_snapshot(args);
  if (!loaded) return fail(loaded.error());

  auto ran = tessel_tools::run_benchmark(args, *loaded, stdout, tessel_codegen::exchange::schedule_exchange_problem);
  if (!ran) return fail(ran.error());
  if (std::fflush(stdout) != 0) return fail({"write standard output", {}});
  return 0;
}
