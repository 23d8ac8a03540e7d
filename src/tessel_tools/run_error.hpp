#pragma once
// The error that ends a run: a message and, for file errors, the chain of causes under it.

#include <cstdio>
#include <string>
#include <vector>

namespace tessel_tools {

struct RunError {
  std::string message;
  std::vector<std::string> causes;
};

// "Error: " and the message; with causes, an empty line, "Caused by:" and each cause indented by four
// spaces (numbered when there are two or more).
std::string render_error(const RunError& error);

}  // namespace tessel_tools
