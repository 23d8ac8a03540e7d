#include "test_support/run_program.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace test_support {

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string temp_dir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/tessel-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return dir;
}

}  // namespace

ProgramRun run_program(const std::string& program, const std::vector<std::string>& args) {
  static int counter = 0;
  const std::string base = temp_dir() + "/run" + std::to_string(counter++);
  const std::string out_path = base + ".out";
  const std::string err_path = base + ".err";

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  ProgramRun run;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = slurp(out_path);
  run.err = slurp(err_path);
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return run;
}

std::string replay_binary() { return TESSEL_REPLAY_BINARY; }

ProgramRun run_replay(const std::vector<std::string>& args) { return run_program(TESSEL_REPLAY_BINARY, args); }

std::string data_path(const std::string& name) { return std::string(TESSEL_TEST_DATA) + "/" + name; }

std::string write_temp_file(const std::string& name, const std::string& text) {
  const std::string path = temp_dir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

}  // namespace test_support
