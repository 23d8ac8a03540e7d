#pragma once
// The command line of tessel_replay.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tessel_tools {

inline constexpr const char* kProgramName = "tessel-tools";
inline constexpr const char* kProgramVersion = "0.1.0";

enum class ReportFormat { Text, Json };

struct Arguments {
  std::string snapshot;
  std::vector<std::uint32_t> phases;
  std::size_t warmup = 0;
  std::size_t iterations = 1;
  bool first_iteration_only = false;
  std::optional<std::size_t> dump_tile;
  // Outputs beside the report.
  std::optional<std::string> trace;
  ReportFormat report_format = ReportFormat::Text;
  std::optional<std::string> baseline;
  bool fail_on_regression = false;
};

// Either the parsed arguments, or the exit status after the parser has handled the command line
// itself (--help and --version: 0 with the text on standard output; a usage error: 2 with the
// message on standard error).
using ParsedCommandLine = std::variant<Arguments, int>;

ParsedCommandLine parse_arguments(int argc, const char* const* argv);

}  // namespace tessel_tools
