#include "tessel_codegen/exchange/memory_dependencies.hpp"

#include <gtest/gtest.h>

namespace tessel_codegen::exchange {
namespace {

PendingTransfer transfer(std::uint16_t source, std::vector<std::uint32_t> sources,
                         std::vector<std::pair<std::uint16_t, std::uint32_t>> destinations, std::uint32_t words) {
  PendingTransfer t;
  t.source = source;
  t.source_addresses = std::move(sources);
  t.destinations = std::move(destinations);
  t.words = words;
  t.refresh_source_elements();
  return t;
}

TEST(MemoryDependencies, OverlapsOnOneTileAreOrderedByPendingOrder) {
  struct Case {
    const char* name;
    std::vector<PendingTransfer> transfers;
    std::vector<MemoryDependency> pairs;
  };
  const Case cases[] = {
      {"read after write", {transfer(0, {0}, {{5, 0x100}}, 4), transfer(5, {0x108}, {{1, 0}}, 2)}, {{0, 1}}},
      {"write after read", {transfer(5, {0x100}, {{1, 0}}, 4), transfer(0, {0}, {{5, 0x100}}, 4)}, {{0, 1}}},
      {"write after write", {transfer(0, {0}, {{5, 0x100}}, 4), transfer(1, {0}, {{5, 0x100}}, 4)}, {{0, 1}}},
      {"adjacent writes", {transfer(0, {0}, {{5, 0x100}}, 4), transfer(1, {0}, {{5, 0x110}}, 4)}, {}},
      {"reads then a write",
       {transfer(5, {0x100}, {{1, 0}}, 4), transfer(5, {0x100}, {{2, 0}}, 4), transfer(0, {0}, {{5, 0x100}}, 4)},
       {{0, 2}, {1, 2}}},
      {"loopback multicast", {transfer(0, {0x0}, {{1, 0}, {0, 0x4000}}, 4)}, {}},
      {"loopback reading its own write", {transfer(0, {0x0}, {{1, 0}, {0, 0x0}}, 4)}, {}},
      {"every repeat iteration counts",
       {transfer(0, {0}, {{5, 0x200}}, 4), transfer(5, {0x100, 0x200}, {{1, 0}}, 4)},
       {{0, 1}}},
      {"same addresses on other tiles", {transfer(0, {0}, {{5, 0x100}}, 4), transfer(6, {0x100}, {{1, 0x500}}, 4)}, {}},
      {"chain through a segment",
       {transfer(0, {0}, {{5, 0x100}}, 8), transfer(1, {0}, {{5, 0x110}}, 4), transfer(5, {0x100}, {{2, 0}}, 8)},
       {{0, 1}, {0, 2}, {1, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(memory_dependencies(c.transfers, 8), c.pairs);
  }
}

TEST(MemoryDependencies, TransferCycles) {
  PendingTransfer t = transfer(0, {0}, {{1, 0}}, 130);
  EXPECT_EQ(transfer_cycles(t), 130u);
  t.width = ExchangeItemWidth::Paired64;
  EXPECT_EQ(transfer_cycles(t), 65u);
  t.words = 129;
  EXPECT_EQ(transfer_cycles(t), 129u);
  t.words = 0;
  EXPECT_EQ(transfer_cycles(t), 0u);
}

}  // namespace
}  // namespace tessel_codegen::exchange
