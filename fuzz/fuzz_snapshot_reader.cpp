// The snapshot reader on raw bytes: any input is read or rejected with a positioned message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tessel_codegen/exchange/snapshot_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  auto snapshot = tessel_codegen::exchange::read_snapshot(json);
  if (!snapshot) {
    if (snapshot.error().message.empty()) std::abort();
    return 0;
  }
  (void)snapshot->validate();
  return 0;
}
