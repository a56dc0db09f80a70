#include "platform/msi_file_table.h"

#include <algorithm>
#include <cstddef>

namespace launcher {
namespace {

// The fields of one line, empty ones included.
std::vector<std::string> SplitAtTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

bool ParseMsiFileTable(const std::vector<std::string>& lines, std::vector<std::string>& names) {
  names.clear();
  if (lines.size() < 3) return false;
  const std::vector<std::string> columns = SplitAtTabs(lines[0]);
  const auto found = std::find(columns.begin(), columns.end(), "FileName");
  if (found == columns.end()) return false;
  const size_t column = static_cast<size_t>(found - columns.begin());
  for (size_t i = 3; i < lines.size(); ++i) {
    const std::vector<std::string> fields = SplitAtTabs(lines[i]);
    if (fields.size() <= column) return false;
    const std::string& name = fields[column];
    names.push_back(name.substr(name.find('|') + 1));
  }
  return true;
}

}  // namespace launcher
