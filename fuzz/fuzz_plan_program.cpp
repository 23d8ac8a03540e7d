// The program decoder on raw words: the first byte chooses whether addresses are shown, the next four
// give the base address, the rest are the program's words (little-endian). Decoding either succeeds
// and renders or fails with a message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tessel_exchange/diagnostic/plan_program.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const bool with_addresses = (data[0] & 1) != 0;
  std::uint32_t base_address = 0;
  std::memcpy(&base_address, data + 1, 4);
  std::vector<std::uint32_t> words((size - 5) / 4);
  if (!words.empty()) std::memcpy(words.data(), data + 5, words.size() * 4);

  auto decoded = tessel_exchange::diagnostic::diagnose_plan_program(words, with_addresses, base_address);
  if (!decoded) {
    if (decoded.error().to_string().empty()) std::abort();
    return 0;
  }
  if (decoded->word_count != words.size()) std::abort();
  const std::string text = decoded->render();
  if (!decoded->instructions.empty() && text.empty()) std::abort();
  return 0;
}
