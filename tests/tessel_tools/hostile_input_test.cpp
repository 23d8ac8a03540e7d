// The program on hostile snapshots, run as a user runs it: tens of megabytes of junk, deep nesting,
// huge tokens. Each is answered quickly, with exit status 1 and a parse error naming the file, or
// read as the valid snapshot it is.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "test_support/run_program.hpp"

namespace {

using test_support::run_replay;
using test_support::write_temp_file;

constexpr std::size_t kMegabyte = 1 << 20;

// Deterministic bytes of every value, as a corrupted or foreign file would hold.
std::string random_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<char>(state >> 56);
  }
  return bytes;
}

std::string repeated(std::size_t count, char c) { return std::string(count, c); }

const std::string kHead = R"({"schema_version": 3, "tile_count": 1, "phases": [])";

TEST(HostileInput, IsRejectedQuicklyWithAParseError) {
  struct Case {
    const char* name;
    std::string text;
    std::string cause;  // the whole "Caused by:" line
  };
  const Case cases[] = {
      {"30 MB of random bytes", random_bytes(30 * kMegabyte), "invalid UTF-8 at line 1 column 1"},
      {"30 MB of letters after a field", R"({"schema_version": 3 )" + repeated(30 * kMegabyte, 'x') + "}",
       "expected `,` or `}` at line 1 column 22"},
      {"a million levels of nesting in a skipped field",
       kHead + R"(, "note": )" + repeated(kMegabyte, '[') + repeated(kMegabyte, ']') + "}",
       "recursion limit exceeded at line 1 column 189"},
      {"30 MB of opening brackets", repeated(30 * kMegabyte, '['), "invalid type: sequence, expected u32 at line 1 column 2"},
      {"an unterminated 30 MB string", kHead + R"(, "note": ")" + repeated(30 * kMegabyte, 'a'),
       "unterminated string at line 1 column 62"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write_temp_file("hostile.json", c.text);
    const auto started = std::chrono::steady_clock::now();
    const auto run = run_replay({path});
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error: parse " + path + "\n\nCaused by:\n    " + c.cause + "\n");
    EXPECT_LT(elapsed, std::chrono::seconds(20));
  }
}

TEST(HostileInput, LongSkippedValuesAreReadInFull) {
  const std::string note = R"(, "note": ")" + repeated(20 * kMegabyte, 'a') + R"(", )";
  const std::string key = "\"" + repeated(20 * kMegabyte, 'k') + R"(": [1, 2.5, null])";
  const std::string path = write_temp_file("long.json", kHead + note + key + "}");
  const auto run = run_replay({path});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

// The largest iteration count is accepted; the first failing run ends it, with nothing allocated for
// the runs that never happen.
TEST(HostileInput, HugeIterationCountRunsUntilTheFirstFailure) {
  const auto run = run_replay({test_support::data_path("tools_failing_second_phase.json"), "--phase", "9",
                               "--iterations", "18446744073709551615"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Error: tile address 0x100000 is not encodable\n");
}

}  // namespace
