#include "requests/request_paths.hpp"

#include <filesystem>

#include "core/station.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

bool climbs(std::string_view text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view seg = text.substr(start, end - start);
    // "C:..\x" climbs once its drive is taken away.
    if (seg == ".." || (seg.size() == 4 && seg.substr(1) == ":..")) return true;
    start = end + 1;
  }
  return false;
}

fs::path without_trailing_separator(fs::path p) {
  while (p.has_relative_path() && !p.has_filename()) p = p.parent_path();
  return p;
}

bool inside(const fs::path& p, const fs::path& root) {
  const fs::path rel =
      without_trailing_separator(p).lexically_relative(without_trailing_separator(root));
  return !rel.empty() && *rel.begin() != "..";
}

bool under_configured_dir(const Station& s, std::string_view text, const std::string& dir) {
  if (dir.empty()) return false;
  // A drive in the name must be the configured directory's own drive: an unmapped drive
  // would otherwise read as a folder of the station directory.
  if (HostPaths::drive_of(text) != HostPaths::drive_of(dir)) return false;
  return inside(s.paths.host_path(text), s.paths.host_path(dir));
}

}  // namespace

bool request_path_allowed(const Station& s, const CommandParse& p, std::string_view text) {
  if (text.find('\0') != std::string_view::npos || climbs(text)) return false;
  if (s.paths.confined(text)) return true;
  // The port's directories are the operator's, taken as written, even where they lie
  // outside the station directory and the mapped drives.
  for (int i = 0; i <= p.send_last && i < kMaxDirEntries; ++i)
    if (under_configured_dir(s, text, p.send_dirs[static_cast<std::size_t>(i)])) return true;
  for (int i = 0; i <= p.receive_last && i < kMaxDirEntries; ++i)
    if (under_configured_dir(s, text, p.receive_dirs[static_cast<std::size_t>(i)])) return true;
  return false;
}

}  // namespace shoplink
