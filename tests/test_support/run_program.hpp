#pragma once
// Runs a program with arguments and collects its standard output, standard error and exit status.

#include <string>
#include <vector>

namespace test_support {

struct ProgramRun {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when the program did not exit normally
};

ProgramRun run_program(const std::string& program, const std::vector<std::string>& args);

// Path of the built tessel_replay.
std::string replay_binary();

// The built tessel_replay with these arguments.
ProgramRun run_replay(const std::vector<std::string>& args);

// Path of a fixture in tests/data.
std::string data_path(const std::string& name);

// Writes `text` to a fresh temporary file and returns its path.
std::string write_temp_file(const std::string& name, const std::string& text);

}  // namespace test_support
