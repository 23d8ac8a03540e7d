#include "tessel_tools/trace.hpp"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include <fmt/format.h>

#include "tessel_codegen/exchange/phase_entry.hpp"
#include "tessel_tools/loading.hpp"
#include "test_support/run_program.hpp"

namespace tessel_tools {
namespace {

using test_support::data_path;
using test_support::run_replay;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string mask_timings(const std::string& report) {
  return std::regex_replace(report, std::regex("Ms=[0-9.]+"), "Ms=X");
}

// One complete event as the trace holds it.
struct TracedActivity {
  std::uint64_t pid, tid, ts, dur, tile, transfer, words, payload_end, destinations;
  std::string name, address;
};

struct ParsedTrace {
  std::map<std::uint64_t, std::string> process_names;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> thread_names;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> thread_order;
  std::vector<TracedActivity> activities;
  std::map<std::pair<std::uint64_t, std::string>, std::uint64_t> instants;  // (pid, name) -> ts
  std::string time_unit;
};

ParsedTrace parse_trace(const std::string& path) {
  ParsedTrace trace;
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  const simdjson::padded_string text(slurp(path));
  auto error = parser.parse(text).get(root);
  EXPECT_EQ(error, simdjson::SUCCESS) << "the trace is not valid JSON";
  if (error) return trace;
  std::string_view unit;
  EXPECT_EQ(root["otherData"]["timeUnit"].get(unit), simdjson::SUCCESS);
  trace.time_unit = unit;
  simdjson::dom::array events;
  EXPECT_EQ(root["traceEvents"].get(events), simdjson::SUCCESS);
  for (simdjson::dom::object event : events) {
    std::string_view ph, name;
    std::uint64_t pid = 0;
    EXPECT_EQ(event["ph"].get(ph), simdjson::SUCCESS);
    EXPECT_EQ(event["name"].get(name), simdjson::SUCCESS);
    EXPECT_EQ(event["pid"].get(pid), simdjson::SUCCESS);
    if (ph == "M") {
      std::uint64_t tid = 0;
      const bool has_tid = event["tid"].get(tid) == simdjson::SUCCESS;
      std::string_view label;
      std::uint64_t index = 0;
      if (name == "process_name" && event["args"]["name"].get(label) == simdjson::SUCCESS)
        trace.process_names[pid] = label;
      else if (name == "thread_name" && has_tid && event["args"]["name"].get(label) == simdjson::SUCCESS)
        trace.thread_names[{pid, tid}] = label;
      else if (name == "thread_sort_index" && has_tid &&
               event["args"]["sort_index"].get(index) == simdjson::SUCCESS)
        trace.thread_order[{pid, tid}] = index;
      else
        EXPECT_TRUE(name == "process_sort_index") << name;
    } else if (ph == "X") {
      TracedActivity a{};
      a.pid = pid;
      a.name = name;
      simdjson::dom::object args = event["args"];
      std::string_view address;
      EXPECT_EQ(event["tid"].get(a.tid), simdjson::SUCCESS);
      EXPECT_EQ(event["ts"].get(a.ts), simdjson::SUCCESS);
      EXPECT_EQ(event["dur"].get(a.dur), simdjson::SUCCESS);
      EXPECT_EQ(args["tile"].get(a.tile), simdjson::SUCCESS);
      EXPECT_EQ(args["transfer"].get(a.transfer), simdjson::SUCCESS);
      EXPECT_EQ(args["words"].get(a.words), simdjson::SUCCESS);
      EXPECT_EQ(args["payload_end"].get(a.payload_end), simdjson::SUCCESS);
      EXPECT_EQ(args["destinations"].get(a.destinations), simdjson::SUCCESS);
      EXPECT_EQ(args["address"].get(address), simdjson::SUCCESS);
      a.address = address;
      trace.activities.push_back(a);
    } else {
      EXPECT_EQ(ph, "i");
      std::string_view scope;
      std::uint64_t ts = 0;
      EXPECT_EQ(event["s"].get(scope), simdjson::SUCCESS);
      EXPECT_EQ(scope, "p") << "phase-level events belong to the process track";
      EXPECT_EQ(event["ts"].get(ts), simdjson::SUCCESS);
      trace.instants[{pid, std::string(name)}] = ts;
    }
  }
  return trace;
}

// Every activity of every phase of the fixture appears exactly once, on a thread of its tile, with
// its start and span; the processes, threads and phase-level events are named and ordered.
TEST(Trace, HoldsEveryActivityOnceWithItsTimes) {
  const std::string snapshot = data_path("tools_two_phases.json");
  const std::string path = test_support::write_temp_file("two_phases.trace.json", "");
  const auto run = run_replay({snapshot, "--trace", path, "--iterations", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const ParsedTrace trace = parse_trace(path);
  EXPECT_NE(trace.time_unit.find("one microsecond of trace time is one cycle"), std::string::npos);

  Arguments args;
  args.snapshot = snapshot;
  auto loaded = load_snapshot(args);
  ASSERT_TRUE(loaded.has_value());
  ASSERT_EQ(loaded->selected.size(), 2u);

  std::multiset<std::tuple<std::uint64_t, std::string, std::uint64_t>> seen;  // (pid, name, tile)
  for (const TracedActivity& a : trace.activities) seen.insert({a.pid, a.name, a.tile});
  std::size_t expected_events = 0;
  for (std::size_t position = 1; position <= 2; ++position) {
    const auto& problem = loaded->snapshot.phases[loaded->selected[position - 1]];
    SCOPED_TRACE(testing::Message() << "phase " << problem.phase);
    auto result = tessel_codegen::exchange::schedule_exchange_problem(loaded->snapshot.tile_count, problem);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(trace.process_names.at(position), "phase " + std::to_string(problem.phase));
    EXPECT_EQ(trace.instants.at({position, "horizon"}), result->horizon);
    EXPECT_EQ(trace.instants.at({position, "endpoint lower bound"}), result->endpoint_lower_bound);

    std::uint64_t previous_order = 0;
    bool first_thread = true;
    for (std::size_t tile = 0; tile < result->activities.size(); ++tile) {
      const bool has_thread = trace.thread_names.contains({position, tile});
      EXPECT_EQ(has_thread, !result->activities[tile].empty()) << "tile " << tile;
      if (!has_thread) continue;
      EXPECT_EQ(trace.thread_names.at({position, tile}), "tile " + std::to_string(tile));
      const std::uint64_t order = trace.thread_order.at({position, tile});
      EXPECT_TRUE(first_thread || order > previous_order) << "threads are sorted by tile";
      first_thread = false;
      previous_order = order;

      for (const auto& activity : result->activities[tile]) {
        const std::string name =
            std::string(activity_kind_name(activity.kind)) + " " + std::to_string(activity.transfer);
        SCOPED_TRACE(name);
        ++expected_events;
        EXPECT_EQ(seen.count({position, name, tile}), 1u);
        for (const TracedActivity& a : trace.activities) {
          if (a.pid != position || a.name != name || a.tile != tile) continue;
          EXPECT_EQ(a.ts, activity.start);
          EXPECT_EQ(a.dur, activity.horizon - activity.start);
          EXPECT_EQ(a.transfer, activity.transfer);
          EXPECT_EQ(a.words, activity.words);
          EXPECT_EQ(a.payload_end, activity.payload_end);
          EXPECT_EQ(a.destinations, activity.destination_count);
          EXPECT_EQ(a.address, fmt::format("0x{:x}", activity.address));
          EXPECT_TRUE(trace.thread_names.at({a.pid, a.tid}).starts_with("tile " + std::to_string(tile)));
        }
      }
    }
  }
  EXPECT_EQ(trace.activities.size(), expected_events);
  EXPECT_EQ(trace.process_names.size(), 2u);
}

// Viewers drop complete events that overlap on one thread without nesting; a tile that sends while
// it receives needs a second thread.
TEST(Trace, NoTwoEventsOfAThreadOverlap) {
  const std::string path = test_support::write_temp_file("small.trace.json", "");
  const auto run = run_replay({data_path("../../examples/small.json"), "--trace", path});
  ASSERT_EQ(run.status, 0) << run.err;
  const ParsedTrace trace = parse_trace(path);
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<std::pair<std::uint64_t, std::uint64_t>>> spans;
  for (const TracedActivity& a : trace.activities) spans[{a.pid, a.tid}].push_back({a.ts, a.ts + a.dur});
  bool some_tile_has_two_threads = false;
  for (auto& [thread, list] : spans) {
    std::sort(list.begin(), list.end());
    for (std::size_t i = 1; i < list.size(); ++i)
      EXPECT_LE(list[i - 1].second, list[i].first) << "pid " << thread.first << " tid " << thread.second;
    some_tile_has_two_threads =
        some_tile_has_two_threads || trace.thread_names.at(thread).find(" lane ") != std::string::npos;
  }
  EXPECT_TRUE(some_tile_has_two_threads) << "the sample overlaps sends and receives";
}

TEST(Trace, ReportIsUnchangedAndFailedRunLeavesEarlierPhases) {
  const std::string snapshot = data_path("tools_two_phases.json");
  const std::string path = test_support::write_temp_file("unchanged.trace.json", "");
  const auto plain = run_replay({snapshot, "--dump-tile", "3"});
  const auto traced = run_replay({snapshot, "--dump-tile", "3", "--trace", path});
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(traced.status, 0);
  EXPECT_EQ(mask_timings(traced.out), mask_timings(plain.out));
  EXPECT_EQ(traced.err, "");

  // The second phase fails to encode: the trace holds the first and is still valid JSON.
  const std::string failed_path = test_support::write_temp_file("failed.trace.json", "");
  const auto failed = run_replay({data_path("tools_failing_second_phase.json"), "--trace", failed_path});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "Error: tile address 0x100000 is not encodable\n");
  const ParsedTrace trace = parse_trace(failed_path);
  EXPECT_EQ(trace.process_names, (std::map<std::uint64_t, std::string>{{1, "phase 5"}}));
  EXPECT_EQ(trace.activities.size(), 3u);
}

TEST(Trace, UnwritablePathFailsBeforeTheHeader) {
  const std::string snapshot = data_path("tools_two_phases.json");
  struct Case {
    std::string path, err;
  };
  const Case cases[] = {
      {"/nonexistent-dir/t.json",
       "Error: create trace /nonexistent-dir/t.json\n\nCaused by:\n    No such file or directory\n"},
      {"/", "Error: create trace /\n\nCaused by:\n    Is a directory\n"},
      {snapshot, "Error: create trace " + snapshot + "\n\nCaused by:\n    it is the input file " + snapshot + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto run = run_replay({snapshot, "--trace", c.path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
  EXPECT_NE(slurp(snapshot).find("\"schema_version\""), std::string::npos) << "the snapshot is intact";
}

}  // namespace
}  // namespace tessel_tools
