// The guide's tables that restate the code — the run-time errors and the properties' defaults
// and accepted values in docs/reference.md — read from the page and compared with what the code
// does. A failure names the row that differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "control_fixture.h"
#include "guide_table.h"
#include "platform/error.h"
#include "platform/sim/sim_host.h"
#include "recording/drain_limits.h"

namespace wendrix {
namespace {

using test::ControlFixture;
using test::ErrorOf;
using test::Page;
using test::Row;
using test::Table;
using test::Trim;
using test::Unquote;

TEST(GuideTables, RunTimeErrorsHaveTheCodesDescriptions) {
  const std::string page = Page("reference.md");
  const auto rows = Table(page, "Number | Description");
  ASSERT_FALSE(rows.empty()) << "reference.md: no table \"Number | Description\"";
  std::set<int32_t> listed;
  for (const Row& row : rows) {
    const int32_t number = std::stoi(row.at(0));
    listed.insert(number);
    EXPECT_EQ(row.at(1), StandardDescription(number)) << "reference.md, error row " << number;
  }
  // Every number the code describes is in the table or named as an internal fault below it.
  const std::string prose = std::regex_replace(page, std::regex("\\s+"), " ");
  for (int32_t number = 1; number < 1000; ++number) {
    const std::string description = StandardDescription(number);
    if (description.empty() || listed.count(number)) continue;
    const std::string internal = std::to_string(number) + " (" + description + ")";
    EXPECT_NE(prose.find(internal), std::string::npos)
        << "reference.md: error " << number << " \"" << description
        << "\" is neither in the table nor named as an internal fault";
  }
}

// How a property of a new control reads and takes a value, as the guide writes values.
struct Access {
  std::function<std::string(Control&)> get;
  std::function<void(Control&, int32_t)> put;
};

std::string Text(Boolean b) { return b != False ? "True" : "False"; }
std::string Text(const Variant& v) {
  if (v.type() == VarType::String) return "\"" + v.string() + "\"";
  return std::to_string(v.ToLong());
}

std::map<std::string, Access> Properties() {
  const auto b = [](int32_t v) { return static_cast<Boolean>(v); };
  return {
      {"SamplesPerSecond",
       {[](Control& c) { return std::to_string(c.get_SamplesPerSecond()); },
        [](Control& c, int32_t v) { c.put_SamplesPerSecond(v); }}},
      {"NumChannels",
       {[](Control& c) { return std::to_string(c.get_NumChannels()); },
        [](Control& c, int32_t v) { c.put_NumChannels(v); }}},
      {"BitsPerSample",
       {[](Control& c) { return std::to_string(c.get_BitsPerSample()); },
        [](Control& c, int32_t v) { c.put_BitsPerSample(v); }}},
      {"BufferLength",
       {[](Control& c) { return std::to_string(c.get_BufferLength()); },
        [](Control& c, int32_t v) { c.put_BufferLength(v); }}},
      {"AutoCalculateBuff",
       {[](Control& c) { return Text(c.get_AutoCalculateBuff()); },
        [=](Control& c, int32_t v) { c.put_AutoCalculateBuff(b(v)); }}},
      {"BufferPosition",
       {[](Control& c) { return Text(c.get_BufferPosition()); },
        [](Control& c, int32_t v) { c.put_BufferPosition(Variant::Long(v)); }}},
      {"ShowVU",
       {[](Control& c) { return Text(c.get_ShowVU()); },
        [=](Control& c, int32_t v) { c.put_ShowVU(b(v)); }}},
      {"ShowVUScale",
       {[](Control& c) { return Text(c.get_ShowVUScale()); },
        [=](Control& c, int32_t v) { c.put_ShowVUScale(b(v)); }}},
      {"dBLeft",
       {[](Control& c) { return Text(c.get_dBLeft()); },
        [](Control& c, int32_t v) { c.put_dBLeft(Variant::Long(v)); }}},
      {"dBRight",
       {[](Control& c) { return Text(c.get_dBRight()); },
        [](Control& c, int32_t v) { c.put_dBRight(Variant::Long(v)); }}},
      {"BackColor",
       {[](Control& c) { return std::to_string(c.get_BackColor()); },
        [](Control& c, int32_t v) { c.put_BackColor(static_cast<uint32_t>(v)); }}},
      {"BackStyle",
       {[](Control& c) { return std::to_string(c.get_BackStyle()); },
        [](Control& c, int32_t v) { c.put_BackStyle(v); }}},
      {"BorderStyle",
       {[](Control& c) { return std::to_string(c.get_BorderStyle()); },
        [](Control& c, int32_t v) { c.put_BorderStyle(v); }}},
      {"Enabled",
       {[](Control& c) { return Text(c.get_Enabled()); },
        [=](Control& c, int32_t v) { c.put_Enabled(b(v)); }}},
  };
}

// A default as the guide writes it ("44100", "**False**", "&H808080 (mid grey)",
// "0 `TRANSPARENT`", "\"No Sound\"") in the form Access::get gives.
std::string DefaultOf(const std::string& cell) {
  const std::string value = Unquote(cell);
  if (value.rfind("&H", 0) == 0) return std::to_string(std::stoul(value.substr(2), nullptr, 16));
  if (value[0] == '"') return value.substr(0, value.find('"', 1) + 1);
  return value.substr(0, value.find(' '));
}

TEST(GuideTables, PropertiesHaveTheCodesDefaultsAndValues) {
  const auto rows = Table(Page("reference.md"), "Property | Type | Default");
  const auto properties = Properties();
  ASSERT_EQ(rows.size(), properties.size()) << "reference.md: the property table's rows";
  const std::regex list("((?:-?\\d+, )*-?\\d+); others (ignored|refused \\((\\d+)\\))");
  for (const Row& row : rows) {
    const std::string name = Unquote(row.at(0));
    SCOPED_TRACE("reference.md, property row " + name);
    ASSERT_TRUE(properties.count(name)) << "no such property";
    const Access& p = properties.at(name);
    ControlFixture f;
    f.PlaceNew();
    EXPECT_EQ(DefaultOf(row.at(2)), p.get(f.control)) << "default";

    const std::string rule = row.at(4);
    std::smatch m;
    if (std::regex_match(rule, m, list)) {
      int32_t highest = 0;
      std::istringstream values(m[1].str());
      for (std::string v; std::getline(values, v, ',');) {
        highest = std::max(highest, std::stoi(v));
        EXPECT_EQ(ErrorOf([&] { p.put(f.control, std::stoi(v)); }), 0) << "put " << v;
        EXPECT_EQ(p.get(f.control), Trim(v)) << "put " << v;
      }
      const std::string before = p.get(f.control);
      const int32_t refused = m[3].matched ? std::stoi(m[3].str()) : 0;
      EXPECT_EQ(ErrorOf([&] { p.put(f.control, highest + 1); }), refused) << "put " << highest + 1;
      EXPECT_EQ(p.get(f.control), before) << "put " << highest + 1;
    } else if (rule.rfind("any Boolean", 0) == 0) {
      for (const int32_t v : {0, -1}) {
        p.put(f.control, v);
        EXPECT_EQ(p.get(f.control), v ? "True" : "False");
      }
    } else if (rule == "any colour") {
      p.put(f.control, static_cast<int32_t>(0x8000000Fu));
      EXPECT_EQ(p.get(f.control), std::to_string(0x8000000Fu));
    } else if (rule == "always refused (382/387)") {
      EXPECT_EQ(ErrorOf([&] { p.put(f.control, 1); }), 382);
      f.host.user_mode = false;
      EXPECT_EQ(ErrorOf([&] { p.put(f.control, 1); }), 387);
    } else {
      EXPECT_EQ(rule, "see below") << "a put rule this check does not know";
    }
  }
}

// The texts the reference quotes for the message boxes (the start's boxes and the list of
// reports), as patterns: "…" and the example paths stand for anything.
std::vector<std::regex> BoxPatterns() {
  const std::string page = Page("reference.md");
  std::string quoted;
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"### Wendrix_Start", "### Wendrix_Stop"},
        {"### Errors shown in a message box", "### COM errors"}}) {
    const size_t begin = page.find(from);
    quoted += page.substr(begin, page.find(to, begin) - begin);
  }
  quoted = std::regex_replace(quoted, std::regex("\\s+"), " ");
  std::vector<std::string> spans;
  const std::regex code("`([^`]+)`");
  for (std::sregex_iterator m(quoted.begin(), quoted.end(), code), end; m != end; ++m)
    spans.push_back((*m)[1]);
  const std::string prose = std::regex_replace(quoted, code, "");
  const std::regex words("\"([^\"]+)\"");
  for (std::sregex_iterator m(prose.begin(), prose.end(), words), end; m != end; ++m)
    spans.push_back((*m)[1]);
  std::vector<std::regex> patterns;
  for (std::string span : spans) {
    span = std::regex_replace(span, std::regex("C:\\\\\\S*|\"[^\"]*\""), "…");
    span = std::regex_replace(span, std::regex(" ?… ?"), "…");
    const std::string literal = std::regex_replace(span, std::regex("…"), "");
    if (literal.size() < 8 || span.rfind(drain::kReportPrefix, 0) == 0) continue;
    std::string pattern;
    for (size_t i = 0; i < span.size();) {
      if (span.compare(i, 3, "…") == 0) {
        pattern += ".*";
        i += 3;
        continue;
      }
      const bool word =
          i + 1 < span.size() && std::isalnum(static_cast<unsigned char>(span[i + 1]));
      if (span[i] == 'N' && !word && (i == 0 || span[i - 1] == ' ')) {
        pattern += "\\d+";  // a count, as in "Bytes in this transfer: N"
        ++i;
        continue;
      }
      if (std::string("\\^$.|?*+()[]{}").find(span[i]) != std::string::npos) pattern += '\\';
      pattern += span[i++];
    }
    patterns.emplace_back(pattern);
  }
  return patterns;
}

// After all tests of the program: every report any of them made the control show, and every
// box of a start that could not create or write its file, is one the reference quotes (a
// transfer's error is its description with the byte count right after it). Other start boxes
// show the platform's own descriptions, which the simulated platform makes up.
class EveryBoxIsInTheReference : public testing::Environment {
 public:
  void TearDown() override {
    const auto patterns = BoxPatterns();
    ASSERT_GT(patterns.size(), 10u) << "reference.md: the box texts were not found";
    const std::regex transfer_error("[^ \\d]\\d+$");
    std::set<std::string> told;
    const std::string prefix = drain::kReportPrefix;
    for (const std::string& box : sim::SimHost::AllMessageBoxes()) {
      std::istringstream parts(std::regex_replace(box, std::regex("\n\n"), "\n"));
      for (std::string part; std::getline(parts, part);) {
        if (part.rfind(prefix, 0) == 0)
          part.erase(0, prefix.size());
        else if (part.rfind("Cannot ", 0) != 0)
          continue;
        const bool quoted = std::any_of(patterns.begin(), patterns.end(), [&](const std::regex& p) {
          return std::regex_search(part, p);
        });
        if (quoted || std::regex_search(part, transfer_error) || !told.insert(part).second)
          continue;
        ADD_FAILURE() << "reference.md, errors shown in a message box: no text there matches "
                      << part;
      }
    }
  }
};
testing::Environment* const every_box =
    testing::AddGlobalTestEnvironment(new EveryBoxIsInTheReference);

}  // namespace
}  // namespace wendrix
