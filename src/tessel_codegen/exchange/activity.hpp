#pragma once
// What a tile does in a phase: one record per involvement of a tile in a transfer.

#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange {

enum class ExchangeActivityKind : std::uint8_t { Send, Receive, PartnerBusy };

const char* activity_kind_name(ExchangeActivityKind kind);

struct ExchangeActivity {
  std::uint32_t transfer = 0;
  std::uint32_t start = 0;        // first cycle of the involvement
  std::uint32_t payload_end = 0;  // cycle at which its payload is done
  std::uint32_t horizon = 0;      // end of its program row
  std::uint32_t address = 0;      // first source address (Send, PartnerBusy) or destination address (Receive)
  std::uint32_t words = 0;
  std::uint16_t destination_count = 0;
  ExchangeActivityKind kind = ExchangeActivityKind::Send;
  ExchangeItemWidth width = ExchangeItemWidth::Word32;

  bool operator==(const ExchangeActivity&) const = default;
};

// A per-iteration patch of one sender row of a structured-repeat phase. Standalone phases carry none.
struct ExchangeRowPatch {
  std::uint32_t row = 0;
  std::vector<std::uint32_t> addresses;

  bool operator==(const ExchangeRowPatch&) const = default;
};

}  // namespace tessel_codegen::exchange
