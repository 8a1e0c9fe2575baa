#include "base/host_paths.hpp"

#include <fstream>
#include <system_error>

#include "base/text.hpp"

namespace fs = std::filesystem;

namespace shoplink {

HostPaths::HostPaths(fs::path station_dir) {
  std::error_code ec;
  auto abs = fs::absolute(station_dir, ec);
  station_dir_ = (ec ? station_dir : abs).lexically_normal();
  station_dir_text_ = station_dir_.string();
  while (station_dir_text_.size() > 1 && station_dir_text_.back() == '/')
    station_dir_text_.pop_back();
  station_dir_ = station_dir_text_;
}

std::string HostPaths::key(std::string_view name) {
  std::string k = ucase(name);
  // A drive may be written "C" or "C:".
  if (k.size() == 1 && k[0] >= 'A' && k[0] <= 'Z') k += ':';
  return k;
}

void HostPaths::map(std::string_view name, std::string value) {
  map_[key(name)] = std::move(value);
}

bool HostPaths::map_assignment(std::string_view a) {
  auto eq = a.find('=');
  if (eq == std::string_view::npos || eq == 0 || eq + 1 >= a.size()) return false;
  std::string name = trim_trailing_blanks(a.substr(0, eq));
  std::string value(a.substr(eq + 1));
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
  value = trim_trailing_blanks(value);
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.erase(0, 1);
  if (name.empty() || value.empty()) return false;
  map(name, value);
  return true;
}

std::vector<std::string> HostPaths::load_hostmap_file() {
  std::vector<std::string> bad;
  std::ifstream in(existing("HOSTMAP"), std::ios::binary);
  if (!in) return bad;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (auto q = line.find('\''); q != std::string::npos) line.erase(q);
    line = trim_trailing_blanks(line);
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (!map_assignment(line)) bad.push_back(line);
  }
  return bad;
}

std::optional<std::string> HostPaths::lookup(std::string_view name) const {
  auto it = map_.find(key(name));
  if (it == map_.end()) return std::nullopt;
  return it->second;
}

char HostPaths::drive_of(std::string_view text) {
  if (text.size() >= 2 && text[1] == ':') {
    char c = text[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return c;
  }
  return 0;
}

namespace {
// The host ends a name at a NUL, so "O12<NUL>34" would open, replace or remove O12: a NUL
// reads as the log shows it instead, a name that exists only if made so. Station text also
// has its backslashes turned into the host's separator; a host map value is a host path.
std::string host_form(std::string_view text, bool station_text = true) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\' && station_text) {
      out += '/';
    } else if (c == '\0') {
      out += "<00>";
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace

fs::path HostPaths::host_path(std::string_view text) const {
  std::string t(text);
  fs::path base = station_dir_;
  if (char d = drive_of(t)) {
    if (auto target = lookup(std::string(1, d) + ":")) {
      base = host_form(*target, false);
      if (base.is_relative()) base = station_dir_ / base;
      t.erase(0, 2);
    }
  }
  t = host_form(t);
  fs::path p(t);
  if (p.is_absolute() && drive_of(text) == 0) return p.lexically_normal();
  // Relative to the base (drive root or station directory); "/x" under a drive is its root.
  while (!t.empty() && t.front() == '/') t.erase(0, 1);
  return (base / t).lexically_normal();
}

std::string HostPaths::display(std::string_view text) const {
  std::string rest(text);
  std::string root;
  if (char d = drive_of(text)) {
    if (auto target = lookup(std::string(1, d) + ":")) {
      root = *target;
      rest.erase(0, 2);
    }
  }
  for (auto& c : rest)
    if (c == '\\') c = '/';
  if (root.empty()) return rest;
  // One separator between the host folder and the rest, whatever either side brings.
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  if (rest.empty()) return root;
  return root == "/" ? root + rest : root + "/" + rest;
}

fs::path HostPaths::existing(std::string_view text) const {
  fs::path p = host_path(text);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(p, ec))) return p;
  fs::path cur = p.root_path();
  bool lost = false;
  for (const auto& comp : p.relative_path()) {
    fs::path cand = cur / comp;
    if (lost || fs::exists(fs::symlink_status(cand, ec))) {
      cur = cand;
      continue;
    }
    const std::string want = lcase(comp.string());
    fs::path found;
    int matches = 0;
    for (auto it = fs::directory_iterator(cur, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      if (lcase(it->path().filename().string()) == want) {
        found = it->path();
        ++matches;
      }
    }
    if (matches == 1) {
      cur = found;
    } else {
      cur = cand;
      lost = true;
    }
  }
  return cur;
}

namespace {
// "/srv/nc/" → "/srv/nc": a trailing separator would count as one more component.
fs::path without_trailing_separator(fs::path p) {
  while (p.has_relative_path() && !p.has_filename()) p = p.parent_path();
  return p;
}
}  // namespace

bool HostPaths::inside(const fs::path& p, const fs::path& root) {
  const fs::path rel =
      without_trailing_separator(p).lexically_relative(without_trailing_separator(root));
  return !rel.empty() && *rel.begin() != "..";
}

bool HostPaths::climbs(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return true;
  // "C:..\x" climbs as well as "C:\..\x" once the drive is taken away.
  const std::string_view rest = drive_of(text) ? text.substr(2) : text;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = rest.size();
    if (rest.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

bool HostPaths::confined(std::string_view text) const {
  if (climbs(text)) return false;
  const char drive = drive_of(text);
  if (drive && !lookup(std::string(1, drive) + ":")) return false;
  // What is left to check is an absolute host path: it must stay under the station
  // directory or a mapped drive.
  const fs::path p = host_path(text);
  if (inside(p, station_dir_)) return true;
  for (const auto& [name, value] : map_)
    if (name.size() == 2 && name[1] == ':' && inside(p, host_path(name))) return true;
  return false;
}

std::vector<fs::path> HostPaths::roots() const {
  std::vector<fs::path> r{station_dir_};
  for (const auto& [name, value] : map_)
    if (name.size() == 2 && name[1] == ':') r.push_back(host_path(name));
  return r;
}

bool HostPaths::pacing_allowed() const {
  const auto v = lookup("PACING");
  if (!v) return true;
  const std::string u = ucase(*v);
  return !(u == "OFF" || u == "NO" || u == "0");
}

std::string HostPaths::com_device(std::string_view digit) const {
  std::string name = "COM" + std::string(digit);
  if (auto v = lookup(name)) return *v;
  // COM ports count from 1: "COM0" or a non-digit names no device, so the open fails
  // instead of silently taking the first port.
  const double n = val(digit);
  if (n < 1 || n > 256 || n != static_cast<int>(n)) return {};
  return "/dev/ttyS" + std::to_string(static_cast<int>(n) - 1);
}

}  // namespace shoplink
