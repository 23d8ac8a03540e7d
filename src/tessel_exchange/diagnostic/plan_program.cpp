#include "tessel_exchange/diagnostic/plan_program.hpp"

#include <fmt/format.h>

#include "support/checked.hpp"
#include "support/result.hpp"

namespace tessel_exchange::diagnostic {

namespace {

struct Decoded {
  PlanOperation operation;
  std::uint32_t cycles = 0;
  std::uint32_t consumed = 1;
};

PlanOperation send(SendEncoding encoding, std::uint32_t words, std::uint32_t raw_operand,
                   std::optional<std::uint8_t> send_control, std::vector<IncomingControl> controls) {
  PlanOperation op;
  op.kind = PlanOperation::Kind::Send;
  op.encoding = encoding;
  op.words = words;
  op.raw_operand = raw_operand;
  op.send_control = send_control;
  op.controls = std::move(controls);
  return op;
}

// Classifies the word at `i`; the first matching kind wins.
Result<Decoded> decode_word(std::span<const std::uint32_t> words, std::size_t i) {
  const std::uint32_t w = words[i];
  Decoded d;
  using Kind = PlanOperation::Kind;
  if (w == 0x43A00000u) {
    d.operation.kind = Kind::Return;
  } else if ((w & 0xFFF80000u) == 0x40A00000u) {
    d.operation.kind = Kind::Delay;
    d.cycles = (w & 0x7FFFFu) + 1;
  } else if ((w & 0xFC000000u) == 0x64000000u) {
    d.operation.kind = Kind::IncomingControl;
    d.operation.control = {IncomingControlStream::Xpic, w & 0x3FFFu};
    d.cycles = ((w >> 14) & 0xFFFu) + 1;
  } else if ((w & 0xFC000000u) == 0x60000000u) {
    d.operation.kind = Kind::IncomingControl;
    d.operation.control = {IncomingControlStream::Pic, w & 0x7FFFFu};
    d.cycles = ((w >> 19) & 0x7Fu) + 1;
  } else if (w >= 0xF0000000u) {
    if (i + 1 >= words.size()) return std::unexpected(ExchangeError::schedule("truncated SENDPICP payload"));
    const std::uint32_t v = words[i + 1];
    const std::uint32_t count = ((w >> 21) & 0x3Fu) + 1;
    d.operation = send(SendEncoding::PicPair, count, (w >> 3) & 0x3FFFFu, static_cast<std::uint8_t>(w & 7u),
                       {{IncomingControlStream::Xpic, v >> 18},
                        {IncomingControlStream::Pic, (v & 0x3FFFFu) | ((w >> 9) & 0x40000u)}});
    d.cycles = count;
    d.consumed = 2;
  } else if ((w & 0xF8100000u) == 0x70100000u) {
    const std::uint32_t count = ((w >> 21) & 0x3Fu) + 1;
    const IncomingControl carried = (w & (1u << 19)) != 0
                                        ? IncomingControl{IncomingControlStream::Pic, w & 0x7FFFFu}
                                        : IncomingControl{IncomingControlStream::Xpic,
                                                          (((w >> 18) & 1u) << 13) | (w & 0x1FFFu)};
    d.operation = send(SendEncoding::Pic, count, w & 0x3FFFFu, std::nullopt, {carried});
    d.cycles = count;
  } else if (w >= 0x78000000u && w <= 0x7FFFFFFFu) {
    const std::uint32_t count = ((w >> 21) & 0x3Fu) + 1;
    d.operation = send(SendEncoding::Explicit, count, (w >> 3) & 0x3FFFFu, static_cast<std::uint8_t>(w & 7u), {});
    d.cycles = count;
  } else if ((w & 0xF8100000u) == 0x70000000u) {
    const std::uint32_t count = ((((w >> 14) & 0x3Fu) << 6) | ((w >> 21) & 0x3Fu)) + 1;
    d.operation = send(SendEncoding::Offset, count, (w >> 3) & 0x7FFu, static_cast<std::uint8_t>(w & 7u), {});
    d.cycles = count;
  } else if ((w & 0xFFFFFF00u) == 0x41800000u) {
    d.operation.kind = Kind::Sync;
    d.operation.value = w & 0xFFu;
  } else {
    d.operation.kind = Kind::Unknown;
    d.operation.value = w;
  }
  return d;
}

const char* stream_name(IncomingControlStream stream) {
  return stream == IncomingControlStream::Pic ? "Pic" : "Xpic";
}

const char* encoding_name(SendEncoding encoding) {
  switch (encoding) {
    case SendEncoding::Explicit: return "Explicit";
    case SendEncoding::Offset: return "Offset";
    case SendEncoding::Pic: return "Pic";
    case SendEncoding::PicPair: return "PicPair";
  }
  return "Unknown";
}

}  // namespace

Result<PlanProgramDiagnostic> diagnose_plan_program(std::span<const std::uint32_t> words, bool with_addresses,
                                                    std::uint32_t base_address) {
  PlanProgramDiagnostic out;
  out.instructions.reserve(words.size());
  std::uint32_t time = 0;
  std::size_t i = 0;
  while (i < words.size()) {
    Decoded d = TESSEL_TRY(decode_word(words, i));
    const auto end = support::checked_add(time, d.cycles);
    if (!end) return std::unexpected(ExchangeError::schedule("diagnostic event horizon overflow"));
    DecodedPlanInstruction instruction;
    if (with_addresses) {
      const auto offset = i <= UINT32_MAX / 4 ? support::checked_add(base_address, static_cast<std::uint32_t>(i * 4))
                                              : std::nullopt;
      if (!offset) return std::unexpected(ExchangeError::schedule("diagnostic row address overflow"));
      instruction.address = *offset;
    }
    instruction.operation = std::move(d.operation);
    instruction.word = static_cast<std::uint32_t>(i);
    instruction.start = time;
    instruction.end = *end;
    out.instructions.push_back(std::move(instruction));
    time = *end;
    i += d.consumed;
  }
  out.horizon = time;
  out.word_count = static_cast<std::uint32_t>(words.size());
  return out;
}

std::string to_string(const IncomingControl& control) {
  return fmt::format("IncomingControl {{ stream: {}, value: {} }}", stream_name(control.stream), control.value);
}

std::string to_string(const PlanOperation& op) {
  using Kind = PlanOperation::Kind;
  switch (op.kind) {
    case Kind::Delay: return "Delay";
    case Kind::Return: return "Return";
    case Kind::Sync: return fmt::format("Sync({})", op.value);
    case Kind::Unknown: return fmt::format("Unknown({})", op.value);
    case Kind::IncomingControl: return fmt::format("IncomingControl({})", to_string(op.control));
    case Kind::Send: {
      std::string controls;
      for (const IncomingControl& c : op.controls) {
        if (!controls.empty()) controls += ", ";
        controls += to_string(c);
      }
      return fmt::format("Send {{ encoding: {}, words: {}, raw_operand: {}, send_control: {}, controls: [{}] }}",
                         encoding_name(op.encoding), op.words, op.raw_operand,
                         op.send_control ? fmt::format("Some({})", *op.send_control) : std::string("None"),
                         controls);
    }
  }
  return "Unknown";
}

std::string PlanProgramDiagnostic::render() const {
  std::string text;
  for (const DecodedPlanInstruction& instruction : instructions) {
    if (instruction.address)
      text += fmt::format("0x{:05x}", *instruction.address);
    else
      text += fmt::format("word+{}", instruction.word);
    text += fmt::format(" cycles={}..{} {}\n", instruction.start, instruction.end, to_string(instruction.operation));
  }
  return text;
}

}  // namespace tessel_exchange::diagnostic
