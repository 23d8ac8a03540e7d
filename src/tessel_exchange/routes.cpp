// Route builders of Topology: the sender and receiver rows of point-to-point, multicast and paired
// transfers, with the card's exchange latency built into their delays.

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <unordered_set>

#include "support/checked.hpp"
#include "support/events.hpp"
#include "support/invariant.hpp"
#include "support/result.hpp"
#include "tessel_exchange/timing.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_exchange {

namespace {

// Whether every tile of the list is below `tile_count` and none repeats. The usual handful is
// searched pairwise; only a long list pays for a hash set.
bool distinct_tiles_below(std::span<const std::uint16_t> tiles, std::size_t tile_count) {
  constexpr std::size_t kSearchedTiles = 16;
  if (tiles.size() <= kSearchedTiles) {
    for (std::size_t k = 0; k < tiles.size(); ++k) {
      if (tiles[k] >= tile_count) return false;
      for (std::size_t j = 0; j < k; ++j)
        if (tiles[j] == tiles[k]) return false;
    }
    return true;
  }
  std::unordered_set<std::uint16_t> seen;
  seen.reserve(tiles.size());
  for (std::uint16_t tile : tiles)
    if (tile >= tile_count || !seen.insert(tile).second) return false;
  return true;
}

// Cycle at which a source select ends, relative to the start of a point-to-point sender's first send.
constexpr std::uint32_t kPointSourceSelectCycles = 113;
// Largest latency a point-to-point sender row can absorb in its leading delay.
constexpr std::int32_t kPointLatencyBase = 112;
constexpr std::uint32_t kShortPayloadWords = 52;
constexpr std::uint32_t kPointerBaseCycles = 52;
constexpr std::uint32_t kShortTailDelay = 5;
constexpr std::uint32_t kLongTailDelay = 57;
constexpr std::uint32_t kMinimumSenderCycles = 6;
constexpr std::uint32_t kMaxReceiveCycle = 4095;
constexpr std::uint32_t kMulticastPointerPlaceholder = 0x14000;
constexpr std::uint32_t kMinimumPairedRows = 64;

bool valid_count(std::uint32_t words) { return words >= 1 && words <= kMaximumTransferWords; }

// Appends words to a row being built.
struct RowWriter {
  ExchangeRow row{};
  std::size_t size = 0;
  void put(std::uint32_t word) { row[size++] = word; }
};

// The payload sends shared by every sender row: an Explicit send of up to 64 words, then an Offset
// send of the rest.
void put_payload(RowWriter& writer, std::uint32_t words, std::uint32_t control) {
  writer.put(explicit_send_word(std::min(words, kMaxShortSendWords), 0, control));
  if (words > kMaxShortSendWords) writer.put(offset_send_word(words - kMaxShortSendWords, 0, control));
}

// The receive controls after the source select: teardown, pointer and the closing delay, in the
// order that keeps every control within its cycle range.
void put_receive_tail(RowWriter& writer, std::uint32_t words, std::uint32_t position_cycles, std::uint32_t pointer) {
  if (words < kShortPayloadWords) {
    writer.put(xpic_control_word(words, kXpicTeardown));
    writer.put(pic_control_word(position_cycles - words + kPointerBaseCycles, pointer));
    writer.put(delay_word(words + kShortTailDelay));
  } else {
    writer.put(pic_control_word(position_cycles + kPointerBaseCycles, pointer));
    writer.put(xpic_control_word(std::max<std::uint32_t>(1, words - kShortPayloadWords), kXpicTeardown));
    writer.put(delay_word(kLongTailDelay));
  }
  writer.put(kReturnWord);
}

std::unexpected<ExchangeError> schedule_error(const char* reason) {
  return std::unexpected(ExchangeError::schedule(reason));
}

}  // namespace

Result<PointToPointRoute> Topology::point_to_point(std::uint16_t sender, std::uint16_t receiver,
                                                   std::uint32_t words) const {
  if (!valid_count(words)) return std::unexpected(ExchangeError::count(words));
  if (sender == receiver) return std::unexpected(ExchangeError::duplicate_tile());
  const std::uint16_t s = TESSEL_TRY(physical(sender));
  const std::uint16_t r = TESSEL_TRY(physical(receiver));

  const std::int32_t latency = time_to_mux(s, r);
  if (latency > kPointLatencyBase) return schedule_error("sender delay");

  PointToPointRoute route;
  RowWriter sender_row;
  sender_row.put(kEntrySyncWord);
  if (latency != kPointLatencyBase) sender_row.put(delay_word(static_cast<std::uint32_t>(kPointLatencyBase - latency)));
  put_payload(sender_row, words, direction(s, r));
  const std::int64_t tail = std::int64_t{latency} - words - 106;
  if (tail > 0) sender_row.put(delay_word(static_cast<std::uint32_t>(tail)));
  sender_row.put(kReturnWord);
  route.sender_row = sender_row.row;

  RowWriter receiver_row;
  receiver_row.put(kEntrySyncWord);
  receiver_row.put(xpic_control_word(kPointSourceSelectCycles, 0));
  put_receive_tail(receiver_row, words, 2 * position(r), 0);
  route.receiver_patch_index = 1;
  std::copy_n(receiver_row.row.begin(), route.receiver_words.size(), route.receiver_words.begin());

  TESSEL_EVENT(support::events::Level::Debug, "tessel_exchange", "assembled point-to-point exchange",
               support::events::field("sender_logical", sender), support::events::field("receiver_logical", receiver),
               support::events::field("count", words));
  return route;
}

Result<ExchangeRoute> Topology::multicast(std::uint16_t sender, std::span<const std::uint16_t> receivers,
                                          std::uint32_t words, std::uint32_t start_offset) const {
  if (!valid_count(words)) return std::unexpected(ExchangeError::count(words));
  const std::uint16_t s = TESSEL_TRY(physical(sender));
  if (receivers.empty() || (receivers.size() == 1 && receivers[0] == sender))
    return std::unexpected(ExchangeError::receiver_set());
  if (!distinct_tiles_below(receivers, tile_count())) return std::unexpected(ExchangeError::receiver_set());

  std::int64_t lowest = 0;
  for (std::uint16_t receiver : receivers) lowest = std::min<std::int64_t>(lowest, time_to_mux(s, physical_tiles_[receiver]));
  const std::int64_t start = -lowest + start_offset;
  if (start >= 4096) return schedule_error("multicast start cycle");
  const auto v = static_cast<std::uint32_t>(start);
  const std::uint32_t control = receivers.size() == 1 ? direction(s, physical_tiles_[receivers[0]]) : 3;

  ExchangeRoute route;
  RowWriter sender_row;
  sender_row.put(kEntrySyncWord);
  if (v > 0) sender_row.put(delay_word(v));
  put_payload(sender_row, words, control);
  if (v + words < kMinimumSenderCycles) sender_row.put(delay_word(kMinimumSenderCycles - v - words));
  sender_row.put(kReturnWord);
  route.sender_row = sender_row.row;

  route.receiver_rows.reserve(receivers.size());
  for (std::uint16_t receiver : receivers) {
    const std::uint16_t r = TESSEL_TRY(physical(receiver));
    const std::int64_t cycle = std::int64_t{time_to_mux(s, r)} + v;
    if (cycle > kMaxReceiveCycle) return schedule_error("multicast receive cycle");
    RowWriter row;
    row.put(kEntrySyncWord);
    row.put(xpic_control_word(static_cast<std::uint32_t>(cycle) + 1, s & 0x1FFFu));
    put_receive_tail(row, words, 2 * position(r), kMulticastPointerPlaceholder);
    route.receiver_rows.push_back(row.row);
  }

  TESSEL_EVENT(support::events::Level::Debug, "tessel_exchange", "assembled multicast exchange",
               support::events::field("sender_logical", sender),
               support::events::field("receiver_logical", fmt::format("{}", receivers)),
               support::events::field("count", words), support::events::field("schedule_offset", start_offset));
  return route;
}

Result<ExchangeRoute> Topology::paired_multicast(std::uint16_t sender, std::span<const std::uint16_t> receivers,
                                                 std::uint32_t rows) const {
  if (rows < kMinimumPairedRows || rows > kMaximumTransferWords) return std::unexpected(ExchangeError::count(rows));
  if (receivers.empty() || receivers.size() % 2 != 0) return std::unexpected(ExchangeError::receiver_set());
  std::unordered_set<std::uint16_t> set;
  set.reserve(receivers.size());
  for (std::uint16_t receiver : receivers)
    if (!set.insert(receiver).second) return std::unexpected(ExchangeError::receiver_set());
  if (set.contains(sender)) return std::unexpected(ExchangeError::receiver_set());
  // Fails with Tile(sender) for a sender outside the table or without a partner in it.
  if (set.contains(TESSEL_TRY(paired_logical(sender)))) return std::unexpected(ExchangeError::receiver_set());
  for (std::uint16_t receiver : receivers) {
    if (receiver >= tile_count()) return std::unexpected(ExchangeError::receiver_set());
    const auto partner = paired_logical(receiver);
    if (!partner || !set.contains(*partner)) return std::unexpected(ExchangeError::receiver_set());
  }

  ExchangeRoute route = TESSEL_TRY(multicast(sender, receivers, rows, 0));
  const std::uint16_t s = physical_tiles_[sender];
  const std::uint32_t control =
      receivers.size() == 2 ? direction(s, TESSEL_TRY(physical(receivers[0]))) + 4 : 7;
  TESSEL_TRY(set_sender_control(route.sender_row, control));

  std::optional<std::int32_t> latest_first;
  for (std::uint16_t receiver : receivers) {
    const std::uint16_t r = TESSEL_TRY(physical(receiver));
    const std::int32_t latest = std::max(time_to_mux(s, r), time_to_mux(s, r ^ 2u));
    latest_first = latest_first ? std::min(*latest_first, latest) : latest;
  }
  support::check_invariant(latest_first.has_value(), "paired multicast has receivers");
  for (std::size_t k = 0; k < receivers.size(); ++k)
    route.receiver_rows[k] = TESSEL_TRY(paired_receiver_row(sender, receivers[k], rows, *latest_first));
  return route;
}

Result<ExchangeRow> Topology::paired_receiver_row(std::uint16_t sender, std::uint16_t receiver, std::uint32_t rows,
                                                  std::int32_t base_correction) const {
  const std::uint16_t s = TESSEL_TRY(physical(sender));
  const std::uint16_t r = TESSEL_TRY(physical(receiver));
  const std::int64_t correction = base_correction < 2 ? 1 - std::int64_t{base_correction} : 0;
  const std::int32_t near = time_to_mux(s, r);
  const std::int32_t far = time_to_mux(s, r ^ 2u);
  const std::int64_t source = std::max(near, far) + correction;
  if (source < 0) return schedule_error("paired source timing");

  // All cycles here are a few thousand at most; 64-bit arithmetic cannot overflow.
  RowEventList events;
  const auto at = [](std::int64_t cycle) { return static_cast<std::uint32_t>(cycle); };
  if (near < far) {
    const std::uint32_t source_id = kXpicPairedBit | ((s & 0x1FFFu) ^ (r & 2u));
    events.push_back({at(source), xpic_control_word(1, source_id), kPairedSourceEvent});
    events.push_back({at(source + rows), xpic_control_word(1, kXpicPairedBit | kXpicTeardown), kPairedTeardownEvent});
  }
  const std::int64_t format = source + 2 * std::int64_t{position(r)} + 51;
  events.push_back({at(format), pic_control_word(1, kPicFormatBit + direction(s, r)), kPairedFormatEvent});
  events.push_back({at(format + 2), pic_control_word(1, 0), kPairedPointerEvent});
  events.push_back({at(format + rows), pic_control_word(1, kPicFormatBit), kPairedFormatEvent});
  events.sort_by_cycle();
  for (std::size_t i = 1; i < events.size(); ++i)
    if (events[i].cycle == events[i - 1].cycle) return schedule_error("paired receive coincident controls");
  const std::uint32_t last = events[events.size() - 1].cycle;
  if (last > 0xFFFFFFF8u) return schedule_error("paired receive horizon overflow");

  std::vector<std::uint32_t> words{kEntrySyncWord};
  std::uint32_t time = 0;
  TESSEL_TRY(append_receive_events_record(words, time, events, last + 7, false));
  words.push_back(kReturnWord);
  if (words.size() > kRowWords) return schedule_error("paired receive row capacity");
  ExchangeRow row{};
  std::copy(words.begin(), words.end(), row.begin());
  return row;
}

}  // namespace tessel_exchange
