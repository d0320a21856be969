// Reads the tables of the user guide's Markdown pages, for the checks that compare them with
// the code.
#pragma once

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace wendrix::test {

using Row = std::vector<std::string>;

inline std::string Page(const char* name) {
  std::ifstream in(std::string(WENDRIX_SOURCE_DIR) + "/docs/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string Trim(std::string s) {
  const auto first = s.find_first_not_of(" \t\r");
  const auto last = s.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

// The body rows of the first Markdown table on `page` whose header row starts with `header`.
inline std::vector<Row> Table(const std::string& page, const std::string& header) {
  std::istringstream lines(page);
  std::string line;
  std::vector<Row> rows;
  bool inside = false;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (!inside) {
      inside = line.rfind("| " + header, 0) == 0;
      if (inside) std::getline(lines, line);  // the |---| line
      continue;
    }
    if (line.empty() || line[0] != '|') break;
    Row row;
    std::istringstream cells(line.substr(1));
    std::string cell;
    while (std::getline(cells, cell, '|')) row.push_back(Trim(cell));
    rows.push_back(row);
  }
  return rows;
}

// A cell without its Markdown marks: **bold**, `code`, [links](#anchor).
inline std::string Unquote(std::string s) {
  s = std::regex_replace(s, std::regex("\\*\\*|`|\\[|\\]\\(#[^)]*\\)"), "");
  return Trim(s);
}

}  // namespace wendrix::test
