#include "requests/site_directories.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/host_paths.hpp"
#include "base/text.hpp"
#include "config/leader_trailer.hpp"
#include "core/station.hpp"
#include "receive/site_names.hpp"
#include "requests/request_paths.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// Program numbers far beyond any folder stay in range of the arithmetic.
constexpr double kLargestNumber = 1e9;

long long number_of(double n) {
  return static_cast<long long>(std::clamp(n, -kLargestNumber, kLargestNumber));
}

std::string four_digits(long long n) {
  const std::string t = std::to_string(n < 0 ? -n : n);
  return t.size() < 4 ? std::string(4 - t.size(), '0') + t : t;
}

// The directory as the cross references name it: no drive, no "\" at either end.
std::string xref_key(std::string dir) {
  if (HostPaths::drive_of(dir) != 0) dir.erase(0, 2);
  while (!dir.empty() && dir.front() == '\\') dir.erase(0, 1);
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

// Only a path that begins with a drive has one to replace; a host path keeps its own.
std::string with_xref_drive(const Station& s, const std::string& key, const std::string& dir) {
  if (HostPaths::drive_of(dir) == 0) return dir;
  return apply_xref(s, key, dir);
}

bool ends_with_dir(const std::string& dir, std::string_view end) {
  const std::string u = ucase(dir);
  return u.size() >= end.size() && u.compare(u.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string holloway_folder(double n) {
  const long long v = number_of(n);
  if (v == 0) return "0500";
  const long long up = (v > 0 ? (v + 499) / 500 : v / 500) * 500;
  return four_digits(up);
}

std::string fenwick_folder(double n) {
  const long long v = number_of(n);
  if (v > 9000) return "10000";
  if (v <= 1000) return "1000";
  return std::to_string((v + 999) / 1000 * 1000);
}

std::string kzv_folder(const std::string& dir, double n) {
  const long long v = number_of(n);
  const std::string hundreds = four_digits(std::max(0LL, v) / 100 * 100);
  if (ends_with_dir(dir, "VA50")) return v < 5500 ? "0000" : hundreds;
  if (ends_with_dir(dir, "HC630")) return v < 4000 ? "0000" : hundreds;
  if (ends_with_dir(dir, "4NE") || ends_with_dir(dir, "5NE")) return hundreds;
  return {};
}

void dun_varley_subdirectory(Station& s, CommandParse& p) {
  // A name without a first character has no letter folder.
  if (p.program_name.empty()) return;
  const std::string saved = s.HSTR;
  s.HSTR = saved + "\\" + p.program_name.substr(0, 1);
  const std::string key = xref_key(saved);
  s.HSTR = with_xref_drive(s, key, s.HSTR);
  p.xref_dir = with_xref_drive(s, key, saved);
}

void westbrook_program_name(Station& s, CommandParse& p, RequestKind kind) {
  if (p.program_name.empty() || !request_path_allowed(s, p, s.HSTR)) return;
  const std::string wanted = ucase("O" + p.program_name);
  // An upload replaces only the program of exactly that name, never one whose name merely
  // holds it (R12 must not overwrite O1234.NC); without one it is stored under its own name.
  auto matches = [&](const std::string& name) {
    const std::string upper = ucase(name);
    if (kind != RequestKind::Store) return contains(upper, wanted);
    return upper == wanted || upper == wanted + ucase(s.cur().extension);
  };
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(s.paths.existing(s.HSTR), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code fec;
    if (it->is_regular_file(fec)) names.push_back(it->path().filename().string());
  }
  // The file system's own order differs between hosts; by name, the choice is repeatable.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (matches(name)) {
      p.program_name = name;
      return;
    }
  }
}

void holloway_engineering_subdirectory(Station& s, CommandParse& p) {
  s.HSTR += "\\" + holloway_folder(val(p.program_name));
}

void fenwick_subdirectory(Station& s, CommandParse& p) {
  s.HSTR += "\\" + fenwick_folder(val(p.program_name));
}

void kzv_company_subdirectory(Station& s, CommandParse& p) {
  const std::string folder = kzv_folder(s.HSTR, val(p.program_name));
  if (!folder.empty()) s.HSTR += "\\" + folder;
}

void apply_site_directories(Station& s, CommandParse& p, RequestKind kind) {
  // A listing's "name" is the number that chooses it, not a program.
  const bool program = kind != RequestKind::Directory;
  if (program && site::dun_varley(s)) dun_varley_subdirectory(s, p);
  if (program && site::westbrook(s)) westbrook_program_name(s, p, kind);
  if (kind != RequestKind::Store && !p.plain32 && site::holloway_engineering(s)) {
    holloway_engineering_subdirectory(s, p);
  }
  if (!p.explicit_dir && site::fenwick_marlow(s)) fenwick_subdirectory(s, p);
  if (site::kzv_ashbourne(s)) kzv_company_subdirectory(s, p);
}

}  // namespace shoplink
