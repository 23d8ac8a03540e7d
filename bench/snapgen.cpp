// tessel_snapgen: writes a synthetic exchange-schedule snapshot (schema version 3) to standard output.
//
//   tessel_snapgen --shape mixed --tiles 1472 --transfers 20000 --seed 1 [--phases 3] > mixed.json

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "workloads.hpp"

int main(int argc, char** argv) {
  std::string shape_name;
  unsigned tiles = 0;
  std::size_t transfers = 0;
  std::uint64_t seed = 0;
  std::size_t phases = 1;

  std::string shapes;
  for (tessel_bench::WorkloadShape shape : tessel_bench::all_workload_shapes())
    shapes += std::string(shapes.empty() ? "" : ", ") + tessel_bench::workload_shape_name(shape);

  CLI::App app{"Write a synthetic exchange-schedule snapshot to standard output", "tessel_snapgen"};
  app.add_option("--shape", shape_name, "Workload shape: " + shapes)->required()->type_name("NAME");
  app.add_option("--tiles", tiles, "Tile count")->required()->type_name("T");
  app.add_option("--transfers", transfers, "Transfers per phase")->required()->type_name("N");
  app.add_option("--seed", seed, "Seed; equal arguments give equal output")->required()->type_name("S");
  app.add_option("--phases", phases, "Number of phases")->default_val("1")->type_name("P");
  CLI11_PARSE(app, argc, argv);

  const auto shape = tessel_bench::workload_shape_from_name(shape_name);
  if (!shape) {
    fmt::print(stderr, "Error: unknown shape {} (expected one of {})\n", shape_name, shapes);
    return 2;
  }
  if (tiles > UINT16_MAX) {
    fmt::print(stderr, "Error: tile count {} is too large\n", tiles);
    return 2;
  }
  const auto snapshot =
      tessel_bench::generate_workload({*shape, static_cast<std::uint16_t>(tiles), transfers, seed, phases});
  if (!snapshot) {
    fmt::print(stderr, "Error: {}\n", snapshot.error());
    return 2;
  }
  const std::string json = tessel_bench::snapshot_json(*snapshot);
  std::fwrite(json.data(), 1, json.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
