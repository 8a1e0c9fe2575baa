#include "requests/file_retries.hpp"

#include "base/host_paths.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "receive/site_names.hpp"

namespace shoplink {

namespace {

// Position after the last "\" (0-based start of the file's own name).
std::size_t name_start(const std::string& filename) {
  const std::size_t slash = filename.rfind('\\');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

bool dun_varley_saved_directory(Station& s, CommandParse& p) {
  if (!site::dun_varley(s) || p.xref_retry_done || p.xref_dir.empty()) return false;
  p.xref_retry_done = true;
  // The same file (form and extension) one directory up.
  const std::string rest = starts_with(s.Filename, s.HSTR + "\\") ? s.Filename.substr(s.HSTR.size())
                                                                  : "\\" + p.program_name;
  s.Filename = p.xref_dir + rest;
  return true;
}

bool kel_bran_pf_space(Station& s, CommandParse&) {
  if (!site::kel_bran(s)) return false;
  // Only the file's own name: a "PF" in a directory name is not the program's.
  const std::size_t from = name_start(s.Filename);
  const std::size_t pf = s.Filename.find("PF", from);
  if (pf == std::string::npos || s.Filename.compare(pf + 2, 1, " ") == 0) return false;
  s.Filename = s.Filename.substr(0, pf + 2) + " " + s.Filename.substr(pf + 2);
  return true;
}

bool corrigan_mo_prefix(Station& s, CommandParse&) {
  if (!site::corrigan(s)) return false;
  const std::size_t from = name_start(s.Filename);
  if (s.Filename.compare(from, 2, "MO") == 0 || s.Filename.compare(from, 2, "M0") == 0) {
    return false;
  }
  s.Filename = s.Filename.substr(0, from) + "MO" + s.Filename.substr(from);
  log_event(s, 34);
  return true;
}

bool corrigan_m0_prefix(Station& s, CommandParse&) {
  if (!site::corrigan(s)) return false;
  const std::size_t from = name_start(s.Filename);
  if (s.Filename.compare(from, 2, "MO") != 0) return false;
  s.Filename = s.Filename.substr(0, from) + "M0" + s.Filename.substr(from + 2);
  log_event(s, 36);
  return true;
}

bool sable_carbon_temp(Station& s, CommandParse&) {
  if (!site::sable_carbon(s)) return false;
  // Only a station path with a drive has a place "after the drive".
  if (HostPaths::drive_of(s.Filename) == 0 || mid(s.Filename, 3, 5) == "\\TEMP") return false;
  s.Filename = left(s.Filename, 2) + "\\TEMP" + mid(s.Filename, 3);
  return true;
}

void kel_bran_strip_spaces(CommandParse& p) {
  std::string rest;
  for (char c : mid(p.command, p.t_pos + 1))
    if (c != ' ') rest += c;
  p.command = left(p.command, p.t_pos) + rest;
}

}  // namespace shoplink
