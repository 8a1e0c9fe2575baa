#include "requests/file_request.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/site_names.hpp"
#include "receive/upload_file.hpp"
#include "requests/controller_forms.hpp"
#include "requests/file_retries.hpp"
#include "requests/program_names.hpp"
#include "requests/request_paths.hpp"
#include "requests/vision_request.hpp"
#include "transmit/transfer_controls.hpp"

namespace fs = std::filesystem;

namespace shoplink {

std::string notfound_line(std::string_view filename) {
  const std::size_t slash = filename.rfind('\\');
  const std::string_view name =
      slash == std::string_view::npos ? filename : filename.substr(slash + 1);
  return "(FILE " + ucase(name) + " NOT FOUND)";
}

void answer_not_found(Station& s, const std::string& line) {
  const std::string reply = s.station_file(kNotFoundReply);
  const fs::path path = s.paths.existing(reply);
  std::string text;
  const std::string& subdir = s.cur().subdir;
  if (!subdir.empty()) text += subdir + "\r\n";
  text += line + "\r\n";
  int error = 0;
  std::FILE* out = open_for_write(path, WriteMode::Truncate, error);
  bool ok = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (out) ok = std::fclose(out) == 0 && ok;
  // A reply that cannot be written whole is not sent in part (nor an old one instead): the
  // transmission then reports the missing file.
  if (!ok) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) fs::remove(path, ec);
    s.window.set_status(" " + path.string() + " could not be written ");
  }
  s.Filename = reply;
  log_event(s, 17);
}

bool program_file_present(Station& s, const CommandParse& p, std::string_view filename) {
  if (!request_path_allowed(s, p, filename)) return false;
  // What the station keeps for itself alone (passwords, the record of the shop's work)
  // never goes to a machine, wherever the port's directories lead.
  if (station_private_file(s, std::string(filename))) {
    log_text(s, "Not sent: " + s.paths.display(filename) + " is the station's own");
    return false;
  }
  std::error_code ec;
  const fs::path path = s.paths.existing(filename);
  // An upload still being written (or left by a stop) is not a program yet.
  if (is_upload_temporary(path.filename().string())) return false;
  if (!fs::is_regular_file(path, ec) || ec) return false;
  const auto size = fs::file_size(path, ec);
  if (ec || size == 0) return false;
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

namespace {

// Shows and logs the request for `Filename` and tests the file.
bool try_file(Station& s, const CommandParse& p) {
  s.window.set_status(s.paths.display(s.Filename));
  log_event(s, s.Lynx_request ? 39 : 0);
  return program_file_present(s, p, s.Filename);
}

// The second tries for a missing program, in their order; true when one finds the file.
bool retry_missing_file(Station& s, CommandParse& p) {
  if (dun_varley_saved_directory(s, p) && try_file(s, p)) return true;
  for (FileRetry retry : kSiteRetries)
    if (retry(s, p) && try_file(s, p)) return true;
  return false;
}

}  // namespace

void file_request(Station& s, CommandParse& p) {
  for (;;) {
    if (site::kel_bran(s)) kel_bran_strip_spaces(p);
    bool named = true;
    if (p.plain32) {
      const LookupResult r = lookup_contents_name(s, p, RequestKind::File, p.t_pos + 1);
      if (r == LookupResult::Ended) return;
      named = r == LookupResult::Matched;
      // Without a match the request is for a name nobody numbered; the file name left over
      // from an earlier request must not be probed (and sent) in its place.
      if (!named) s.Filename = s.HSTR + "\\" + p.program_name;
    } else if (resolve_file_name(s, p, RequestKind::File, p.t_pos + 1) == NameResult::Ended) {
      return;
    }

    if (named) {
      if (try_file(s, p) || retry_missing_file(s, p)) {
        report_transfer_began(
            s, port_has(s, "BINARY") ? TransferKind::Binary : TransferKind::Request, s.Filename);
        if (port_has(s, "VISION")) convert_for_vision(s);
        if (s.BURNY == 1) burny_download_reply(s);
        return;
      }
    } else {
      s.window.set_status(s.paths.display(s.Filename));
      log_event(s, s.Lynx_request ? 39 : 0);
    }

    // A name with its own drive or path asks for that file only; any other is looked for
    // in the further send directories unless the command chose one by number.
    if (p.dir_index < p.send_last && p.dir_number == 0 && !p.explicit_dir) {
      ++p.dir_index;
      continue;
    }
    break;
  }
  report_transfer(s, TransferKind::Request, s.Filename, TransferResult::NotFound, 0);
  if (s.BURNY == 1) {
    burny_file_missing(s);
    return;
  }
  answer_not_found(s, notfound_line(s.Filename));
}

}  // namespace shoplink
