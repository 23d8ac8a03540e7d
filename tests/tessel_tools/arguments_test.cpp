#include "tessel_tools/arguments.hpp"

#include <gtest/gtest.h>

#include "test_support/run_program.hpp"

namespace tessel_tools {
namespace {

using test_support::run_replay;

Arguments parse(std::vector<std::string> words) {
  std::vector<const char*> argv{"tessel_replay"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  auto parsed = parse_arguments(static_cast<int>(argv.size()), argv.data());
  EXPECT_TRUE(std::holds_alternative<Arguments>(parsed));
  return std::holds_alternative<Arguments>(parsed) ? std::get<Arguments>(parsed) : Arguments{};
}

TEST(Arguments, ValuesAndDefaults) {
  const Arguments defaults = parse({"snap.json"});
  EXPECT_EQ(defaults.snapshot, "snap.json");
  EXPECT_TRUE(defaults.phases.empty());
  EXPECT_EQ(defaults.warmup, 0u);
  EXPECT_EQ(defaults.iterations, 1u);
  EXPECT_FALSE(defaults.first_iteration_only);
  EXPECT_FALSE(defaults.dump_tile.has_value());
  EXPECT_FALSE(defaults.trace.has_value());
  EXPECT_EQ(defaults.report_format, ReportFormat::Text);
  EXPECT_FALSE(defaults.baseline.has_value());
  EXPECT_FALSE(defaults.fail_on_regression);

  const Arguments all = parse({"--phase", "7", "--phase=3", "--warmup", "2", "--iterations", "010",
                               "--first-iteration-only", "--dump-tile", "0", "--phase", "4294967295", "s.json"});
  EXPECT_EQ(all.phases, (std::vector<std::uint32_t>{7, 3, 4294967295u}));
  EXPECT_EQ(all.warmup, 2u);
  EXPECT_EQ(all.iterations, 10u) << "leading zeros are decimal";
  EXPECT_TRUE(all.first_iteration_only);
  EXPECT_EQ(all.dump_tile, 0u);

  const Arguments outputs = parse({"s.json", "--trace", "t.json", "--report-format", "json", "--baseline=old.txt",
                                   "--fail-on-regression"});
  EXPECT_EQ(outputs.trace, "t.json");
  EXPECT_EQ(outputs.report_format, ReportFormat::Json);
  EXPECT_EQ(outputs.baseline, "old.txt");
  EXPECT_TRUE(outputs.fail_on_regression);
  EXPECT_EQ(parse({"s.json", "--report-format", "text"}).report_format, ReportFormat::Text);
}

TEST(Arguments, UsageErrorsExitWithStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"a.json", "b.json"},
      {"s.json", "--phase", "-1"},
      {"s.json", "--phase", "4294967296"},
      {"s.json", "--phase", "0x10"},
      {"s.json", "--phase", "1", "2"},
      {"s.json", "--phase"},
      {"s.json", "--warmup", "x"},
      {"s.json", "--iterations", "-3"},
      {"s.json", "--iterations", "1.5"},
      {"s.json", "--dump-tile", "18446744073709551616"},
      {"s.json", "--first-iteration-only=yes"},
      {"s.json", "--bogus"},
      {"s.json", "-h"},
      {"s.json", "--report-format", "xml"},
      {"s.json", "--report-format"},
      {"s.json", "--trace"},
      {"s.json", "--fail-on-regression"},
      {"s.json", "--baseline", "b.txt", "--fail-on-regression=1"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const auto run = run_replay(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Run with --help for more information."), std::string::npos) << run.err;
  }
}

TEST(Arguments, HelpAndVersion) {
  const auto version = run_replay({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tessel-tools 0.1.0\n");

  const auto help = run_replay({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* text : {"Replay and validate production exchange scheduling without TESSEL hardware",
                           "SNAPSHOT", "JSON snapshot written by tessel-pilot --export-exchange-schedule",
                           "--phase PHASES", "Restrict the benchmark to these physical exchange phase IDs",
                           "--warmup WARMUP=0", "Untimed scheduler/codegen runs before measurement",
                           "--iterations ITERATIONS=1", "Timed scheduler/codegen runs per selected phase",
                           "--first-iteration-only", "Ignore sender addresses after the first Repeat iteration.",
                           "--dump-tile DUMP_TILE", "Decode the generated exchange program for this logical tile",
                           "--trace TRACE", "Trace Event Format", "--report-format REPORT_FORMAT:{text,json}=text", "JSON Lines",
                           "--baseline BASELINE", "Compare the run with this earlier report",
                           "--fail-on-regression", "Exit with status 3"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
}

}  // namespace
}  // namespace tessel_tools
