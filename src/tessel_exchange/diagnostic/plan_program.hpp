#pragma once
// Decoding a tile's exchange program into instructions with their cycle intervals, and its text form.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tessel_exchange/error.hpp"

namespace tessel_exchange::diagnostic {

enum class IncomingControlStream : std::uint8_t { Pic, Xpic };

struct IncomingControl {
  IncomingControlStream stream = IncomingControlStream::Pic;
  std::uint32_t value = 0;
  bool operator==(const IncomingControl&) const = default;
};

enum class SendEncoding : std::uint8_t { Explicit, Offset, Pic, PicPair };

struct PlanOperation {
  enum class Kind : std::uint8_t { Delay, IncomingControl, Send, Sync, Return, Unknown };

  Kind kind = Kind::Return;
  IncomingControl control;                // IncomingControl
  SendEncoding encoding = SendEncoding::Explicit;  // Send
  std::uint32_t words = 0;                // Send
  std::uint32_t raw_operand = 0;          // Send
  std::optional<std::uint8_t> send_control;  // Send
  std::vector<IncomingControl> controls;  // Send
  std::uint32_t value = 0;                // Sync: the sync value; Unknown: the whole word

  bool operator==(const PlanOperation&) const = default;
};

struct DecodedPlanInstruction {
  PlanOperation operation;
  std::optional<std::uint32_t> address;
  std::uint32_t word = 0;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  bool operator==(const DecodedPlanInstruction&) const = default;
};

struct PlanProgramDiagnostic {
  std::vector<DecodedPlanInstruction> instructions;
  std::uint32_t horizon = 0;
  std::uint32_t word_count = 0;

  // One line per instruction: "word+{index}" or "0x{address:05x}", then " cycles={start}..{end} {operation}".
  std::string render() const;

  bool operator==(const PlanProgramDiagnostic&) const = default;
};

// Decodes every word of a program; `base_address` is the byte address of word 0 and is used only when
// `with_addresses` is set.
Result<PlanProgramDiagnostic> diagnose_plan_program(std::span<const std::uint32_t> words, bool with_addresses,
                                                    std::uint32_t base_address = 0);

// Text forms used by the rendering.
std::string to_string(const IncomingControl& control);
std::string to_string(const PlanOperation& operation);

}  // namespace tessel_exchange::diagnostic
