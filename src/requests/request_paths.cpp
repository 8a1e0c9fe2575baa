#include "requests/request_paths.hpp"

#include <filesystem>

#include "core/station.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

bool under_configured_dir(const Station& s, std::string_view text, const std::string& dir) {
  if (dir.empty()) return false;
  // A drive in the name must be the configured directory's own drive: an unmapped drive
  // would otherwise read as a folder of the station directory.
  if (HostPaths::drive_of(text) != HostPaths::drive_of(dir)) return false;
  return HostPaths::inside(s.paths.host_path(text), s.paths.host_path(dir));
}

}  // namespace

bool request_path_allowed(const Station& s, const CommandParse& p, std::string_view text) {
  if (HostPaths::climbs(text)) return false;
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
