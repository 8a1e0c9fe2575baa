#include "config/leader_trailer.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/text.hpp"
#include "core/station.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// The whole file as bytes (NUL and 0x80-0xFF included); what could be read when it fails.
std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string three_digits(int k) {
  std::string n = std::to_string(k);
  return std::string(n.size() < 3 ? 3 - n.size() : 0, '0') + n;
}

}  // namespace

void read_leaders_trailers(Station& s) {
  for (int k = 1; k <= NumPorts; ++k) {
    PortSettings& p = s.ports[static_cast<std::size_t>(k)];
    p.leader = read_bytes(s.paths.existing(s.station_file("LEADER." + three_digits(k))));
    p.trailer = read_bytes(s.paths.existing(s.station_file("TRAILER." + three_digits(k))));
  }
}

void read_xref(Station& s) {
  s.xref.clear();
  std::error_code ec;
  fs::path file = s.paths.existing(s.station_file("XREF"));
  if (!fs::is_regular_file(file, ec)) file = s.paths.existing(s.station_file("PROGXREF"));
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return;
  std::string line;
  // Read errors end the table silently with the entries read so far.
  while (FileTable::read_line(f, line)) {
    std::string t;
    for (char c : line)
      if (c != '"' && c != ' ') t.push_back(c);
    const auto eq = t.find('=');
    if (eq == std::string::npos) continue;
    XrefEntry e{t.substr(0, eq), t.substr(eq + 1)};
    if (e.xref_name.empty() || e.xref_drive.empty()) continue;
    if (e.xref_drive.back() != ':') e.xref_drive += ':';
    s.xref.push_back(std::move(e));
  }
  std::fclose(f);
}

std::optional<std::string> xref_drive(const Station& s, std::string_view name) {
  for (auto it = s.xref.rbegin(); it != s.xref.rend(); ++it)
    if (it->xref_name == name) return it->xref_drive;
  return std::nullopt;
}

std::string apply_xref(const Station& s, std::string_view name, std::string path) {
  auto drive = xref_drive(s, name);
  if (!drive) return path;
  const std::size_t n = std::min({std::size_t{2}, drive->size(), path.size()});
  path.replace(0, n, *drive, 0, n);
  return path;
}

}  // namespace shoplink
