#include "requests/directory_request.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/file_table.hpp"
#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/contents_index.hpp"
#include "receive/site_names.hpp"
#include "requests/command_interpreter.hpp"
#include "requests/controller_forms.hpp"
#include "requests/file_request.hpp"
#include "requests/program_names.hpp"
#include "requests/request_paths.hpp"

namespace fs = std::filesystem;

namespace shoplink {

namespace {

// The listing file being written, with the FAGOR line numbers.
class Listing {
 public:
  Listing(Station& s, std::FILE* f) : s_(s), f_(f), fagor_(fagor_port(s.cur())) {}
  void subdir_line() {
    if (!s_.cur().subdir.empty()) put(s_.cur().subdir);
  }
  // The first numbered line.
  void header(const std::string& text) { put(fagor_ ? fagor_numbered(1, text) : text); }
  void entry(const std::string& text) { put(fagor_ ? fagor_numbered(next_++, text) : text); }
  bool ok() const { return ok_; }

 private:
  void put(const std::string& line) {
    const std::string out = line + "\r\n";
    ok_ = std::fwrite(out.data(), 1, out.size(), f_) == out.size() && ok_;
  }
  Station& s_;
  std::FILE* f_;
  bool fagor_;
  int next_ = 2;
  bool ok_ = true;
};

std::vector<std::string> collect_names(const fs::path& dir, const std::string& pattern) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::error_code fec;
    if (!it->is_regular_file(fec)) continue;
    const std::string name = it->path().filename().string();
    if (!listing_match(name, pattern)) continue;
    names.push_back(name);
    if (names.size() >= kMaxListedNames) break;
  }
  return names;
}

void list_directory(Station& s, Listing& out) {
  out.subdir_line();
  out.header("(SHOPLINK DIRECTORY - " + s.HSTR + ")");
  std::string pattern = s.cur().extension.empty() ? ".*" : s.cur().extension;
  if (site::hadley_tool(s)) pattern = ".NC";
  const fs::path dir = s.paths.existing(s.HSTR);
  for (const auto& name : listing_order(collect_names(dir, pattern))) out.entry("(" + name + ")");
}

void list_index(Station& s, Listing& out, const CommandParse& p) {
  const std::string index = s.HSTR + "\\" + kContentsFile;
  std::FILE* in = request_path_allowed(s, p, index)
                      ? std::fopen(s.paths.existing(index).c_str(), "rb")
                      : nullptr;
  if (!in) {
    out.subdir_line();
    out.header("(NO CONTENTS FILE FOUND)");
    log_event(s, 17);
    return;
  }
  log_event(s, 13);
  out.subdir_line();
  const double n = val(p.program_name);
  if (n < 2) out.header("(SHOPLINK DIRECTORY - " + s.HSTR + ")");
  std::string line;
  while (FileTable::read_line(in, line)) {
    if (line.empty()) continue;
    line[0] = '(';
    for (auto& c : line) {
      if (c == '"' || c == ',') c = ' ';
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (n <= 1) {
      out.entry(line + ")");
    } else {
      out.entry(std::string(1, s.cur().P()) + " " + mid(line, 2, 4));
    }
  }
  std::fclose(in);
}

}  // namespace

bool listing_match(std::string_view name, std::string_view pattern) {
  if (pattern == ".*") return true;
  if (name.size() < pattern.size()) return false;
  return ucase(name.substr(name.size() - pattern.size())) == ucase(pattern);
}

std::vector<std::string> listing_order(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  out.reserve(names.size());
  for (int c = 32; c <= 90; ++c) {
    for (const auto& name : names) {
      if (name.empty()) continue;
      char first = name[0];
      if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 'a' + 'A');
      if (static_cast<unsigned char>(first) == c) out.push_back(name);
    }
  }
  return out;
}

void directory_request(Station& s, CommandParse& p) {
  hand_over_to_transmission(s);
  resolve_file_name(s, p, RequestKind::Directory, p.p_pos + 1);
  if (!p.explicit_dir) {
    const double n = val(p.program_name);
    s.HSTR =
        (n == 0 || n == 2) ? p.send_dirs[static_cast<std::size_t>(p.dir_index)] : p.receive_dirs[0];
  }
  s.window.set_status(s.paths.display(s.HSTR));
  const std::string listing = s.HSTR + "\\" + kListingFile;
  // A place outside the station's directories is not listed. The listing file itself is
  // the station's: one planted as a link is replaced, never written through.
  if (!request_path_allowed(s, p, s.HSTR)) {
    answer_not_found(s, notfound_line(listing));
    return;
  }
  const fs::path path = real_path(s.paths.existing(s.HSTR)) / s.paths.existing(listing).filename();
  int error = 0;
  std::FILE* f = open_for_write(path, WriteMode::Truncate, error);
  if (!f) {
    answer_not_found(s, notfound_line(listing));
    return;
  }
  Listing out(s, f);
  if (s.filetype != 3) {
    list_directory(s, out);
  } else {
    list_index(s, out, p);
  }
  // A listing cut short by a full disk would be sent as if it were the whole directory.
  const bool closed = std::fclose(f) == 0;
  if (!out.ok() || !closed) {
    std::error_code ec;
    fs::remove(path, ec);
    s.window.set_status(" " + path.string() + " could not be written ");
    answer_not_found(s, notfound_line(listing));
    return;
  }
  s.Filename = listing;
  report_transfer_began(s, TransferKind::Listing, s.Filename);
}

}  // namespace shoplink
