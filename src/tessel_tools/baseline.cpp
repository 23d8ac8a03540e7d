#include "tessel_tools/baseline.hpp"

#include <fmt/format.h>
#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "tessel_tools/file_text.hpp"

namespace tessel_tools {

namespace {

using Parsed = std::expected<BaselineReport, std::string>;

std::optional<std::uint64_t> read_unsigned(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> read_milliseconds(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// Calls `on_line(number, line)` for every line; stops at the first error it returns.
template <class OnLine>
std::expected<void, std::string> for_each_line(std::string_view text, OnLine on_line) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (auto done = on_line(number, line); !done) return done;
  }
  return {};
}

std::expected<void, std::string> add_phase(BaselineReport& report, std::size_t line, const BaselinePhase& phase) {
  for (const BaselinePhase& earlier : report.phases)
    if (earlier.phase == phase.phase) return std::unexpected(fmt::format("line {}: phase {} appears twice", line, phase.phase));
  report.phases.push_back(phase);
  return {};
}

// key=value pairs separated by single blanks.
std::map<std::string_view, std::string_view> key_values(std::string_view line) {
  std::map<std::string_view, std::string_view> values;
  while (!line.empty()) {
    const std::size_t end = line.find(' ');
    const std::string_view token = line.substr(0, end);
    line = end == std::string_view::npos ? std::string_view{} : line.substr(end + 1);
    const std::size_t equals = token.find('=');
    if (equals != std::string_view::npos) values.emplace(token.substr(0, equals), token.substr(equals + 1));
  }
  return values;
}

Parsed parse_text(std::string_view text) {
  BaselineReport report;
  bool has_header = false;
  auto parsed = for_each_line(text, [&](std::size_t number, std::string_view line) -> std::expected<void, std::string> {
    if (line.starts_with("snapshot=")) {
      // The path may hold blanks; the keys after it are fixed.
      const std::size_t tiles_at = line.rfind(" tiles=");
      if (tiles_at == std::string_view::npos) return std::unexpected(fmt::format("line {}: header has no tiles", number));
      auto values = key_values(line.substr(tiles_at + 1));
      auto tiles = read_unsigned(values["tiles"]);
      auto iterations = read_unsigned(values["iterations"]);
      const std::string_view aware = values["repeatAware"];
      if (!tiles || !iterations || (aware != "true" && aware != "false"))
        return std::unexpected(fmt::format("line {}: malformed header line", number));
      report.snapshot = std::string(line.substr(9, tiles_at - 9));
      report.tiles = *tiles;
      report.iterations = *iterations;
      report.repeat_aware = aware == "true";
      has_header = true;
      return {};
    }
    if (!line.starts_with("phase=")) return {};
    auto values = key_values(line);
    if (values.contains("logicalTile")) return {};  // a tile dump line
    for (const char* key : {"horizonCycles", "rowWords", "scheduleCodegenMedianMs"})
      if (!values.contains(key)) return std::unexpected(fmt::format("line {}: phase line has no {}", number, key));
    auto phase = read_unsigned(values["phase"]);
    auto horizon = read_unsigned(values["horizonCycles"]);
    auto row_words = read_unsigned(values["rowWords"]);
    auto median = read_milliseconds(values["scheduleCodegenMedianMs"]);
    if (!phase || *phase > UINT32_MAX || !horizon || !row_words || !median)
      return std::unexpected(fmt::format("line {}: malformed phase line", number));
    return add_phase(report, number, {static_cast<std::uint32_t>(*phase), *horizon, *row_words, *median});
  });
  if (!parsed) return std::unexpected(parsed.error());
  if (!has_header) return std::unexpected(std::string("no report header line (snapshot=...)"));
  return report;
}

// Each line is parsed whole (the DOM parser rejects trailing content); only the keys the
// comparison needs are read, and they must have the report's types.
Parsed parse_json_lines(std::string_view text) {
  BaselineReport report;
  bool has_header = false;
  simdjson::dom::parser parser;
  auto parsed = for_each_line(text, [&](std::size_t number, std::string_view line) -> std::expected<void, std::string> {
    if (line.find_first_not_of(" \t") == std::string_view::npos) return {};
    const auto fail = [&](const std::string& what) { return std::unexpected(fmt::format("line {}: {}", number, what)); };
    simdjson::dom::object object;
    if (auto error = parser.parse(simdjson::padded_string(line)).get(object); error)
      return fail(simdjson::error_message(error));
    std::string_view type;
    if (object["type"].get(type) != simdjson::SUCCESS) return fail("object has no \"type\" string");

    const auto field_error = [&](const char* key, simdjson::error_code error) {
      return fail(fmt::format("key {}: {}", key, simdjson::error_message(error)));
    };
    if (type == "header") {
      std::string_view snapshot;
      std::uint64_t tiles = 0, iterations = 0;
      bool repeat_aware = false;
      if (auto e = object["snapshot"].get(snapshot); e) return field_error("snapshot", e);
      if (auto e = object["tiles"].get(tiles); e) return field_error("tiles", e);
      if (auto e = object["iterations"].get(iterations); e) return field_error("iterations", e);
      if (auto e = object["repeatAware"].get(repeat_aware); e) return field_error("repeatAware", e);
      report.snapshot = std::string(snapshot);
      report.tiles = tiles;
      report.iterations = iterations;
      report.repeat_aware = repeat_aware;
      has_header = true;
    } else if (type == "phase") {
      BaselinePhase phase;
      std::uint64_t id = 0;
      if (auto e = object["phase"].get(id); e) return field_error("phase", e);
      if (id > UINT32_MAX) return fail(fmt::format("phase {} is out of range", id));
      phase.phase = static_cast<std::uint32_t>(id);
      if (auto e = object["horizonCycles"].get(phase.horizon_cycles); e) return field_error("horizonCycles", e);
      if (auto e = object["rowWords"].get(phase.row_words); e) return field_error("rowWords", e);
      if (auto e = object["scheduleCodegenMedianMs"].get(phase.schedule_codegen_median_ms); e)
        return field_error("scheduleCodegenMedianMs", e);
      return add_phase(report, number, phase);
    }
    return {};
  });
  if (!parsed) return std::unexpected(parsed.error());
  if (!has_header) return std::unexpected(std::string("no report header object"));
  return report;
}

// "+12.5%", "-3.0%", "0.0%"; "n/a" when the old value is 0 and the new one is not.
std::string change_text(double old_value, double new_value) {
  if (old_value == new_value) return "0.0%";
  if (old_value == 0) return "n/a";
  return fmt::format("{:+.1f}%", (new_value - old_value) / old_value * 100.0);
}

std::string id_list(const std::vector<std::uint32_t>& ids) {
  std::string out;
  for (std::uint32_t id : ids) out += (out.empty() ? "" : ", ") + std::to_string(id);
  return out;
}

}  // namespace

Parsed parse_baseline(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '{') return parse_json_lines(text);
  return parse_text(text);
}

std::expected<BaselineReport, RunError> read_baseline(const std::string& path) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  errno = 0;
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::unexpected(RunError{fmt::format("open baseline {}", path), {std::strerror(errno)}});
  // A report holds a few hundred bytes per phase; anything far beyond that is not one.
  constexpr std::size_t kMaximumBaselineBytes = std::size_t{256} << 20;
  auto text = read_whole_file(file.get(), kMaximumBaselineBytes);
  if (!text) return std::unexpected(RunError{fmt::format("parse baseline {}", path), {text.error()}});
  auto parsed = parse_baseline(*text);
  if (!parsed) return std::unexpected(RunError{fmt::format("parse baseline {}", path), {parsed.error()}});
  return std::move(*parsed);
}

BaselineComparison compare_with_baseline(const std::string& baseline_path, const BaselineReport& baseline,
                                         const Arguments& args, std::size_t tile_count,
                                         const std::vector<PhaseFigures>& phases) {
  BaselineComparison comparison;
  std::string& out = comparison.text;
  out += fmt::format("Comparison with baseline {}\n", baseline_path);
  out += fmt::format("  old: snapshot={} tiles={} iterations={} repeatAware={}\n", baseline.snapshot, baseline.tiles,
                     baseline.iterations, baseline.repeat_aware);
  out += fmt::format("  new: snapshot={} tiles={} iterations={} repeatAware={}\n", args.snapshot, tile_count,
                     args.iterations, !args.first_iteration_only);

  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> regressions;
  std::vector<std::uint32_t> only_new;
  std::set<std::uint32_t> seen;
  for (const PhaseFigures& now : phases) {
    auto old = std::find_if(baseline.phases.begin(), baseline.phases.end(),
                            [&](const BaselinePhase& p) { return p.phase == now.phase; });
    if (old == baseline.phases.end()) {
      only_new.push_back(now.phase);
      continue;
    }
    seen.insert(now.phase);
    rows.push_back({std::to_string(now.phase), std::to_string(old->horizon_cycles), std::to_string(now.horizon_cycles),
                    change_text(static_cast<double>(old->horizon_cycles), now.horizon_cycles),
                    std::to_string(old->row_words), std::to_string(now.row_words),
                    change_text(static_cast<double>(old->row_words), static_cast<double>(now.row_words)),
                    fmt::format("{:.3f}", old->schedule_codegen_median_ms),
                    fmt::format("{:.3f}", now.schedule_codegen_median_ms),
                    change_text(old->schedule_codegen_median_ms, now.schedule_codegen_median_ms)});
    if (now.horizon_cycles > old->horizon_cycles)
      regressions.push_back(fmt::format("phase {} horizonCycles grew from {} to {}", now.phase, old->horizon_cycles,
                                        now.horizon_cycles));
    if (now.row_words > old->row_words)
      regressions.push_back(
          fmt::format("phase {} rowWords grew from {} to {}", now.phase, old->row_words, now.row_words));
  }
  std::vector<std::uint32_t> only_old;
  for (const BaselinePhase& p : baseline.phases)
    if (!seen.contains(p.phase)) only_old.push_back(p.phase);

  if (!rows.empty()) {
    const std::vector<std::string> heading = {"phase", "old", "new", "change", "old", "new", "change", "old",
                                              "new",   "change"};
    std::vector<std::size_t> width(heading.size());
    for (std::size_t c = 0; c < heading.size(); ++c) {
      width[c] = heading[c].size();
      for (const auto& row : rows) width[c] = std::max(width[c], row[c].size());
    }
    // Group titles over each triple of columns.
    const auto group_width = [&](std::size_t from) { return width[from] + width[from + 1] + width[from + 2] + 4; };
    out += fmt::format("{:<{}}  {:<{}}  {:<{}}  {}\n", "", width[0], "horizonCycles", group_width(1), "rowWords",
                       group_width(4), "scheduleCodegenMedianMs");
    const auto line = [&](const std::vector<std::string>& cells) {
      std::string text = fmt::format("{:<{}}", cells[0], width[0]);
      for (std::size_t c = 1; c < cells.size(); ++c) text += fmt::format("  {:>{}}", cells[c], width[c]);
      return text + "\n";
    };
    out += line(heading);
    for (const auto& row : rows) out += line(row);
  }
  if (!only_old.empty()) out += fmt::format("Only in the baseline: phase {}\n", id_list(only_old));
  if (!only_new.empty()) out += fmt::format("Only in this run: phase {}\n", id_list(only_new));
  for (const std::string& regression : regressions) out += "Regression: " + regression + "\n";
  comparison.regressed = !regressions.empty();
  return comparison;
}

}  // namespace tessel_tools
