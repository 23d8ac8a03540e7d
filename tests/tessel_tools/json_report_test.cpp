#include "tessel_tools/json_report.hpp"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <map>
#include <sstream>

#include "tessel_tools/json_text.hpp"
#include "test_support/run_program.hpp"

namespace tessel_tools {
namespace {

using test_support::data_path;
using test_support::run_replay;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// key=value fields of a text report line; the snapshot path of a header may not hold blanks here.
std::map<std::string, std::string> text_fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::istringstream in(line);
  for (std::string token; in >> token;) {
    const auto equals = token.find('=');
    EXPECT_NE(equals, std::string::npos) << token;
    fields[token.substr(0, equals)] = token.substr(equals + 1);
  }
  return fields;
}

// Fields of a JSON Lines object as text: numbers and booleans as written, strings unquoted.
std::map<std::string, std::string> json_fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  simdjson::dom::parser parser;
  simdjson::dom::object object;
  EXPECT_EQ(parser.parse(simdjson::padded_string(line)).get(object), simdjson::SUCCESS) << line;
  for (auto [key, value] : object) {
    if (value.is_string())
      fields[std::string(key)] = std::string(value.get_string().value());
    else
      fields[std::string(key)] = simdjson::minify(value);
  }
  return fields;
}

// The JSON value of a milliseconds field, rounded as the text report rounds it.
std::string as_text_milliseconds(const std::string& json_value) {
  return fmt::format("{:.3f}", std::stod(json_value));
}

bool is_milliseconds(const std::string& key) { return key.ends_with("Ms"); }

TEST(JsonReport, LinesMatchTheTextLinesOfTheSameFigures) {
  PhaseFigures f{7, 3, 5, 130, 125, 64, 61, 2, 29, 9, 0.1234567, 0.25, 1500.0, 1500.0004, 0.0000125};
  const auto text = text_fields(phase_line(f));
  auto json = json_fields(json_phase_line(f));
  EXPECT_EQ(json["type"], "phase");
  json.erase("type");
  ASSERT_EQ(json.size(), text.size());
  for (const auto& [key, value] : text) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(json.contains(key));
    EXPECT_EQ(is_milliseconds(key) ? as_text_milliseconds(json[key]) : json[key], value);
  }
  EXPECT_EQ(json["scheduleCodegenMinMs"], "0.1234567") << "full precision";
  EXPECT_EQ(json["validationMedianMs"], "1.25e-05");

  Arguments args;
  args.snapshot = "a \"quoted\" path\\x";
  args.warmup = 2;
  args.iterations = 5;
  args.first_iteration_only = true;
  EXPECT_EQ(json_header_line(args, 1472, 3),
            "{\"type\":\"header\",\"snapshot\":\"a \\\"quoted\\\" path\\\\x\",\"tiles\":1472,\"phases\":3,"
            "\"warmup\":2,\"iterations\":5,\"repeatAware\":false}\n");
  EXPECT_EQ(json_total_line(std::chrono::microseconds(250)), "{\"type\":\"total\",\"totalMs\":0.25}\n");
}

TEST(JsonReport, StringsStayValidJson) {
  struct Case {
    std::string text, json;
  };
  const Case cases[] = {
      {"plain/path.json", "\"plain/path.json\""},
      {"tab\tnew\nline\x01", "\"tab\\tnew\\nline\\u0001\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
      {"bad \xff byte, cut \xc3", "\"bad \\ufffd byte, cut \\ufffd\""},
      {"overlong \xc0\xaf, surrogate \xed\xa0\x80", "\"overlong \\ufffd\\ufffd, surrogate \\ufffd\\ufffd\\ufffd\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(json_string(c.text), c.json);
    simdjson::dom::parser parser;
    std::string_view back;
    EXPECT_EQ(parser.parse(simdjson::padded_string(json_string(c.text))).get(back), simdjson::SUCCESS);
  }
}

// The text and JSON reports of the same snapshot agree field by field; the timings come from two
// runs, so they are only checked to be numbers.
TEST(JsonReport, EndToEndAgreesWithTheTextReport) {
  const std::string snapshot = data_path("tools_two_phases.json");
  const auto text = run_replay({snapshot, "--iterations", "3", "--dump-tile", "3"});
  const auto json = run_replay({snapshot, "--iterations", "3", "--dump-tile", "3", "--report-format", "json"});
  ASSERT_EQ(text.status, 0);
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.err, "");

  std::vector<std::string> text_lines;
  for (const std::string& line : lines_of(text.out))
    if (line.starts_with("snapshot=") || line.starts_with("totalMs=") ||
        (line.starts_with("phase=") && line.find("invariants=") != std::string::npos))
      text_lines.push_back(line);
  std::vector<std::map<std::string, std::string>> report_objects;
  std::vector<std::map<std::string, std::string>> dump_objects;
  for (const std::string& line : lines_of(json.out)) {
    auto fields = json_fields(line);
    (fields["type"] == "activity" || fields["type"] == "program" ? dump_objects : report_objects).push_back(fields);
  }
  ASSERT_EQ(report_objects.size(), text_lines.size());
  const char* types[] = {"header", "phase", "phase", "total"};
  for (std::size_t i = 0; i < text_lines.size(); ++i) {
    SCOPED_TRACE(text_lines[i]);
    auto object = report_objects[i];
    EXPECT_EQ(object["type"], types[i]);
    object.erase("type");
    const auto fields = text_fields(text_lines[i]);
    ASSERT_EQ(object.size(), fields.size());
    for (const auto& [key, value] : fields) {
      SCOPED_TRACE(key);
      ASSERT_TRUE(object.contains(key));
      if (is_milliseconds(key))
        EXPECT_GE(std::stod(object[key]), 0.0);
      else
        EXPECT_EQ(object[key], value);
    }
  }

  // The dump of tile 3: two activities and the program in the first phase, the program in the second.
  ASSERT_EQ(dump_objects.size(), 4u);
  EXPECT_EQ(dump_objects[0],
            (std::map<std::string, std::string>{{"type", "activity"}, {"phase", "5"}, {"logicalTile", "3"},
                                                {"transfer", "0"}, {"kind", "Receive"}, {"start", "56"},
                                                {"payloadEnd", "120"}, {"memoryEnd", "125"},
                                                {"address", "0x10000"}, {"words", "128"}}));
  EXPECT_EQ(dump_objects[1]["kind"], "Send");
  EXPECT_EQ(dump_objects[2]["type"], "program");
  EXPECT_EQ(dump_objects[3]["lines"], "[\"word+0 cycles=0..0 Return\"]");
  EXPECT_NE(text.out.find("phase=5 logicalTile=3 transfer=0 Receive cycles=56..120 memoryEnd=125 address=0x10000 "
                          "words=128\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tessel_tools
