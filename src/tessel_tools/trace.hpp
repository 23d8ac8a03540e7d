#pragma once
// The schedule timeline of every replayed phase as a Trace Event Format file (JSON object form).
//
// One process per phase, one thread per logical tile with activities, one complete event per
// activity spanning its start to its horizon, and the phase's horizon and endpoint lower bound as
// process-level instant events. One microsecond of trace time is one cycle. A tile's send and
// receive sides work at the same time, so its activities can overlap; timeline viewers drop
// complete events that overlap without nesting, so such activities go to further threads of the
// same tile ("tile N lane 2", ...) and no two events of one thread overlap.

#include <cstddef>
#include <cstdio>
#include <expected>
#include <memory>
#include <string>
#include <vector>

#include "tessel_codegen/exchange/physical_phase.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_tools/run_error.hpp"

namespace tessel_tools {

// The events of one phase, comma-separated, without the enclosing brackets. `process` is the
// phase's position in the run, from 1; it is the events' pid.
std::string trace_phase_events(std::size_t process, std::uint16_t tile_count,
                               const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                               const tessel_codegen::exchange::PhysicalExchangePhase& result);

// A trace file being written. After every added phase the file is a complete, valid trace of the
// phases added so far: the closing part is written after each phase and overwritten by the next.
class TraceFile {
 public:
  // Creates (or truncates) the file and writes an empty trace; `other_data` is the JSON object
  // stored under "otherData". Refuses a path that names one of `inputs`, which it would destroy.
  static std::expected<TraceFile, RunError> create(const std::string& path, const std::string& other_data,
                                                   const std::vector<std::string>& inputs);

  std::expected<void, RunError> add_phase(std::size_t process, std::uint16_t tile_count,
                                          const tessel_codegen::exchange::ExchangeScheduleProblem& problem,
                                          const tessel_codegen::exchange::PhysicalExchangePhase& result);

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  TraceFile(std::string path, std::unique_ptr<std::FILE, Closer> file, std::string tail)
      : path_(std::move(path)), file_(std::move(file)), tail_(std::move(tail)) {}

  std::expected<void, RunError> write_at_end_of_events(const std::string& events);

  std::string path_;
  std::unique_ptr<std::FILE, Closer> file_;
  std::string tail_;          // closes the event list and the object
  long events_end_ = 0;       // file position where the closing part starts
  bool has_events_ = false;
};

// The "otherData" object of a replay's trace: the time unit and the run's header values.
std::string trace_other_data(const std::string& snapshot, std::size_t tile_count, bool repeat_aware);

}  // namespace tessel_tools
