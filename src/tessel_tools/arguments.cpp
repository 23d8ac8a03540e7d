#include "tessel_tools/arguments.hpp"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdint>
#include <iostream>

namespace tessel_tools {

namespace {

// Values are plain unsigned decimal integers: the parser's own conversion would also take signs,
// hexadecimal and octal spellings.
const CLI::Validator kUnsignedDecimal(
    [](std::string& input) -> std::string {
      std::size_t digits_from = (!input.empty() && input[0] == '+') ? 1 : 0;
      if (input.size() == digits_from) return "value is not an unsigned decimal integer";
      for (std::size_t i = digits_from; i < input.size(); ++i)
        if (input[i] < '0' || input[i] > '9') return "value " + input + " is not an unsigned decimal integer";
      // Leading zeros would otherwise read as octal, and values beyond 64 bits would saturate.
      std::size_t first = input.find_first_not_of("+0");
      input = first == std::string::npos ? "0" : input.substr(first);
      std::uint64_t value = 0;
      auto [end, error] = std::from_chars(input.data(), input.data() + input.size(), value);
      if (error != std::errc() || end != input.data() + input.size()) return "value " + input + " is out of range";
      return {};
    },
    "", "unsigned decimal integer");

}  // namespace

ParsedCommandLine parse_arguments(int argc, const char* const* argv) {
  Arguments args;
  CLI::App app{"Replay and validate production exchange scheduling without TESSEL hardware", kProgramName};
  app.set_help_flag("--help", "Print help");
  app.set_version_flag("--version", std::string(kProgramName) + " " + kProgramVersion);
  app.option_defaults()->group("Arguments");

  app.add_option("snapshot", args.snapshot, "JSON snapshot written by tessel-pilot --export-exchange-schedule")
      ->required()
      ->type_name("SNAPSHOT");
  app.add_option("--phase", args.phases, "Restrict the benchmark to these physical exchange phase IDs")
      ->type_name("PHASES")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->transform(kUnsignedDecimal);
  app.add_option("--warmup", args.warmup, "Untimed scheduler/codegen runs before measurement")
      ->type_name("WARMUP")
      ->default_val("0")
      ->transform(kUnsignedDecimal);
  app.add_option("--iterations", args.iterations, "Timed scheduler/codegen runs per selected phase")
      ->type_name("ITERATIONS")
      ->default_val("1")
      ->transform(kUnsignedDecimal);
  app.add_flag("--first-iteration-only", args.first_iteration_only,
               "Ignore sender addresses after the first Repeat iteration. This reproduces the unsafe scheduler "
               "behavior used before Repeat-aware memory-element hazard checking")
      ->disable_flag_override();
  std::size_t dump_tile = 0;
  CLI::Option* dump_tile_option =
      app.add_option("--dump-tile", dump_tile, "Decode the generated exchange program for this logical tile")
          ->type_name("DUMP_TILE")
          ->transform(kUnsignedDecimal);
  std::string trace;
  CLI::Option* trace_option =
      app.add_option("--trace", trace,
                     "Write the schedule of every selected phase's first timed run to this file as a Trace Event "
                     "Format timeline (one microsecond per cycle)")
          ->type_name("TRACE");
  std::string report_format;
  app.add_option("--report-format", report_format, "Report on standard output as text lines or as JSON Lines")
      ->type_name("REPORT_FORMAT")
      ->default_val("text")
      ->check(CLI::IsMember({"text", "json"}));
  std::string baseline;
  CLI::Option* baseline_option =
      app.add_option("--baseline", baseline,
                     "Compare the run with this earlier report (text or JSON Lines) on standard error")
          ->type_name("BASELINE");
  app.add_flag("--fail-on-regression", args.fail_on_regression,
               "Exit with status 3 when a phase's horizonCycles or rowWords grew against the baseline")
      ->disable_flag_override()
      ->needs(baseline_option);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, std::cout, std::cerr);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    app.exit(e, std::cout, std::cerr);
    return 2;
  }
  if (dump_tile_option->count() > 0) args.dump_tile = dump_tile;
  if (trace_option->count() > 0) args.trace = trace;
  if (baseline_option->count() > 0) args.baseline = baseline;
  args.report_format = report_format == "json" ? ReportFormat::Json : ReportFormat::Text;
  return args;
}

}  // namespace tessel_tools
