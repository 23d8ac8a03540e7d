#include "tessel_tools/baseline.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "test_support/run_program.hpp"

namespace tessel_tools {
namespace {

using test_support::data_path;
using test_support::run_replay;
using test_support::write_temp_file;

const char* const kTextReport =
    "snapshot=some dir/s.json tiles=4 phases=2 warmup=0 iterations=3 repeatAware=false\n"
    "phase=5 logicalTile=3 transfer=0 Receive cycles=56..120 memoryEnd=125 address=0x10000 words=128\n"
    "phase=5 logicalTile=3\n"
    "word+0 cycles=0..0 Return\n"
    "\n"
    "phase=5 transfers=3 destinations=5 initialHorizonCycles=125 horizonCycles=125 endpointLowerBoundCycles=64 "
    "lowerBoundGapCycles=61 neighborhoodImprovements=0 rowWords=29 maximumRowWords=9 scheduleCodegenMinMs=0.135 "
    "scheduleCodegenMedianMs=0.140 scheduleCodegenP95Ms=0.150 scheduleCodegenMaxMs=0.150 validationMedianMs=0.047 "
    "invariants=PASS\n"
    "phase=9 horizonCycles=180 rowWords=10 scheduleCodegenMedianMs=2.500\n"
    "totalMs=0.338\n";

const char* const kJsonReport =
    "{\"type\":\"header\",\"snapshot\":\"some dir/s.json\",\"tiles\":4,\"phases\":2,\"warmup\":0,\"iterations\":3,"
    "\"repeatAware\":false}\n"
    "{\"type\":\"activity\",\"phase\":5,\"logicalTile\":3}\n"
    "{\"type\":\"phase\",\"phase\":5,\"horizonCycles\":125,\"rowWords\":29,\"scheduleCodegenMedianMs\":0.14}\n"
    "\n"
    "{\"type\":\"phase\",\"phase\":9,\"horizonCycles\":180,\"rowWords\":10,\"scheduleCodegenMedianMs\":2.5}\n"
    "{\"type\":\"total\",\"totalMs\":0.338}\n";

TEST(Baseline, ReadsTextAndJsonReports) {
  for (const char* report : {kTextReport, kJsonReport}) {
    SCOPED_TRACE(report);
    auto parsed = parse_baseline(report);
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(parsed->snapshot, "some dir/s.json");
    EXPECT_EQ(parsed->tiles, 4u);
    EXPECT_EQ(parsed->iterations, 3u);
    EXPECT_FALSE(parsed->repeat_aware);
    ASSERT_EQ(parsed->phases.size(), 2u);
    EXPECT_EQ(parsed->phases[0].phase, 5u);
    EXPECT_EQ(parsed->phases[0].horizon_cycles, 125u);
    EXPECT_EQ(parsed->phases[0].row_words, 29u);
    EXPECT_DOUBLE_EQ(parsed->phases[0].schedule_codegen_median_ms, 0.14);
    EXPECT_EQ(parsed->phases[1].phase, 9u);
    EXPECT_DOUBLE_EQ(parsed->phases[1].schedule_codegen_median_ms, 2.5);
  }
}

TEST(Baseline, RejectsWhatIsNotAReport) {
  struct Case {
    std::string text, error;
  };
  const std::string header = "snapshot=s.json tiles=4 phases=1 warmup=0 iterations=1 repeatAware=true\n";
  const std::string json_header =
      "{\"type\":\"header\",\"snapshot\":\"s\",\"tiles\":4,\"phases\":1,\"warmup\":0,\"iterations\":1,"
      "\"repeatAware\":true}\n";
  const Case cases[] = {
      {"", "no report header line (snapshot=...)"},
      {"phase=1 horizonCycles=3 rowWords=2 scheduleCodegenMedianMs=1.0\n", "no report header line (snapshot=...)"},
      {"snapshot=s.json phases=1\n", "line 1: header has no tiles"},
      {"snapshot=s.json tiles=4 iterations=1 repeatAware=maybe\n", "line 1: malformed header line"},
      {header + "phase=1 horizonCycles=3\n", "line 2: phase line has no rowWords"},
      {header + "phase=1 horizonCycles=-3 rowWords=2 scheduleCodegenMedianMs=1.0\n", "line 2: malformed phase line"},
      {header + "phase=1 horizonCycles=3 rowWords=2 scheduleCodegenMedianMs=fast\n", "line 2: malformed phase line"},
      {header + "phase=4294967296 horizonCycles=3 rowWords=2 scheduleCodegenMedianMs=1\n",
       "line 2: malformed phase line"},
      {header + "phase=1 horizonCycles=3 rowWords=2 scheduleCodegenMedianMs=1\n"
                "phase=1 horizonCycles=3 rowWords=2 scheduleCodegenMedianMs=1\n",
       "line 3: phase 1 appears twice"},
      {"{\"type\":\"phase\"", "line 1: The JSON document has an improper structure: missing or superfluous commas, "
                               "braces, missing keys, etc."},
      {"{\"tiles\":4}\n", "line 1: object has no \"type\" string"},
      {json_header + "{\"type\":\"phase\",\"phase\":1,\"rowWords\":2,\"scheduleCodegenMedianMs\":1}\n",
       "line 2: key horizonCycles: The JSON field referenced does not exist in this object."},
      {json_header + "{\"type\":\"phase\",\"phase\":1,\"horizonCycles\":\"3\",\"rowWords\":2,"
                     "\"scheduleCodegenMedianMs\":1}\n",
       "line 2: key horizonCycles: The JSON element does not have the requested type."},
      {json_header + "{\"type\":\"total\"} {}\n", "line 2: The JSON document has an improper structure: missing or "
                                                   "superfluous commas, braces, missing keys, etc."},
      {"{\"type\":\"total\",\"totalMs\":1}\n", "no report header object"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parse_baseline(c.text);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error(), c.error);
  }
}

// Timings and percentages masked, and with them the column widths they set.
std::string mask_timings(const std::string& text) {
  return std::regex_replace(std::regex_replace(text, std::regex("[-+]?[0-9]+\\.[0-9]+%?|n/a"), "T"),
                            std::regex(" +"), " ");
}

// A baseline with a larger horizon for phase 5, a smaller row count for phase 9 and a phase the
// run does not have.
TEST(Baseline, ComparesPhasesAndFailsOnRegressionOnlyWhenAsked) {
  const std::string snapshot = data_path("tools_two_phases.json");
  const std::string baseline = write_temp_file(
      "baseline.txt",
      "snapshot=old.json tiles=4 phases=3 warmup=0 iterations=1 repeatAware=true\n"
      "phase=5 horizonCycles=130 rowWords=29 scheduleCodegenMedianMs=0.100\n"
      "phase=9 horizonCycles=180 rowWords=8 scheduleCodegenMedianMs=0.100\n"
      "phase=11 horizonCycles=1 rowWords=1 scheduleCodegenMedianMs=0.100\n");
  const std::string expected =
      "Comparison with baseline " + baseline + "\n"
      "  old: snapshot=old.json tiles=4 iterations=1 repeatAware=true\n"
      "  new: snapshot=" + snapshot + " tiles=4 iterations=1 repeatAware=true\n"
      "       horizonCycles     rowWords        scheduleCodegenMedianMs\n"
      "phase  old  new  change  old  new  change    old    new  change\n"
      "5      130  125    T  29   29    T  T  T    T\n"
      "9      180  180    T   8   10   T  T  T    T\n"
      "Only in the baseline: phase 11\n"
      "Regression: phase 9 rowWords grew from 8 to 10\n";

  const auto plain = run_replay({snapshot});
  const auto compared = run_replay({snapshot, "--baseline", baseline});
  EXPECT_EQ(compared.status, 0);
  EXPECT_EQ(std::regex_replace(compared.out, std::regex("Ms=[0-9.]+"), ""),
            std::regex_replace(plain.out, std::regex("Ms=[0-9.]+"), ""));
  EXPECT_EQ(mask_timings(compared.err), mask_timings(expected)) << compared.err;
  EXPECT_NE(compared.err.find("-3.8%"), std::string::npos) << "horizon 130 -> 125";
  EXPECT_NE(compared.err.find("+25.0%"), std::string::npos) << "rowWords 8 -> 10";

  const auto failing = run_replay({snapshot, "--baseline", baseline, "--fail-on-regression"});
  EXPECT_EQ(failing.status, 3);
  EXPECT_EQ(mask_timings(failing.err), mask_timings(expected));

  // A baseline of this very run, in either format, passes and lists a phase only in the run.
  for (const char* format : {"text", "json"}) {
    SCOPED_TRACE(format);
    const auto earlier = run_replay({snapshot, "--phase", "5", "--report-format", format});
    const std::string path = write_temp_file(std::string("same.") + format, earlier.out);
    const auto again = run_replay({snapshot, "--baseline", path, "--fail-on-regression"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Only in this run: phase 9\n"), std::string::npos) << again.err;
    EXPECT_EQ(again.err.find("Regression"), std::string::npos);
  }
}

TEST(Baseline, UnreadableBaselineFailsBeforeTheHeader) {
  const std::string snapshot = data_path("tools_two_phases.json");
  const std::string garbage = write_temp_file("garbage.txt", "hello\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{snapshot, "--baseline", "/nonexistent/b.txt"},
       "Error: open baseline /nonexistent/b.txt\n\nCaused by:\n    No such file or directory\n"},
      {{snapshot, "--baseline", garbage},
       "Error: parse baseline " + garbage + "\n\nCaused by:\n    no report header line (snapshot=...)\n"},
      {{snapshot, "--baseline", "/"}, "Error: parse baseline /\n\nCaused by:\n    Is a directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const auto run = run_replay(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
  const auto usage = run_replay({snapshot, "--fail-on-regression"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("--fail-on-regression requires --baseline"), std::string::npos);
}

}  // namespace
}  // namespace tessel_tools
