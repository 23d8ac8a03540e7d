#pragma once
// Encoding of one tile's exchange program: its sender rows and receive events, walked once in cycle
// order, become the tile's words. Checkpoints recorded on the way let a later encoding of a slightly
// changed schedule copy the unchanged prefix of the previous encoding and encode only the rest.

#include <cstdint>
#include <span>
#include <vector>

#include "tessel_exchange/error.hpp"
#include "tessel_exchange/words.hpp"

namespace tessel_exchange::encoding {

// An encoded tile program; immutable once built and shared by the tile schedules that hold it.
struct EncodedSchedule {
  std::vector<ScheduledSenderRow> senders;  // sorted by payload start
  std::vector<ReceiveEvent> receives;       // sorted by cycle
  std::vector<Checkpoint> checkpoints;      // in emission order
  std::vector<std::uint32_t> words;

  bool operator==(const EncodedSchedule&) const = default;
};

// Encodes a tile's program up to `horizon`, ending with Return. With `previous` (an earlier encoding
// of the same tile) the encoding resumes from its latest checkpoint that the changes did not touch;
// the result is the same as without it.
Result<EncodedSchedule> build_scheduled_program(std::span<const ScheduledSenderRow> senders,
                                                std::span<const ReceiveEvent> receives, std::uint32_t horizon,
                                                const EncodedSchedule* previous = nullptr);

}  // namespace tessel_exchange::encoding
