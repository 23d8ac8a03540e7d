#pragma once
// Everything one tile does in one exchange phase: the sender rows it executes and the receive events
// its program issues, at absolute cycles, kept sorted and checked so that the tile's words can express
// them. The schedule caches its last encoding; copies share it, and after a change the old encoding is
// kept as the starting point of the next one.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tessel_exchange/encoding/program.hpp"
#include "tessel_exchange/error.hpp"
#include "tessel_exchange/timing.hpp"
#include "tessel_exchange/words.hpp"

namespace tessel_exchange {

using EncodedSchedule = encoding::EncodedSchedule;

class TileProgramSchedule {
 public:
  // Sorted by payload start; payload intervals never overlap.
  const std::vector<ScheduledSenderRow>& senders() const { return senders_; }
  // Sorted by cycle; equal cycles in insertion order.
  const std::vector<ReceiveEvent>& receives() const { return receives_; }
  const std::optional<OpenReceiveStream>& open_stream() const { return open_stream_; }
  // Cycle until which the tile serves as the partner of a paired sender.
  std::uint32_t busy_until() const { return busy_until_; }
  // Latest end of every row, window and partner reservation placed on the tile.
  std::uint32_t horizon() const { return horizon_; }
  // The encoding of the current contents, when it has been computed since the last change.
  const std::shared_ptr<const EncodedSchedule>& cached_encoding() const { return encoded_; }
  // The encoding that was cached before the last change.
  const std::shared_ptr<const EncodedSchedule>& previous_encoding() const { return previous_; }

  // Places a sender row so that its first word starts at `offset`. On failure nothing changes.
  Result<void> append_sender_at(const ExchangeRow& row, std::uint32_t offset);

  // Places a receiver row at `offset` for a payload of `rows` cycles and returns its window. On failure
  // nothing changes.
  Result<ScheduledReceiverWindow> append_receiver_at(const ExchangeRow& row, std::uint32_t offset,
                                                     std::uint32_t rows);

  // Keeps the tile busy as the partner of a paired sender until `sender_end`.
  void reserve_as_partner(std::uint32_t sender_end);

  // The encoded program of the current contents, computed once per change.
  Result<std::shared_ptr<const EncodedSchedule>> encoded();

  // Drops the cached encoding, keeping it as the previous one.
  void invalidate_encoding();

 private:
  std::vector<ScheduledSenderRow> senders_;
  std::vector<ReceiveEvent> receives_;
  std::shared_ptr<const EncodedSchedule> encoded_;
  std::shared_ptr<const EncodedSchedule> previous_;
  std::optional<OpenReceiveStream> open_stream_;
  std::uint32_t busy_until_ = 0;
  std::uint32_t horizon_ = 0;
};

}  // namespace tessel_exchange
