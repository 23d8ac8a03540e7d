#include "workloads.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "tessel_codegen/exchange/phase_entry.hpp"

namespace tessel_bench {

namespace {

using tessel_codegen::exchange::ExchangeItemWidth;
using tessel_codegen::exchange::ExchangeScheduleDestination;
using tessel_codegen::exchange::ExchangeScheduleProblem;
using tessel_codegen::exchange::ExchangeScheduleSnapshot;
using tessel_codegen::exchange::ExchangeScheduleTransfer;

// Tile memory as the generated programs use it. Send buffers lie below kSendLimit and receive buffers
// from kReceiveBase on, so the two never share a memory element: a multicast may then include its
// own source tile, and only the overlap shape makes reads and writes meet.
constexpr std::uint32_t kSendBase = 0x1000;
constexpr std::uint32_t kSendLimit = 0x30000;
constexpr std::uint32_t kReceiveBase = 0x40000;
// A tile addresses 1 MiB; receive buffers start over from kReceiveBase rather than run past it,
// which makes later writes depend on earlier ones to the same bytes, as reused buffers do.
constexpr std::uint32_t kReceiveLimit = 0x100000;

constexpr std::uint32_t kMaxWords = 4148;
constexpr std::uint32_t kMinPairedWords = 128;
constexpr std::uint32_t kMaxRepeatIterations = 8;
constexpr std::uint16_t kMinTiles = 2;
constexpr std::uint16_t kMinPairedTiles = 4;
constexpr std::uint16_t kMaxTiles = 1472;
constexpr std::size_t kGatherGroup = 16;
constexpr std::size_t kMaxBroadcastReceivers = 32;

// Every buffer starts on an 8-byte boundary, which suits both widths.
std::uint32_t buffer_bytes(std::uint32_t words) { return (words * 4 + 7) & ~std::uint32_t{7}; }

struct TileMemory {
  std::uint32_t next_send = kSendBase;
  std::uint32_t next_receive = kReceiveBase;
};

struct GatherGroup {
  std::uint16_t root = 0;
  std::vector<std::uint16_t> members;
  std::size_t cursor = 0;
};

// Builds the transfers of one phase. Each emit_* appends one unit of its shape (one transfer, or a
// short chain for the overlap shape); pattern shapes continue where their previous unit stopped.
class PhaseWriter {
 public:
  PhaseWriter(std::uint16_t tiles, WorkloadRandom& random, bool mixed_sizes)
      : tiles_(tiles), random_(random), mixed_sizes_(mixed_sizes), memory_(tiles) {
    shard_words_ = static_cast<std::uint32_t>(random_.between(16, 1024));
    row_halo_words_ = static_cast<std::uint32_t>(random_.between(16, 512));
    column_halo_words_ = static_cast<std::uint32_t>(random_.between(16, 512));
    grid_width_ = 1;
    while (static_cast<std::size_t>(grid_width_) * grid_width_ < tiles_) ++grid_width_;
    for (std::size_t base = 0; base < tiles_; base += kGatherGroup) {
      const std::size_t end = std::min<std::size_t>(base + kGatherGroup, tiles_);
      if (end - base < 2) {  // a lone last tile joins the previous group
        gather_groups_.back().members.push_back(static_cast<std::uint16_t>(base));
        continue;
      }
      GatherGroup group{static_cast<std::uint16_t>(base), {}, 0};
      for (std::size_t tile = base + 1; tile < end; ++tile) group.members.push_back(static_cast<std::uint16_t>(tile));
      gather_groups_.push_back(std::move(group));
    }
  }

  void emit(WorkloadShape shape) {
    switch (shape) {
      case WorkloadShape::AllToAll: return emit_all_to_all();
      case WorkloadShape::Broadcast: return emit_broadcast();
      case WorkloadShape::Gather: return emit_gather();
      case WorkloadShape::Halo: return emit_halo();
      case WorkloadShape::Paired: return emit_paired();
      case WorkloadShape::Repeat: return emit_repeat();
      case WorkloadShape::Overlap: return emit_overlap();
      case WorkloadShape::Mixed: return emit(mixed_pick());
    }
  }

  std::vector<ExchangeScheduleTransfer> take(std::size_t count) {
    transfers_.resize(std::min(count, transfers_.size()));
    return std::move(transfers_);
  }
  std::size_t size() const { return transfers_.size(); }

 private:
  WorkloadShape mixed_pick() {
    const std::uint64_t roll = random_.below(100);
    if (roll < 25) return WorkloadShape::AllToAll;
    if (roll < 40) return WorkloadShape::Halo;
    if (roll < 52) return WorkloadShape::Gather;
    if (roll < 62) return WorkloadShape::Broadcast;
    if (roll < 72) return tiles_ >= kMinPairedTiles ? WorkloadShape::Paired : WorkloadShape::AllToAll;
    if (roll < 82) return WorkloadShape::Repeat;
    return WorkloadShape::Overlap;
  }

  // The pattern shapes keep one size per phase, as a compiled layer does, unless sizes are mixed.
  std::uint32_t pattern_words(std::uint32_t phase_words) {
    return mixed_sizes_ ? realistic_word_count(random_) : phase_words;
  }

  std::uint16_t any_tile() { return static_cast<std::uint16_t>(random_.below(tiles_)); }
  std::uint16_t tile_other_than(std::uint16_t excluded) {
    const auto step = static_cast<std::uint16_t>(random_.between(1, tiles_ - 1u));
    return static_cast<std::uint16_t>((excluded + step) % tiles_);
  }

  // Reads may share bytes, so the send region is reused from its start when it runs out.
  std::uint32_t send_buffer(std::uint16_t tile, std::uint32_t words, std::uint32_t iterations = 1) {
    const std::uint32_t bytes = buffer_bytes(words) * iterations;
    TileMemory& memory = memory_[tile];
    if (memory.next_send + bytes > kSendLimit) memory.next_send = kSendBase;
    const std::uint32_t address = memory.next_send;
    memory.next_send += bytes;
    return address;
  }

  // Writes get bytes of their own until the region runs out, so they depend on each other only where
  // a shape wants it or a tile receives more than its memory holds.
  std::uint32_t receive_buffer(std::uint16_t tile, std::uint32_t words) {
    const std::uint32_t bytes = buffer_bytes(words);
    TileMemory& memory = memory_[tile];
    if (memory.next_receive + bytes > kReceiveLimit) memory.next_receive = kReceiveBase;
    const std::uint32_t address = memory.next_receive;
    memory.next_receive += bytes;
    return address;
  }

  void point_to_point(std::uint16_t source, std::uint32_t source_address, std::uint16_t destination,
                      std::uint32_t destination_address, std::uint32_t words) {
    transfers_.push_back(
        {source, {source_address}, {{destination, destination_address}}, words, ExchangeItemWidth::Word32});
  }

  void point_to_point(std::uint16_t source, std::uint16_t destination, std::uint32_t words) {
    point_to_point(source, send_buffer(source, words), destination, receive_buffer(destination, words), words);
  }

  void emit_all_to_all() {
    // Round k sends from every tile i to tile i + k: each round is a permutation of the tiles.
    const std::size_t round = all_to_all_cursor_ / tiles_;
    const auto sender = static_cast<std::uint16_t>(all_to_all_cursor_ % tiles_);
    const auto offset = static_cast<std::uint16_t>(1 + round % (tiles_ - 1u));
    ++all_to_all_cursor_;
    point_to_point(sender, static_cast<std::uint16_t>((sender + offset) % tiles_), pattern_words(shard_words_));
  }

  void emit_broadcast() {
    const std::uint16_t source = any_tile();
    const std::uint32_t words = realistic_word_count(random_);
    const std::size_t most = std::min<std::size_t>(kMaxBroadcastReceivers, tiles_ - 1u);
    const std::size_t receivers = most < 2 ? most : static_cast<std::size_t>(random_.between(2, most));
    // A block of neighbouring tiles, as a layer's consumers usually are.
    std::vector<ExchangeScheduleDestination> destinations;
    for (std::uint16_t tile = any_tile(); destinations.size() < receivers; tile = static_cast<std::uint16_t>((tile + 1) % tiles_))
      if (tile != source) destinations.push_back({tile, receive_buffer(tile, words)});
    ExchangeScheduleTransfer transfer{source, {send_buffer(source, words)}, std::move(destinations), words,
                                      ExchangeItemWidth::Word32};
    // Now and then the sender keeps a copy for itself: a loopback into its receive region. Its own
    // receive controls then sit at a fixed distance from its send; where one would fall on the first
    // cycles of the payload no offset can encode the transfer, so such a loopback is left out.
    if (transfer.destinations.size() >= 2 && random_.chance(10)) {
      ExchangeScheduleTransfer loopback = transfer;
      loopback.destinations[random_.below(loopback.destinations.size())] = {source, receive_buffer(source, words)};
      if (tessel_codegen::exchange::schedule_exchange_problem(tiles_, {0, {loopback}})) transfer = std::move(loopback);
    }
    transfers_.push_back(std::move(transfer));
  }

  void emit_gather() {
    GatherGroup& group = gather_groups_[gather_cursor_++ % gather_groups_.size()];
    const std::uint16_t member = group.members[group.cursor++ % group.members.size()];
    point_to_point(member, group.root, realistic_word_count(random_));
  }

  void emit_halo() {
    // Tiles on a grid of grid_width_ columns; each unit is the next (tile, direction) that has a
    // neighbour: up, down, left, right.
    for (;;) {
      const auto tile = static_cast<std::uint16_t>((halo_cursor_ / 4) % tiles_);
      const std::size_t direction = halo_cursor_ % 4;
      ++halo_cursor_;
      const std::size_t column_index = tile % grid_width_;
      std::size_t neighbour = tiles_;
      if (direction == 0 && tile >= grid_width_) neighbour = tile - grid_width_;
      if (direction == 1 && tile + grid_width_ < tiles_) neighbour = tile + grid_width_;
      if (direction == 2 && column_index > 0) neighbour = tile - 1u;
      if (direction == 3 && column_index + 1 < grid_width_ && tile + 1u < tiles_) neighbour = tile + 1u;
      if (neighbour >= tiles_) continue;
      const std::uint32_t words = pattern_words(direction < 2 ? row_halo_words_ : column_halo_words_);
      point_to_point(tile, static_cast<std::uint16_t>(neighbour), words);
      return;
    }
  }

  void emit_paired() {
    // Logical tiles 2j and 2j + 1 are partners; the sender's pair sends to other whole pairs.
    const std::size_t pairs = tiles_ / 2u;
    const std::size_t source_pair = random_.below(pairs);
    const auto source = static_cast<std::uint16_t>(2 * source_pair + random_.below(2));
    // An even row count (words a multiple of 4): with an odd one, a receiver's format start can fall
    // on the cycle of its teardown, which the encoder rejects.
    std::uint32_t words = realistic_word_count(random_);
    if (words < kMinPairedWords) words = static_cast<std::uint32_t>(random_.between(kMinPairedWords / 4, 256) * 4);
    words = std::min((words + 3) & ~std::uint32_t{3}, kMaxWords);
    const std::size_t most = std::min<std::size_t>(4, pairs - 1);
    const std::size_t receiver_pairs = most < 2 || random_.chance(70) ? 1 : static_cast<std::size_t>(random_.between(2, most));
    std::vector<ExchangeScheduleDestination> destinations;
    std::size_t pair = random_.below(pairs);
    while (destinations.size() < 2 * receiver_pairs) {
      pair = (pair + 1) % pairs;
      if (pair == source_pair) continue;
      for (std::size_t side = 0; side < 2; ++side) {
        const auto tile = static_cast<std::uint16_t>(2 * pair + side);
        destinations.push_back({tile, receive_buffer(tile, words)});
      }
    }
    transfers_.push_back({source, {send_buffer(source, words)}, std::move(destinations), words, ExchangeItemWidth::Paired64});
  }

  void emit_repeat() {
    // One source address per iteration of the enclosing Repeat, each the next slice of one buffer.
    const std::uint16_t source = any_tile();
    const std::uint32_t words = realistic_word_count(random_);
    const auto iterations = static_cast<std::uint32_t>(random_.between(2, kMaxRepeatIterations));
    const std::uint32_t base = send_buffer(source, words, iterations);
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t iteration = 0; iteration < iterations; ++iteration)
      addresses.push_back(base + iteration * buffer_bytes(words));
    const std::size_t receivers = random_.chance(70) ? 1 : static_cast<std::size_t>(random_.between(1, std::min<std::size_t>(8, tiles_ - 1u)));
    std::vector<ExchangeScheduleDestination> destinations;
    for (std::uint16_t tile = tile_other_than(source); destinations.size() < receivers; tile = static_cast<std::uint16_t>((tile + 1) % tiles_))
      if (tile != source) destinations.push_back({tile, receive_buffer(tile, words)});
    transfers_.push_back({source, std::move(addresses), std::move(destinations), words, ExchangeItemWidth::Word32});
  }

  void emit_overlap() {
    const std::uint16_t relay = any_tile();
    const std::uint32_t words = realistic_word_count(random_);
    const std::uint32_t landing = receive_buffer(relay, words);
    const std::uint16_t producer = tile_other_than(relay);
    // The relay receives data, then forwards it from where it landed (read after write) ...
    point_to_point(producer, send_buffer(producer, words), relay, landing, words);
    const std::uint16_t consumer = tile_other_than(relay);
    point_to_point(relay, landing, consumer, receive_buffer(consumer, words), words);
    // ... and the landing buffer takes the next block once it has been forwarded (write after read,
    // write after write).
    if (random_.chance(50)) {
      const std::uint16_t next_producer = tile_other_than(relay);
      point_to_point(next_producer, send_buffer(next_producer, words), relay, landing, words);
    }
    // A send buffer is refilled from elsewhere right after it has been sent (write after read).
    if (random_.chance(50)) {
      const std::uint32_t outgoing = send_buffer(relay, words);
      const std::uint16_t reader = tile_other_than(relay);
      point_to_point(relay, outgoing, reader, receive_buffer(reader, words), words);
      const std::uint16_t refill = tile_other_than(relay);
      point_to_point(refill, send_buffer(refill, words), relay, outgoing, words);
    }
  }

  std::uint16_t tiles_;
  WorkloadRandom& random_;
  bool mixed_sizes_;
  std::vector<TileMemory> memory_;
  std::vector<ExchangeScheduleTransfer> transfers_;
  std::uint32_t shard_words_ = 0;
  std::uint32_t row_halo_words_ = 0;
  std::uint32_t column_halo_words_ = 0;
  std::size_t grid_width_ = 1;
  std::size_t all_to_all_cursor_ = 0;
  std::size_t halo_cursor_ = 0;
  std::vector<GatherGroup> gather_groups_;
  std::size_t gather_cursor_ = 0;
};

constexpr std::array<std::pair<WorkloadShape, const char*>, 8> kShapeNames{{
    {WorkloadShape::AllToAll, "all-to-all"},
    {WorkloadShape::Broadcast, "broadcast"},
    {WorkloadShape::Gather, "gather"},
    {WorkloadShape::Halo, "halo"},
    {WorkloadShape::Paired, "paired"},
    {WorkloadShape::Repeat, "repeat"},
    {WorkloadShape::Overlap, "overlap"},
    {WorkloadShape::Mixed, "mixed"},
}};

}  // namespace

std::uint64_t WorkloadRandom::next() {
  state_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint32_t realistic_word_count(WorkloadRandom& random) {
  const std::uint64_t roll = random.below(10);
  if (roll == 0) return static_cast<std::uint32_t>(random.between(1, 15));
  if (roll == 9) return static_cast<std::uint32_t>(random.between(1024, kMaxWords));
  const std::uint32_t octave = 1u << random.between(4, 9);
  return octave + static_cast<std::uint32_t>(random.below(octave));
}

const std::vector<WorkloadShape>& all_workload_shapes() {
  static const std::vector<WorkloadShape> shapes = [] {
    std::vector<WorkloadShape> list;
    for (const auto& [shape, name] : kShapeNames) list.push_back(shape);
    return list;
  }();
  return shapes;
}

const char* workload_shape_name(WorkloadShape shape) {
  for (const auto& [candidate, name] : kShapeNames)
    if (candidate == shape) return name;
  return "?";
}

std::optional<WorkloadShape> workload_shape_from_name(std::string_view name) {
  for (const auto& [shape, candidate] : kShapeNames)
    if (name == candidate) return shape;
  return std::nullopt;
}

std::expected<ExchangeScheduleSnapshot, std::string> generate_workload(const WorkloadRequest& request) {
  const std::uint16_t fewest = request.shape == WorkloadShape::Paired ? kMinPairedTiles : kMinTiles;
  if (request.tiles < fewest || request.tiles > kMaxTiles)
    return std::unexpected(fmt::format("the {} shape needs {} to {} tiles, not {}", workload_shape_name(request.shape),
                                       fewest, kMaxTiles, request.tiles));
  if (request.phases == 0) return std::unexpected(std::string("a snapshot needs at least one phase"));

  ExchangeScheduleSnapshot snapshot;
  snapshot.schema_version = tessel_codegen::exchange::kSnapshotSchemaVersion;
  snapshot.tile_count = request.tiles;
  WorkloadRandom random(request.seed);
  for (std::size_t index = 0; index < request.phases; ++index) {
    PhaseWriter writer(request.tiles, random, request.shape == WorkloadShape::Mixed);
    while (writer.size() < request.transfers) writer.emit(request.shape);
    snapshot.phases.push_back({static_cast<std::uint32_t>(index + 1), writer.take(request.transfers)});
  }
  return snapshot;
}

std::string snapshot_json(const ExchangeScheduleSnapshot& snapshot) {
  // One phase header and one transfer per line: compact, yet readable and friendly to diffs.
  std::string out;
  auto sink = std::back_inserter(out);
  fmt::format_to(sink, "{{\"schema_version\":{},\"tile_count\":{},\"phases\":[", snapshot.schema_version,
                 snapshot.tile_count);
  for (std::size_t p = 0; p < snapshot.phases.size(); ++p) {
    const ExchangeScheduleProblem& phase = snapshot.phases[p];
    fmt::format_to(sink, "{}\n{{\"phase\":{},\"transfers\":[", p == 0 ? "" : ",", phase.phase);
    for (std::size_t t = 0; t < phase.transfers.size(); ++t) {
      const ExchangeScheduleTransfer& transfer = phase.transfers[t];
      fmt::format_to(sink, "{}\n{{\"source\":{},\"source_addresses\":[", t == 0 ? "" : ",", transfer.source);
      for (std::size_t a = 0; a < transfer.source_addresses.size(); ++a)
        fmt::format_to(sink, "{}{}", a == 0 ? "" : ",", transfer.source_addresses[a]);
      out += "],\"destinations\":[";
      for (std::size_t d = 0; d < transfer.destinations.size(); ++d)
        fmt::format_to(sink, "{}{{\"tile\":{},\"address\":{}}}", d == 0 ? "" : ",", transfer.destinations[d].tile,
                       transfer.destinations[d].address);
      fmt::format_to(sink, "],\"words\":{},\"width\":\"{}\"}}", transfer.words,
                     tessel_codegen::exchange::width_name(transfer.width));
    }
    out += "]}";
  }
  out += "]}\n";
  return out;
}

}  // namespace tessel_bench
