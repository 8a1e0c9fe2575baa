#include "requests/request_paths.hpp"

#include <filesystem>

#include "base/safe_files.hpp"
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

template <typename Each>
bool any_configured_dir(const CommandParse& p, Each each) {
  for (int i = 0; i <= p.send_last && i < kMaxDirEntries; ++i)
    if (each(p.send_dirs[static_cast<std::size_t>(i)])) return true;
  for (int i = 0; i <= p.receive_last && i < kMaxDirEntries; ++i)
    if (each(p.receive_dirs[static_cast<std::size_t>(i)])) return true;
  return false;
}

// The text's own check passes by its words; a link on the way (a folder or the file itself,
// planted in a shared program folder) may still lead elsewhere. Where the path really is
// must be inside a root as that root really is.
bool really_inside(const Station& s, const CommandParse& p, std::string_view text) {
  const fs::path real = real_path(s.paths.existing(text));
  auto within = [&](const fs::path& root) { return HostPaths::inside(real, real_path(root)); };
  for (const fs::path& root : s.paths.roots())
    if (within(root)) return true;
  return any_configured_dir(
      p, [&](const std::string& dir) { return !dir.empty() && within(s.paths.host_path(dir)); });
}

}  // namespace

bool request_path_allowed(const Station& s, const CommandParse& p, std::string_view text) {
  if (HostPaths::climbs(text)) return false;
  // The port's directories are the operator's, taken as written, even where they lie
  // outside the station directory and the mapped drives.
  const bool by_words =
      s.paths.confined(text) || any_configured_dir(p, [&](const std::string& dir) {
        return under_configured_dir(s, text, dir);
      });
  return by_words && really_inside(s, p, text);
}

}  // namespace shoplink
