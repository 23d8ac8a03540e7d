#include "tessel_exchange/diagnostic/tile_validation.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <tuple>

#include "support/events.hpp"
#include "support/result.hpp"

namespace tessel_exchange::diagnostic {

namespace {

struct TimedControl {
  std::uint32_t cycle = 0;
  IncomingControl control;

  auto key() const { return std::tuple(cycle, control.stream, control.value); }
  bool operator==(const TimedControl& other) const { return key() == other.key(); }
  bool operator<(const TimedControl& other) const { return key() < other.key(); }
};

struct OutgoingInterval {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

std::unexpected<ExchangeError> mismatch(const char* reason) { return std::unexpected(ExchangeError::schedule(reason)); }

std::string describe(const TimedControl& c) { return fmt::format("({}, {})", c.cycle, to_string(c.control)); }

std::string describe_range(const std::vector<TimedControl>& list, std::size_t from, std::size_t to) {
  std::vector<std::string> parts;
  for (std::size_t i = from; i < to && i < list.size(); ++i) parts.push_back(describe(list[i]));
  return fmt::format("[{}]", fmt::join(parts, ", "));
}

void report_control_mismatch(std::size_t tile, const std::vector<TimedControl>& actual,
                             const std::vector<TimedControl>& expected) {
  using support::events::field;
  if (!support::events::enabled(support::events::Level::Debug, "tessel_exchange::diagnostic")) return;
  const std::size_t shorter = std::min(actual.size(), expected.size());
  std::size_t first = 0;
  while (first < shorter && actual[first] == expected[first]) ++first;
  const std::size_t from = first >= 3 ? first - 3 : 0;
  auto at = [&](const std::vector<TimedControl>& list) {
    return first < list.size() ? describe(list[first]) : std::string("none");
  };
  support::events::emit(support::events::Event{
      "tessel_exchange::diagnostic",
      support::events::Level::Debug,
      "encoded incoming controls differ from the phase schedule",
      {field("tile", tile), field("first_mismatch", first), field("actual_len", actual.size()),
       field("expected_len", expected.size()), field("actual", at(actual)), field("expected", at(expected)),
       field("actual_window", describe_range(actual, from, std::min(actual.size(), first + 4))),
       field("expected_window", describe_range(expected, from, std::min(expected.size(), first + 4)))}});
}

}  // namespace

Result<PlanProgramDiagnostic> validate_tile_program(std::size_t tile, const TileProgramSchedule& schedule,
                                                    std::span<const std::uint32_t> words) {
  PlanProgramDiagnostic decoded = TESSEL_TRY(diagnose_plan_program(words, false));
  if (decoded.horizon != schedule.horizon()) return mismatch("encoded tile horizon mismatch");
  for (const DecodedPlanInstruction& instruction : decoded.instructions)
    if (instruction.operation.kind == PlanOperation::Kind::Unknown)
      return mismatch("unknown encoded exchange instruction");

  std::vector<TimedControl> actual;
  std::vector<OutgoingInterval> outgoing;
  for (const DecodedPlanInstruction& instruction : decoded.instructions) {
    const PlanOperation& op = instruction.operation;
    if (op.kind == PlanOperation::Kind::IncomingControl) {
      actual.push_back({instruction.end, op.control});
    } else if (op.kind == PlanOperation::Kind::Send) {
      for (const IncomingControl& control : op.controls) actual.push_back({instruction.start + 1, control});
      // A control-only PicPair carries controls but sends nothing.
      if (!(op.send_control && *op.send_control == 0)) outgoing.push_back({instruction.start, instruction.end});
    }
  }

  std::vector<TimedControl> expected;
  expected.reserve(schedule.receives().size());
  for (const ReceiveEvent& event : schedule.receives()) {
    if (event.kind < kPairedPointerEvent)
      expected.push_back({event.cycle, {IncomingControlStream::Xpic, event.word & 0x3FFFu}});
    else
      expected.push_back({event.cycle, {IncomingControlStream::Pic, event.word & 0x7FFFFu}});
  }
  std::sort(actual.begin(), actual.end());
  std::sort(expected.begin(), expected.end());
  if (actual != expected) {
    report_control_mismatch(tile, actual, expected);
    return mismatch("encoded incoming-control mismatch");
  }

  // Outgoing intervals follow each other in program order, so they are sorted and disjoint: the ones
  // overlapping a row form one run, found by binary search.
  for (const ScheduledSenderRow& row : schedule.senders()) {
    auto it = std::partition_point(outgoing.begin(), outgoing.end(),
                                   [&](const OutgoingInterval& interval) { return interval.end <= row.payload_start; });
    if (it == outgoing.end() || it->start >= row.payload_end || it->start != row.payload_start)
      return mismatch("encoded sender interval mismatch");
    std::uint32_t reached = it->end;
    for (++it; it != outgoing.end() && it->start < row.payload_end; ++it) {
      if (it->start != reached) return mismatch("encoded sender interval mismatch");
      reached = it->end;
    }
    if (reached != row.payload_end) return mismatch("encoded sender interval mismatch");
  }

  const auto& senders = schedule.senders();
  for (const OutgoingInterval& interval : outgoing) {
    // Rows are sorted and disjoint: only the last row starting at or before the interval can hold it.
    auto after = std::upper_bound(senders.begin(), senders.end(), interval.start,
                                  [](std::uint32_t start, const ScheduledSenderRow& row) { return start < row.payload_start; });
    if (after == senders.begin() || interval.end > std::prev(after)->payload_end)
      return mismatch("unexpected encoded outgoing interval");
  }
  return decoded;
}

}  // namespace tessel_exchange::diagnostic
