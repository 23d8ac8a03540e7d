#pragma once
// The exchange timing model: reads sender and receiver rows back into the cycles their words occupy,
// places a receiver row at a schedule offset as a receive window, and gives the fixed latency between
// two physical tiles.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tessel_exchange/error.hpp"
#include "tessel_exchange/words.hpp"

namespace tessel_exchange {

// The events of one row: a nine-word row carries at most eight controls, so they live inline and
// reading or placing a row never allocates.
class RowEventList {
 public:
  static constexpr std::size_t kCapacity = kRowWords - 1;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const ReceiveEvent* begin() const { return events_.data(); }
  const ReceiveEvent* end() const { return events_.data() + size_; }
  ReceiveEvent* begin() { return events_.data(); }
  ReceiveEvent* end() { return events_.data() + size_; }
  const ReceiveEvent& operator[](std::size_t index) const { return events_[index]; }
  ReceiveEvent& operator[](std::size_t index) { return events_[index]; }
  operator std::span<const ReceiveEvent>() const { return {events_.data(), size_}; }

  void push_back(const ReceiveEvent& event);
  // Keeps the events for which `keep` holds, in order.
  template <class Predicate>
  void keep_if(Predicate keep) {
    std::size_t kept = 0;
    for (std::size_t index = 0; index < size_; ++index) {
      if (keep(events_[index])) events_[kept++] = events_[index];
    }
    size_ = kept;
  }
  // Stable sort by cycle.
  void sort_by_cycle();

  friend bool operator==(const RowEventList& a, const RowEventList& b);

 private:
  std::array<ReceiveEvent, kCapacity> events_{};
  std::size_t size_ = 0;
};

struct SenderRowTiming {
  std::uint32_t payload_start = 0;
  std::uint32_t payload_end = 0;
  std::uint32_t end = 0;

  bool operator==(const SenderRowTiming&) const = default;
};

struct ReceiveRowTiming {
  RowEventList events;  // in row order
  std::optional<std::uint32_t> teardown;         // cycle of the teardown event (kind 1 or 3)
  std::optional<std::uint32_t> source;           // cycle of the source event (kind 0 or 2)
  std::optional<std::uint32_t> paired_start;     // cycle of the paired format start
  std::optional<std::uint32_t> paired_end;       // cycle of the paired format end
  std::optional<std::uint32_t> pointer;          // cycle of the pointer event (kind 4 or 5)
  std::optional<std::uint32_t> pointer_address;  // receive byte address the pointer sets
  std::uint32_t end = 0;                         // cycle of the row's Return
  bool paired = false;

  bool operator==(const ReceiveRowTiming&) const = default;
};

// What a tile remembers of the last receive stream placed on it.
struct OpenReceiveStream {
  std::uint32_t has_format = 0;
  std::uint32_t format_value = 0;  // paired format start value (18 bits)
  std::uint32_t has_paired_end = 0;
  std::uint32_t paired_end = 0;
  std::uint32_t has_end_address = 0;
  std::uint32_t end_address = 0;  // first byte after the stream's payload
  std::uint32_t source_end = 0;
  std::uint32_t payload_end = 0;
  bool paired = false;

  bool operator==(const OpenReceiveStream&) const = default;
};

// A receiver row placed at a schedule offset on its tile, in absolute cycles.
struct ScheduledReceiverWindow {
  RowEventList events;  // sorted by cycle
  std::uint32_t has_pointer = 0;
  std::uint32_t pointer_address = 0;
  std::uint32_t source_cycle = 0;
  std::uint32_t source_end = 0;  // source_cycle + rows
  std::uint32_t pointer_cycle = 0;
  std::uint32_t payload_end = 0;  // pointer_cycle + rows
  std::uint32_t window_end = 0;
  bool continues_paired = false;

  bool operator==(const ScheduledReceiverWindow&) const = default;
};

// Timing of one transfer at an offset: per receiver in receiver order, and for the sender.
struct PhaseTransferTiming {
  std::vector<std::uint32_t> receive_starts;
  std::vector<std::uint32_t> receive_payload_ends;
  std::vector<std::uint32_t> receive_ends;
  std::uint32_t sender_payload_start = 0;
  std::uint32_t sender_payload_end = 0;
  std::uint32_t sender_end = 0;
  std::uint32_t end = 0;  // latest of sender_end and every receive end

  bool operator==(const PhaseTransferTiming&) const = default;
};

// Payload interval and end of a sender row whose first word starts at `base`.
Result<SenderRowTiming> sender_row_timing(const ExchangeRow& row, std::uint32_t base);

// Control events of a receiver row whose first word starts at `base`, classified.
Result<ReceiveRowTiming> receive_row_timing(const ExchangeRow& row, std::uint32_t base);

// The same timing moved `offset` cycles later.
Result<ReceiveRowTiming> receive_row_timing_from_base(const ReceiveRowTiming& timing, std::uint32_t offset);

// Places a receiver row read at base 0 at `offset` on a tile whose last stream is `open`; `rows` is
// the payload length in cycles.
Result<ScheduledReceiverWindow> scheduled_receive_window(const ReceiveRowTiming& timing, std::uint32_t offset,
                                                         std::uint32_t rows,
                                                         const std::optional<OpenReceiveStream>& open);

// Cycles from a send on `sender` until `receiver` sees it; may be negative.
std::int32_t time_to_mux(std::uint16_t sender, std::uint16_t receiver);

}  // namespace tessel_exchange
