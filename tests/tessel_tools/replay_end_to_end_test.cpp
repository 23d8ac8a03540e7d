// The built program on fixture snapshots, as a user runs it: standard output (timing figures masked),
// standard error and exit status.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "test_support/run_program.hpp"

namespace {

using test_support::data_path;
using test_support::run_replay;
using test_support::write_temp_file;

std::string masked(const std::string& report) {
  static const std::regex milliseconds("Ms=[0-9]+\\.[0-9]{3}");
  return std::regex_replace(report, milliseconds, "Ms=<ms>");
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The fixture's path as the report prints it.
std::string fixture_header(const std::string& text) {
  return std::regex_replace(text, std::regex("snapshot=tests/data/"), "snapshot=" + data_path(""));
}

TEST(Replay, FixtureReports) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    const char* expected;  // in tests/data
  };
  // replay.json: 1 point-to-point at its incoming base, 2 multicast, 3 paired, 4 Word32 loopback
  // multicast, 5 three Repeat source addresses, one of them written by the phase, 6 memory
  // dependencies, 7 empty.
  const Case cases[] = {
      {"every phase", {}, "replay.out"},
      {"first iteration only", {"--first-iteration-only"}, "replay-first-iteration.out"},
      {"selected phases in file order", {"--phase", "7", "--phase", "2", "--warmup", "2", "--iterations", "3"},
       "replay-selected.out"},
      {"dump of an active tile", {"--phase", "2", "--phase", "3", "--dump-tile", "4"}, "replay-dump-active.out"},
      {"dump of an inactive tile", {"--phase", "2", "--dump-tile", "7"}, "replay-dump-inactive.out"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{data_path("replay.json")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = run_replay(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(masked(run.out), fixture_header(read_file(data_path(c.expected))));
  }
}

TEST(Replay, ErrorsKeepWhatWasPrinted) {
  const std::string fixture = data_path("replay.json");
  const std::string header = "snapshot=" + fixture + " tiles=8 phases=7 warmup=1 iterations=1 repeatAware=true\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;  // empty: nothing on standard output
    std::string err;
  };
  const Case cases[] = {
      {"dump tile at the tile count", {fixture, "--dump-tile", "8", "--warmup", "1"}, header,
       "Error: logical tile 8 is out of range\n"},
      {"zero iterations before the file is opened", {"/nonexistent/snapshot.json", "--iterations", "0"}, "",
       "Error: --iterations must be nonzero\n"},
      {"missing file", {"/nonexistent/snapshot.json"}, "",
       "Error: open /nonexistent/snapshot.json\n\nCaused by:\n    No such file or directory\n"},
      {"duplicate phase option", {fixture, "--phase", "3", "--phase", "3"}, "",
       "Error: --phase contains a duplicate phase ID\n"},
      {"smallest missing phase", {fixture, "--phase", "9", "--phase", "8", "--phase", "2"}, "",
       "Error: snapshot does not contain phase 8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto run = run_replay(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, c.out);
  }
}

TEST(Replay, SmallestSnapshotAndParseErrors) {
  const auto smallest = write_temp_file("smallest.json", R"({"schema_version": 3, "tile_count": 1, "phases": []})");
  const auto run = run_replay({smallest});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(masked(run.out), "snapshot=" + smallest + " tiles=1 phases=0 warmup=0 iterations=1 repeatAware=true\n"
                             "totalMs=<ms>\n");

  const auto malformed = write_temp_file("malformed.json", "{\"schema_version\": 3,\n \"tile_count\": 1.5}");
  const auto parse = run_replay({malformed});
  EXPECT_EQ(parse.status, 1);
  EXPECT_EQ(parse.out, "");
  EXPECT_EQ(parse.err, "Error: parse " + malformed +
                           "\n\nCaused by:\n    invalid type: floating point `1.5`, expected u16 at line 2 column 16\n");
}

// A snapshot with an empty phase 1 and a phase 7 holding the given transfers.
std::string fmt_snapshot(int tile_count, const std::string& transfers) {
  return "{\"schema_version\": 3, \"tile_count\": " + std::to_string(tile_count) +
         ", \"phases\": [{\"phase\": 1, \"transfers\": []}, {\"phase\": 7, \"transfers\": [" + transfers + "]}]}";
}

// Every transfer check of the snapshot conversion, reached from a file.
TEST(Replay, InvalidTransfersAreRejectedBeforeAnyPhase) {
  struct Case {
    const char* transfer;  // the second transfer of phase 7
    std::string message;
    int tile_count = 8;
  };
  const std::string p = "Error: invalid exchange-schedule snapshot: phase 7 transfer 1 ";
  const Case cases[] = {
      {R"({"source": 8, "source_addresses": [0], "destinations": [[1, 0]], "words": 4, "width": "Word32"})",
       p + "has source tile 8 outside 0..8\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 0]], "words": 0, "width": "Word32"})",
       p + "has invalid word count 0\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 0]], "words": 4149, "width": "Word32"})",
       p + "has invalid word count 4149\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 0]], "words": 4148, "width": "Word32"})", ""},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[2, 0], [3, 0]], "words": 126, "width": "Paired64"})",
       p + "has invalid 126-word paired payload\n"},
      {R"({"source": 0, "source_addresses": [], "destinations": [[1, 0]], "words": 4, "width": "Word32"})",
       p + "has no source addresses\n"},
      {R"({"source": 0, "source_addresses": [6], "destinations": [[1, 0]], "words": 4, "width": "Word32"})",
       p + "has unaligned source address 0x6\n"},
      {R"({"source": 0, "source_addresses": [4294967280], "destinations": [[1, 0]], "words": 4, "width": "Word32"})",
       "Error: exchange address arithmetic overflowed\n"},
      {R"({"source": 0, "source_addresses": [4294967280], "destinations": [[1, 0]], "words": 3, "width": "Word32"})", ""},
      {R"({"source": 0, "source_addresses": [0], "destinations": [], "words": 4, "width": "Word32"})",
       p + "has no destinations\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[8, 0]], "words": 4, "width": "Word32"})",
       p + "has invalid destination tile 8\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[0, 16384]], "words": 4, "width": "Word32"})",
       p + "has invalid destination tile 0\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 0], [0, 256]], "words": 4, "width": "Word32"})",
       p + "has invalid destination tile 0\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 0], [1, 64]], "words": 4, "width": "Word32"})",
       p + "has invalid destination tile 1\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 18]], "words": 4, "width": "Word32"})",
       p + "has unaligned destination address 0x12\n"},
      {R"({"source": 0, "source_addresses": [0], "destinations": [[1, 4294967292]], "words": 2, "width": "Word32"})",
       "Error: exchange address arithmetic overflowed\n"},
      {R"({"source": 6, "source_addresses": [0], "destinations": [[2, 0], [3, 0]], "words": 128, "width": "Paired64"})",
       p + "has paired source tile 6 whose partner tile 7 is outside 0..7\n", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.transfer);
    const std::string snapshot =
        fmt_snapshot(c.tile_count, std::string(R"({"source": 0, "source_addresses": [0], "destinations": [[1, 0]], "words": 4, "width": "Word32"}, )") +
                                       c.transfer);
    const auto path = write_temp_file("transfer.json", snapshot);
    // Only phase 1 is selected: the bad transfer of phase 7 still rejects the snapshot.
    const auto run = run_replay({path, "--phase", "1"});
    if (c.message.empty()) {
      EXPECT_EQ(run.status, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.message);
  }
}

}  // namespace
