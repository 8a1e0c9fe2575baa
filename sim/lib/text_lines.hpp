#pragma once
// A program's lines as a check compares them: without line ends and without empty lines, so
// CR LF, LF and blank leader lines all compare alike.
#include <string>
#include <vector>

namespace shoplink::sim {

inline std::vector<std::string> significant_lines(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

}  // namespace shoplink::sim
