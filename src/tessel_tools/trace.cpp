#include "tessel_tools/trace.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tessel_tools/json_text.hpp"

namespace tessel_tools {

namespace {

using tessel_codegen::exchange::ExchangeActivity;
using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::PhysicalExchangePhase;

std::uint32_t span_cycles(const ExchangeActivity& a) { return a.horizon > a.start ? a.horizon - a.start : 0; }

// Splits a tile's activities into lanes in which no two overlap: each activity, by start cycle,
// goes to the first lane that is free by then. Returns the lanes as positions in `activities`.
std::vector<std::vector<std::size_t>> activity_lanes(const std::vector<ExchangeActivity>& activities) {
  std::vector<std::size_t> by_start(activities.size());
  for (std::size_t i = 0; i < by_start.size(); ++i) by_start[i] = i;
  std::stable_sort(by_start.begin(), by_start.end(),
                   [&](std::size_t a, std::size_t b) { return activities[a].start < activities[b].start; });
  std::vector<std::vector<std::size_t>> lanes;
  std::vector<std::uint32_t> lane_free_at;
  for (std::size_t i : by_start) {
    const ExchangeActivity& a = activities[i];
    std::size_t lane = 0;
    while (lane < lanes.size() && lane_free_at[lane] > a.start) ++lane;
    if (lane == lanes.size()) {
      lanes.emplace_back();
      lane_free_at.push_back(0);
    }
    lanes[lane].push_back(i);
    lane_free_at[lane] = std::max(a.start, a.horizon);
  }
  return lanes;
}

bool same_file(const struct stat& a, const std::string& path) {
  struct stat b {};
  return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string trace_phase_events(std::size_t process, std::uint16_t tile_count, const ExchangeScheduleProblem& problem,
                               const PhysicalExchangePhase& result) {
  std::string out;
  const auto add = [&](const std::string& event) {
    if (!out.empty()) out += ",\n";
    out += event;
  };
  add(fmt::format(R"({{"name":"process_name","ph":"M","pid":{},"args":{{"name":"phase {}"}}}})", process,
                  problem.phase));
  add(fmt::format(R"({{"name":"process_sort_index","ph":"M","pid":{},"args":{{"sort_index":{}}}}})", process,
                  process));

  // Lane 0 of tile t is thread t; lane k > 0 is thread k * tile_count + t, so thread ids stay unique.
  std::size_t thread_position = 0;
  for (std::size_t tile = 0; tile < result.activities.size(); ++tile) {
    const auto& activities = result.activities[tile];
    const auto lanes = activity_lanes(activities);
    for (std::size_t lane = 0; lane < lanes.size(); ++lane) {
      const std::size_t thread = lane * tile_count + tile;
      const std::string name = lane == 0 ? fmt::format("tile {}", tile) : fmt::format("tile {} lane {}", tile, lane + 1);
      add(fmt::format(R"({{"name":"thread_name","ph":"M","pid":{},"tid":{},"args":{{"name":"{}"}}}})", process, thread,
                      name));
      add(fmt::format(R"({{"name":"thread_sort_index","ph":"M","pid":{},"tid":{},"args":{{"sort_index":{}}}}})",
                      process, thread, thread_position++));
      for (std::size_t i : lanes[lane]) {
        const ExchangeActivity& a = activities[i];
        const char* kind = activity_kind_name(a.kind);
        add(fmt::format(
            R"({{"name":"{} {}","cat":"{}","ph":"X","pid":{},"tid":{},"ts":{},"dur":{},"args":{{"tile":{},"transfer":{},"words":{},"address":"0x{:x}","payload_end":{},"destinations":{},"width":"{}"}}}})",
            kind, a.transfer, kind, process, thread, a.start, span_cycles(a), tile, a.transfer, a.words, a.address,
            a.payload_end, a.destination_count,
            a.width == tessel_codegen::exchange::ExchangeItemWidth::Paired64 ? "Paired64" : "Word32"));
      }
    }
  }

  add(fmt::format(R"({{"name":"horizon","cat":"phase","ph":"i","s":"p","pid":{},"ts":{},"args":{{"cycles":{}}}}})",
                  process, result.horizon, result.horizon));
  add(fmt::format(
      R"({{"name":"endpoint lower bound","cat":"phase","ph":"i","s":"p","pid":{},"ts":{},"args":{{"cycles":{}}}}})",
      process, result.endpoint_lower_bound, result.endpoint_lower_bound));
  return out;
}

std::string trace_other_data(const std::string& snapshot, std::size_t tile_count, bool repeat_aware) {
  return fmt::format(
      R"({{"timeUnit":"one microsecond of trace time is one cycle from the phase-entry sync","snapshot":{},"tiles":{},"repeatAware":{}}})",
      json_string(snapshot), tile_count, repeat_aware ? "true" : "false");
}

std::expected<TraceFile, RunError> TraceFile::create(const std::string& path, const std::string& other_data,
                                                     const std::vector<std::string>& inputs) {
  const std::string context = fmt::format("create trace {}", path);
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0)
    for (const std::string& input : inputs)
      if (same_file(existing, input))
        return std::unexpected(RunError{context, {fmt::format("it is the input file {}", input)}});

  errno = 0;
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
  if (!file) return std::unexpected(RunError{context, {std::strerror(errno)}});
  TraceFile trace(path, std::move(file), fmt::format("\n],\n\"displayTimeUnit\":\"ms\",\n\"otherData\":{}}}\n", other_data));
  const std::string head = "{\"traceEvents\":[\n";
  errno = 0;
  if (std::fwrite(head.data(), 1, head.size(), trace.file_.get()) != head.size())
    return std::unexpected(RunError{context, {std::strerror(errno)}});
  trace.events_end_ = static_cast<long>(head.size());
  if (auto written = trace.write_at_end_of_events(""); !written) return std::unexpected(written.error());
  return trace;
}

std::expected<void, RunError> TraceFile::add_phase(std::size_t process, std::uint16_t tile_count,
                                                   const ExchangeScheduleProblem& problem,
                                                   const PhysicalExchangePhase& result) {
  std::string events = trace_phase_events(process, tile_count, problem, result);
  if (has_events_) events.insert(0, ",\n");
  has_events_ = true;
  return write_at_end_of_events(events);
}

// Writes `events` over the closing part, then the closing part again after them.
std::expected<void, RunError> TraceFile::write_at_end_of_events(const std::string& events) {
  std::FILE* file = file_.get();
  errno = 0;
  bool ok = std::fseek(file, events_end_, SEEK_SET) == 0;
  ok = ok && std::fwrite(events.data(), 1, events.size(), file) == events.size();
  const long end = ok ? std::ftell(file) : -1;
  ok = ok && end >= 0 && std::fwrite(tail_.data(), 1, tail_.size(), file) == tail_.size();
  ok = ok && std::fflush(file) == 0;
  if (!ok) {
    const int saved = errno;
    return std::unexpected(RunError{fmt::format("write trace {}", path_), {std::strerror(saved != 0 ? saved : EIO)}});
  }
  events_end_ = end;
  return {};
}

}  // namespace tessel_tools
