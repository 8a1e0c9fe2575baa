#include "requests/program_names.hpp"

#include <fstream>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "core/station.hpp"
#include "receive/site_names.hpp"
#include "requests/controller_forms.hpp"
#include "requests/file_request.hpp"
#include "requests/request_paths.hpp"
#include "requests/site_directories.hpp"

namespace shoplink {

namespace {

// Keeps the text before the first `mark`.
void cut_at(std::string& name, std::string_view mark) {
  if (const std::size_t pos = instr(name, mark); pos > 0) name = left(name, pos - 1);
}

bool windows_or_dos(const PortSettings& port) {
  return contains(port.code_line, "WINDOWS") || contains(port.code_line, "DOS");
}

void trim_controls(std::string& text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) < 33) text.erase(0, 1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.pop_back();
}

// Nothing was named after a T or R: the machine is told so, and the call ends.
// A file request keeps its hand-over to transmission, so that the machine that asked is
// sent the reply and the transfer's end returns the station to scanning; leaving it in
// scanning mode with the settling timer armed would put it in sending mode while the scan
// runs, deaf to every port. A store request has nothing to send.
void answer_empty_name(Station& s, RequestKind kind) {
  answer_not_found(s, "(FILE NOT FOUND)");
  if (kind == RequestKind::File) return;
  s.mode = Mode::Scanning;
  s.Timer6.set_enabled(true);
}

// The cutting rules, in their fixed order.
std::string cut_program_name(const Station& s, const CommandParse& p, std::string name) {
  const PortSettings& port = s.cur();
  if (site::dun_varley(s) && starts_with(name, "N")) name.erase(0, 1);
  if (p.long_names) {
    cut_at(name, ")");
    return name;
  }
  if (p.plain32) {
    name = left(name, 32);
    cut_at(name, ")");
    return name;
  }
  cut_at(name, "/");
  if (four_digit_names(s)) {
    if (haas_port(port)) {
      haas_program_number(name);
    } else {
      name = left(name, 4);
    }
  }
  cut_at(name, "(");
  cut_at(name, " ");
  cut_at(name, "\"");
  if (starts_with(name, "+")) name.erase(0, 1);
  if (const std::size_t dot = instr(name, "."); dot > 0) name = left(name, dot + 3);
  if (ge_port(port)) ge_padded_name(name);
  if (four_digit_names(s)) {
    cut_at(name, ".");
    while (name.size() < 4) name.insert(0, 1, '0');
  }
  cut_at(name, ")");
  return name;
}

// One record of the CONTENTS index: "0007","BRACKET", 2201
struct ContentsRecord {
  std::string number;
  std::string name;
};

std::vector<std::string> quoted_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (i <= line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    std::string field;
    if (i < line.size() && line[i] == '"') {
      const std::size_t close = line.find('"', i + 1);
      field = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      i = close == std::string::npos ? line.size() : close + 1;
      const std::size_t comma = line.find(',', i);
      i = comma == std::string::npos ? line.size() + 1 : comma + 1;
    } else {
      const std::size_t comma = line.find(',', i);
      field = line.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
      field = trim_trailing_blanks(field);
      i = comma == std::string::npos ? line.size() + 1 : comma + 1;
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

bool read_record(const std::string& line, ContentsRecord& rec) {
  const auto fields = quoted_fields(line);
  if (fields.size() < 2) return false;
  rec.number = fields[0];
  rec.name = fields[1];
  return true;
}

}  // namespace

void garnet_program_name(std::string& name) {
  if (starts_with(name, "(")) name.erase(0, 1);
  while (!name.empty() && (name.back() == ')' || name.back() == ' ')) name.pop_back();
}

bool four_digit_names(const Station& s) {
  const DefaultFileType t = s.config.default_file_type;
  return (t == DefaultFileType::PCNC || t == DefaultFileType::ASCII) && !windows_or_dos(s.cur());
}

bool numbered_form(const Station& s) {
  return (s.filetype == 3 || s.config.default_file_type == DefaultFileType::ASCII) &&
         !windows_or_dos(s.cur());
}

NameResult parse_program_name(Station& s, CommandParse& p, RequestKind kind, std::size_t start) {
  const PortSettings& port = s.cur();
  std::string rest = mid(p.command, start);
  p.program_name.clear();
  p.explicit_dir = false;
  if (contains(rest, "(DRIP)")) s.Drip = 1;
  trim_controls(rest);
  if (kind != RequestKind::Directory && rest.empty()) {
    answer_empty_name(s, kind);
    return NameResult::Ended;
  }

  std::size_t scan = 1;
  bool drive_named = false;
  if (rest.size() >= 2 && rest[1] == port.drive_char()) {
    s.HSTR = std::string(1, rest[0]) + ":";
    p.explicit_dir = true;
    drive_named = true;
    scan = 3;
  } else {
    const int i = kind == RequestKind::File ? p.dir_index : p.receive_index;
    const auto& dirs = kind == RequestKind::File ? p.send_dirs : p.receive_dirs;
    s.HSTR = dirs[static_cast<std::size_t>(i)];
    if (!s.HSTR.empty() && s.HSTR.back() == '\\') s.HSTR.pop_back();
  }

  std::size_t last_sep = 0;
  for (std::size_t i = scan; i <= rest.size(); ++i) {
    if (rest[i - 1] == port.path_char()) {
      rest[i - 1] = '\\';
      last_sep = i;
    }
  }
  std::size_t name_start = scan;
  if (last_sep > 0) {
    p.explicit_dir = true;
    name_start = last_sep + 1;
    if (kind == RequestKind::Directory) {
      s.HSTR += mid(rest, scan);
    } else if (drive_named && last_sep == 3) {
      s.HSTR += "\\";  // C:\O55 is in the root of C:
    } else {
      s.HSTR += mid(rest, scan, last_sep - scan);
    }
  }
  if (p.explicit_dir) p.command = left(p.command, start - 1) + mid(rest, name_start);

  p.program_name = cut_program_name(s, p, mid(rest, name_start));
  // Site rules that extend HSTR by the program number come last.
  p.xref_dir.clear();
  apply_site_directories(s, p, kind);
  return NameResult::Named;
}

std::string program_file_name(const Station& s, const std::string& name) {
  if (numbered_form(s)) return s.HSTR + "\\PROG" + name;
  std::string extension = s.cur().extension;
  std::string file;
  if (site::hadley_tool(s)) {
    file = s.HSTR + "\\O" + name;
    extension = ".NC";
  } else {
    file = s.HSTR + "\\" + name;
  }
  if (!extension.empty() && !contains(file, extension)) file += extension;
  return file;
}

NameResult resolve_file_name(Station& s, CommandParse& p, RequestKind kind, std::size_t start) {
  if (parse_program_name(s, p, kind, start) == NameResult::Ended) return NameResult::Ended;
  s.Filename = program_file_name(s, p.program_name);
  if (numbered_form(s)) s.pcnc_file_no = p.program_name;
  return NameResult::Named;
}

LookupResult lookup_contents_name(Station& s, CommandParse& p, RequestKind kind,
                                  std::size_t start) {
  if (parse_program_name(s, p, kind, start) == NameResult::Ended) return LookupResult::Ended;
  const bool garnet = site::garnet_manufacturing(s);
  if (garnet) garnet_program_name(p.program_name);
  const std::string index = s.HSTR + "\\CONTENTS";
  if (!request_path_allowed(s, p, index)) return LookupResult::NoMatch;
  std::ifstream in(s.paths.existing(index), std::ios::binary);
  if (!in) return LookupResult::NoMatch;
  // An empty name would begin every record's name.
  const bool by_beginning = kind == RequestKind::File && !contains(s.cur().code_line, "/F") &&
                            !garnet && !p.program_name.empty();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ContentsRecord rec;
    if (!read_record(line, rec)) continue;
    if (rec.name == p.program_name || (by_beginning && starts_with(rec.name, p.program_name))) {
      s.Filename = s.HSTR + "\\PROG" + rec.number;
      s.pcnc_file_no = rec.number;
      s.pcnc_file_name = p.program_name;
      return LookupResult::Matched;
    }
  }
  return LookupResult::NoMatch;
}

}  // namespace shoplink
