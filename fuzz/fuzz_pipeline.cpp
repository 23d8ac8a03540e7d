// The whole replay of a small snapshot: read (or build), validate, schedule every phase, check the
// schedule's invariants and determinism, decode every tile's program. A snapshot may be rejected or
// a phase may fail to schedule with an ordinary error; an invariant error, an invalid schedule, a
// program that does not decode, or output that changes between runs is a fault and aborts.
//
// Input: JSON text when the first byte is '{' or '[' (the seeds from fixtures), otherwise a compact
// binary description of a small problem (see build_snapshot) that keeps every input fast.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_codegen/exchange/phase_entry.hpp"
#include "tessel_codegen/exchange/schedule_validation.hpp"
#include "tessel_codegen/exchange/snapshot.hpp"
#include "tessel_codegen/exchange/snapshot_reader.hpp"
#include "tessel_exchange/diagnostic/plan_program.hpp"
#include "tessel_exchange/topology.hpp"

namespace {

using namespace tessel_codegen::exchange;

// Caps that keep one input fast.
constexpr std::size_t kMaxInputBytes = 1 << 16;
constexpr std::size_t kMaxTransfers = 48;
constexpr std::size_t kMaxPhases = 4;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
  std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }
  bool done() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Mostly small aligned addresses in a few memory elements (so transfers collide), sometimes raw ones.
std::uint32_t address(Bytes& in, ExchangeItemWidth width) {
  const std::uint8_t mode = in.u8();
  const std::uint32_t align = width == ExchangeItemWidth::Paired64 ? 8 : 4;
  switch (mode >> 6) {
    case 0: return static_cast<std::uint32_t>(mode & 0x3F) * 0x1000;
    case 1: return static_cast<std::uint32_t>(in.u8()) * align * 64;
    case 2: return 0x80000 + static_cast<std::uint32_t>(in.u16()) * align;
    default: return in.u32();
  }
}

std::uint32_t word_count(Bytes& in, ExchangeItemWidth width) {
  const std::uint8_t mode = in.u8();
  if (width == ExchangeItemWidth::Paired64) {
    switch (mode >> 6) {
      case 0: return 128 + 2 * static_cast<std::uint32_t>(mode & 0x3F);
      case 1: return 128 + 2 * static_cast<std::uint32_t>(in.u8()) * 8;
      case 2: return 4148 - 2 * static_cast<std::uint32_t>(mode & 0x3F);
      default: return in.u16();
    }
  }
  switch (mode >> 6) {
    case 0: return 1 + (mode & 0x3F);
    case 1: return 1 + static_cast<std::uint32_t>(in.u8()) * 16;
    case 2: return 4148 - (mode & 0x3F);
    default: return in.u16();
  }
}

ExchangeScheduleSnapshot build_snapshot(Bytes& in) {
  ExchangeScheduleSnapshot snapshot;
  snapshot.schema_version = kSnapshotSchemaVersion;
  const std::uint8_t tiles = in.u8();
  snapshot.tile_count = tiles < 0xF0 ? static_cast<std::uint16_t>(1 + tiles % 24)
                                     : static_cast<std::uint16_t>(1 + in.u16() % tessel_exchange::kR912TileCount);
  const std::size_t phase_count = 1 + in.u8() % kMaxPhases;
  for (std::size_t p = 0; p < phase_count && !in.done(); ++p) {
    ExchangeScheduleProblem problem;
    problem.phase = in.u8();
    const std::size_t transfer_count = in.u8() % 17;
    for (std::size_t t = 0; t < transfer_count && !in.done(); ++t) {
      ExchangeScheduleTransfer transfer;
      const std::uint8_t shape = in.u8();
      transfer.width = (shape & 0x80) ? ExchangeItemWidth::Paired64 : ExchangeItemWidth::Word32;
      transfer.source = static_cast<std::uint16_t>(in.u16() % snapshot.tile_count);
      const std::size_t iterations = 1 + (shape & 0x3);
      for (std::size_t i = 0; i < iterations; ++i) transfer.source_addresses.push_back(address(in, transfer.width));
      const std::size_t destinations = 1 + ((shape >> 2) & 0x7);
      for (std::size_t d = 0; d < destinations; ++d) {
        const auto tile = static_cast<std::uint16_t>((transfer.source + 1 + in.u8()) % snapshot.tile_count);
        const std::uint32_t at = address(in, transfer.width);
        // A paired payload goes to both tiles of a pair (logical tiles 2k and 2k + 1 on the card),
        // unless the shape asks for an arbitrary receiver set.
        if (transfer.width == ExchangeItemWidth::Paired64 && !(shape & 0x40)) {
          const auto low = static_cast<std::uint16_t>(tile & ~1u);
          transfer.destinations.push_back({low, at});
          transfer.destinations.push_back({static_cast<std::uint16_t>(low + 1), at});
        } else {
          transfer.destinations.push_back({tile, at});
        }
      }
      transfer.words = word_count(in, transfer.width);
      problem.transfers.push_back(std::move(transfer));
    }
    snapshot.phases.push_back(std::move(problem));
  }
  return snapshot;
}

// With TESSEL_FUZZ_PROGRAM_SEEDS=DIR, every active program is also written to DIR in the decoder
// target's input form: seeds for fuzz_plan_program.
void write_program_seed(const std::vector<std::uint32_t>& program) {
  static const char* dir = std::getenv("TESSEL_FUZZ_PROGRAM_SEEDS");
  static int count = 0;
  if (dir == nullptr || program.size() < 2) return;
  const std::string path = std::string(dir) + "/program-" + std::to_string(count++);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  const std::uint8_t header[5] = {static_cast<std::uint8_t>(count & 1), 0, 0, 0x01, 0};
  std::fwrite(header, 1, sizeof header, file);
  std::fwrite(program.data(), 4, program.size(), file);
  std::fclose(file);
}

[[noreturn]] void fault(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_pipeline: %s: %s\n", what, detail.c_str());
  std::abort();
}

void replay(const ExchangeScheduleSnapshot& snapshot) {
  if (!snapshot.validate()) return;
  for (const ExchangeScheduleProblem& problem : snapshot.phases) {
    auto first = schedule_exchange_problem(snapshot.tile_count, problem);
    if (!first) {
      if (first.error().kind() == ExchangeLoweringErrorKind::Invariant) fault("scheduler invariant", first.error().to_string());
      if (std::getenv("TESSEL_FUZZ_VERBOSE")) std::fprintf(stderr, "schedule error: %s\n", first.error().to_string().c_str());
      continue;
    }
    if (auto valid = validate_exchange_schedule(snapshot.tile_count, problem, *first); !valid)
      fault("schedule validation", valid.error().to_string());
    auto second = schedule_exchange_problem(snapshot.tile_count, problem);
    if (!second || !first->same_output(*second)) fault("determinism", "output changed between identical runs");
    for (const auto& program : first->programs) {
      write_program_seed(program);
      auto decoded = tessel_exchange::diagnostic::diagnose_plan_program(program, false);
      if (!decoded) fault("decode", decoded.error().to_string());
      (void)decoded->render();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInputBytes) return 0;
  if (data[0] == '{' || data[0] == '[') {
    auto snapshot = read_snapshot(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!snapshot) return 0;
    std::size_t transfers = 0;
    for (const auto& phase : snapshot->phases) transfers += phase.transfers.size();
    if (snapshot->phases.size() > kMaxPhases * 4 || transfers > kMaxTransfers) return 0;
    replay(*snapshot);
    return 0;
  }
  Bytes in(data + 1, size - 1);
  replay(build_snapshot(in));
  return 0;
}
