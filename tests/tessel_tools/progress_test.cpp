#include "tessel_tools/progress.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "test_support/run_program.hpp"

namespace tessel_tools {
namespace {

using test_support::data_path;
using test_support::run_program;
using test_support::run_replay;

// Everything written to a stream.
std::string contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[256];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  return text;
}

TEST(Progress, Text) {
  using namespace std::chrono;
  EXPECT_EQ(progress_text(2, 5, 7, milliseconds(3450)), "phase 2 of 5 (ID 7), 3.5 s");
  EXPECT_EQ(progress_text(1, 1, 4294967295u, nanoseconds(0)), "phase 1 of 1 (ID 4294967295), 0.0 s");
}

TEST(Progress, DrawsOnlyWhenEnabledAndEitherSeveralPhasesOrALongRun) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  Progress disabled(file, false);
  disabled.start(3);
  disabled.update(1, 5);
  disabled.erase();
  EXPECT_EQ(contents(file), "");

  Progress single(file, true);
  single.start(1);
  single.update(1, 5);
  single.erase();
  EXPECT_EQ(contents(file), "") << "a single phase shows nothing in its first second";

  Progress several(file, true);
  several.start(3);
  several.update(1, 5);
  several.update(1, 5);  // too soon to redraw
  several.erase();
  several.erase();  // nothing left to erase
  const std::string line = "phase 1 of 3 (ID 5), 0.0 s";
  EXPECT_EQ(contents(file), "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
  std::fclose(file);
}

TEST(Progress, NothingOnStandardErrorWhenItIsNotATerminal) {
  for (const char* snapshot : {"tools_two_phases.json", "../../examples/small.json"}) {
    SCOPED_TRACE(snapshot);
    const auto run = run_replay({data_path(snapshot), "--iterations", "2"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
  }
}

// The lines a terminal shows for `text`: carriage returns go back to the start of the line and
// later characters overwrite earlier ones; trailing blanks are dropped.
std::vector<std::string> screen_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t column = 0;
  for (char c : text) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
      line.clear();
      column = 0;
    } else {
      if (column < line.size())
        line[column] = c;
      else
        line += c;
      ++column;
    }
  }
  if (line.find_first_not_of(' ') != std::string::npos) lines.push_back(line);
  return lines;
}

std::string masked(const std::string& text) { return std::regex_replace(text, std::regex("Ms=[0-9.]+"), "Ms=X"); }

// On a terminal (a pseudo-terminal made by script(1)) the indicator appears and is erased before
// every report line and before the error message, so the screen shows exactly the report.
TEST(Progress, ErasedBeforeReportLinesAndErrorsOnATerminal) {
  const std::string script = "/usr/bin/script";
  if (access(script.c_str(), X_OK) != 0) GTEST_SKIP() << "script(1) is not installed";
  struct Case {
    std::string snapshot, tile;
    int status;
  };
  const Case cases[] = {
      {data_path("tools_two_phases.json"), "1", 0},
      {data_path("tools_failing_second_phase.json"), "1", 1},
      {data_path("tools_two_phases.json"), "99", 1},  // fails in the first phase, with the line still shown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.snapshot + " --dump-tile " + c.tile);
    const auto plain = run_replay({c.snapshot, "--dump-tile", c.tile});
    ASSERT_EQ(plain.status, c.status);
    const auto on_terminal = run_program(
        script,
        {"-q", "-e", "-c", test_support::replay_binary() + " '" + c.snapshot + "' --dump-tile " + c.tile, "/dev/null"});
    EXPECT_EQ(on_terminal.status, c.status);
    EXPECT_NE(on_terminal.out.find("phase 1 of 2 (ID 5)"), std::string::npos) << on_terminal.out;
    std::vector<std::string> expected;
    std::istringstream in(masked(plain.out + plain.err));
    for (std::string line; std::getline(in, line);) expected.push_back(line);
    EXPECT_EQ(screen_lines(masked(on_terminal.out)), expected);
  }
}

}  // namespace
}  // namespace tessel_tools
