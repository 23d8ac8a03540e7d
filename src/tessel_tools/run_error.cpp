#include "tessel_tools/run_error.hpp"

#include <fmt/format.h>

namespace tessel_tools {

std::string render_error(const RunError& error) {
  std::string out = fmt::format("Error: {}\n", error.message);
  if (error.causes.empty()) return out;
  out += "\nCaused by:\n";
  for (std::size_t i = 0; i < error.causes.size(); ++i) {
    if (error.causes.size() == 1)
      out += fmt::format("    {}\n", error.causes[i]);
    else
      out += fmt::format("    {}: {}\n", i, error.causes[i]);
  }
  return out;
}

}  // namespace tessel_tools
