#pragma once
// The run loop: header, the selected phases one after the other, the closing line.

#include <cstdio>
#include <expected>

#include "tessel_tools/arguments.hpp"
#include "tessel_tools/loading.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

// Writes the report to `out`; lines are flushed as they complete so that nothing printed is lost when
// a later phase fails.
std::expected<void, RunError> run_benchmark(const Arguments& args, const LoadedSnapshot& loaded, std::FILE* out);

}  // namespace tessel_tools
