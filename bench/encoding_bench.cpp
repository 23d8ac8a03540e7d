// Encoding one long tile timeline from scratch, against re-encoding it after one more sender row with
// the previous encoding to resume from.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tessel_exchange/encoding/program.hpp"
#include "tessel_exchange/words.hpp"

namespace {

using namespace tessel_exchange;
using encoding::EncodedSchedule;

struct Timeline {
  std::vector<ScheduledSenderRow> senders;
  std::vector<ReceiveEvent> receives;
  std::uint32_t horizon = 0;
};

// `rows` sender rows of 100 words, each with a source select and a pointer/teardown pair before it and
// one control folded into its payload.
Timeline long_timeline(std::size_t rows) {
  Timeline timeline;
  for (std::size_t index = 0; index < rows; ++index) {
    const auto start = static_cast<std::uint32_t>(200 + index * 180);
    ExchangeRow row{};
    row[0] = kEntrySyncWord;
    row[1] = explicit_send_word(64, static_cast<std::uint32_t>(index & 0xFFF), 1);
    row[2] = offset_send_word(36, 0, 1);
    row[3] = kReturnWord;
    timeline.receives.push_back({start - 60, xpic_control_word(1, 7), kSourceEvent});
    timeline.receives.push_back({start - 20, pic_control_word(1, 0x100), kPointerEvent});
    timeline.receives.push_back({start - 20, xpic_control_word(1, kXpicTeardown), kTeardownEvent});
    timeline.receives.push_back({start + 50, xpic_control_word(1, 9), kSourceEvent});
    timeline.senders.push_back({row, start, start + 100});
    timeline.horizon = start + 140;
  }
  return timeline;
}

EncodedSchedule encode_or_abort(const Timeline& timeline, const EncodedSchedule* previous) {
  Result<EncodedSchedule> program =
      encoding::build_scheduled_program(timeline.senders, timeline.receives, timeline.horizon, previous);
  if (!program) std::abort();
  return std::move(*program);
}

void BM_EncodeFromScratch(benchmark::State& state) {
  const Timeline timeline = long_timeline(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    EncodedSchedule program = encode_or_abort(timeline, nullptr);
    benchmark::DoNotOptimize(program.words.data());
  }
  state.counters["words"] = static_cast<double>(encode_or_abort(timeline, nullptr).words.size());
}

void BM_ReencodeAfterAppendedRow(benchmark::State& state) {
  const Timeline timeline = long_timeline(static_cast<std::size_t>(state.range(0)));
  Timeline shorter = timeline;
  shorter.senders.pop_back();
  shorter.receives.pop_back();  // the control inside the last row
  const EncodedSchedule previous = encode_or_abort(shorter, nullptr);
  for (auto _ : state) {
    EncodedSchedule program = encode_or_abort(timeline, &previous);
    benchmark::DoNotOptimize(program.words.data());
  }
}

BENCHMARK(BM_EncodeFromScratch)->Arg(250)->Arg(1000)->Arg(4000);
BENCHMARK(BM_ReencodeAfterAppendedRow)->Arg(250)->Arg(1000)->Arg(4000);

}  // namespace
