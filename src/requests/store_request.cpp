#include "requests/store_request.hpp"

#include <filesystem>
#include <system_error>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/contents_index.hpp"
#include "receive/received_line.hpp"
#include "receive/site_names.hpp"
#include "receive/upload_file.hpp"
#include "requests/controller_forms.hpp"
#include "requests/program_names.hpp"
#include "requests/request_paths.hpp"

namespace fs = std::filesystem;

namespace shoplink {

using namespace ctl;

namespace {
constexpr int kSettledReceiveTimeoutMs = 30000;
constexpr int kHadleyPauseMs = 2500;
constexpr int kDefaultReceiveTimeoutMs = 5000;
// Four-digit numbers and then some; a directory that cannot be probed ends the search
// instead of looping for ever.
constexpr int kLastNumber = 99999;
// The site that numbers every upload keeps to four-digit numbers.
constexpr int kLastFourDigitNumber = 9999;
// Error number kept for log 25 when no number is free (no space left).
constexpr int kNoFreeNumberError = 28;

int receive_timeout_ms(const Station& s) {
  const auto ms = round_int(s.cur().delay_ms);
  return ms > 0 ? static_cast<int>(ms) : kDefaultReceiveTimeoutMs;
}

std::string four_digits(int n) {
  std::string t = std::to_string(n);
  while (t.size() < 4) t.insert(0, "0");
  return t;
}

std::string dnc_link_comment(const Station& s) {
  return std::string(kDncLinkComment) + " " + date_text(s.loop.clock().local_now());
}

// "(...)" after the name: up to 32 characters after the first "(", cut before ")".
std::string comment_of(const CommandParse& p) {
  const std::size_t open = instr(p.command, "(");
  if (open == 0) return {};
  std::string c = mid(p.command, open + 1, 32);
  if (const std::size_t close = instr(c, ")"); close > 0) c = left(c, close - 1);
  return c;
}

// The "PROG," forms carry the comment after the first comma behind the name.
std::string prog_form_comment(const Station& s, const CommandParse& p) {
  const std::size_t comma = instr(p.command, ",", p.r_pos > 0 ? p.r_pos : 1);
  if (comma == 0) return dnc_link_comment(s);
  std::string c = mid(p.command, comma + 1);
  if (const std::size_t close = instr(c, ")"); close > 0) c = left(c, close - 1);
  if (starts_with(c, "(")) c.erase(0, 1);
  if (!c.empty() && c.back() == ')') c.pop_back();
  return c;
}

// LAKESIDE ROLL files uploads by the first letter of their comment.
void lakeside_directory(Station& s, std::string comment) {
  if (starts_with(comment, "(")) comment.erase(0, 1);
  if (starts_with(comment, " ")) comment.erase(0, 1);
  if (comment.empty()) return;
  const char c = ucase(comment.substr(0, 1))[0];
  if (c >= 'A' && c <= 'Z') s.HSTR = std::string("C:\\NEWLTH") + c;
}

// BEACON MANUFACTURING numbers every upload: the machine is held while the number is found.
void beacon_number(Station& s, CommandParse& p) {
  if (!(starts_with(p.command, "O") || starts_with(p.command, ":"))) return;
  s.line.set_dtr(false);
  sendchar2(s, std::string(1, DC3));
  const std::string number = first_unused_number(s, p, kLastFourDigitNumber);
  if (!number.empty()) {
    p.command = left(p.command, 1) + number + mid(p.command, 6);
    p.program_name = number;
    s.Filename = s.HSTR + "\\PROG" + number;
    s.pcnc_file_no = number;
    log_event(s, 40);
  } else {
    // A full directory (or one that cannot be probed) must not lead to a program being
    // replaced under its own name: the upload is kept in TRASH and the operator told.
    p.no_free_number = true;
    s.window.set_status(" No unused program number in " + s.paths.display(s.HSTR) + " ");
  }
  s.line.set_dtr(true);
  sendchar2(s, std::string(1, DC1));
}

// "/32" ports keep names of up to 32 characters in the CONTENTS index; the file is a number.
void choose_number(Station& s, CommandParse& p) {
  if (site::garnet_manufacturing(s)) garnet_program_name(p.program_name);
  p.program_comment = p.program_name;
  if (contains(s.cur().code_line, "/O")) {
    const std::string index = s.HSTR + "\\" + kContentsFile;
    if (request_path_allowed(s, p, index)) {
      const std::string number = contents_number_of(s.paths.existing(index), p.program_name);
      if (!number.empty()) {
        p.program_name = number;
        s.Filename = s.HSTR + "\\PROG" + number;
        s.pcnc_file_no = number;
        return;
      }
    }
  }
  const std::string number = first_unused_number(s, p);
  if (number.empty()) return;
  p.program_name = number;
  s.Filename = s.HSTR + "\\PROG" + number;
  s.pcnc_file_no = number;
  log_event(s, 40);
}

void name_the_file(Station& s, CommandParse& p) {
  if (numbered_form(s)) {
    s.Filename = s.HSTR + "\\PROG" + p.program_name;
    s.pcnc_file_no = p.program_name;
    s.pcnc_file_name = p.program_comment;
    return;
  }
  std::string name = p.program_name;
  if (site::corrigan(s) && (name.size() == 3 || instr(name, ".") == 4)) name = "M0" + name;
  std::string extension = s.cur().extension;
  if (site::hadley_tool(s)) {
    s.Filename = s.HSTR + "\\O" + name;
    extension = ".NC";
  } else {
    s.Filename = s.HSTR + "\\" + name;
  }
  if (!extension.empty() && !contains(s.Filename, extension)) s.Filename += extension;
}

// "/BAK" keeps the old program as the .BAK file. Returns true when a backup was made.
bool back_up_old_program(Station& s) {
  std::error_code ec;
  const fs::path old = s.paths.existing(s.Filename);
  if (!fs::is_regular_file(old, ec)) return false;
  s.BAK_name = backup_name(s.Filename);
  const fs::path bak = s.paths.existing(s.BAK_name);
  if (fs::exists(bak, ec)) {
    fs::remove(bak, ec);
    log_event(s, 42);
  }
  fs::rename(old, bak, ec);
  if (ec) return false;
  log_event(s, 41);
  return true;
}

// One line the store request writes itself, shown like the received ones.
void show(Station& s, std::string_view line) {
  if (s.showdata > 0) {
    s.inputtext += line;
    s.inputtext += "\r\n";
  }
}

void trim_command(std::string& c) {
  if (!c.empty() && static_cast<unsigned char>(c.front()) < 33) c.erase(0, 1);
  if (!c.empty() && static_cast<unsigned char>(c.back()) < 33) c.pop_back();
}

void arm_reception(Station& s, const CommandParse& p) {
  if (site::hadley_tool(s)) {
    s.Timer19.set_interval(kHadleyPauseMs);
    s.Timer19.stop();
    s.Hadley_pause = false;
    s.Hadley_M2 = false;
  }
  s.Timer6.set_interval(receive_timeout_ms(s));
  if (p.with_id || s.BURNY == 1) {
    // What followed the command in the same batch is the program's beginning: it stays in
    // rx_string for the reception (a Burny control sends its program right behind "!FD").
    s.mode = Mode::Receiving;
    // The upload is under way already: the reception takes the open file, and a machine
    // that sends nothing more still ends it after the time-out.
    s.receiving = 1;
    s.Timer6.start();
    return;
  }
  s.Timer6.set_interval(kSettledReceiveTimeoutMs);
  s.mode = Mode::Settling;
  s.rx_string.clear();
  s.mode_after_purge = Mode::Receiving;
  s.send_inhibit = 1;
  s.Timer10.start();
}

}  // namespace

std::string backup_name(const std::string& filename) {
  const std::size_t slash = filename.rfind('\\');
  const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = filename.find('.', from);
  if (dot == std::string::npos) return filename + ".BAK";
  return filename.substr(0, dot + 1) + "BAK";
}

std::string first_unused_number(Station& s, const CommandParse& p, int last) {
  if (last <= 0) last = kLastNumber;
  // The names differ only in their digits: one directory, allowed or not for all of them.
  if (!request_path_allowed(s, p, s.HSTR + "\\PROG" + four_digits(1))) return {};
  for (int n = 1; n <= last; ++n) {
    const std::string number = four_digits(n);
    const std::string name = s.HSTR + "\\PROG" + number;
    std::error_code ec;
    const bool taken = fs::exists(s.paths.existing(name), ec) || ec;
    if (!taken) return number;
  }
  return {};
}

void store_request(Station& s, CommandParse& p) {
  // A store without a name has been answered as not found; nothing is to be received.
  if (parse_program_name(s, p, RequestKind::Store, p.r_pos + 1) == NameResult::Ended) return;
  p.program_comment.clear();
  if (site::beacon_manufacturing(s)) beacon_number(s, p);
  if (!p.plain32) {
    if (p.prog_form) {
      p.program_comment = prog_form_comment(s, p);
    } else {
      p.program_comment = comment_of(p);
      if (site::lakeside_roll(s)) lakeside_directory(s, p.program_comment);
      if (p.program_comment.empty()) p.program_comment = dnc_link_comment(s);
    }
  } else {
    choose_number(s, p);
  }
  open_store_file(s, p);
}

void open_store_file(Station& s, CommandParse& p) {
  arm_reception(s, p);
  name_the_file(s, p);
  report_transfer_began(s, TransferKind::Upload, s.Filename);
  s.char_count = 0;
  s.Last_RX_line.clear();

  // A name that leaves the station's directories, or names one of the station's own files,
  // is never touched or created: the upload goes to TRASH.
  const bool allowed = !p.no_free_number && request_path_allowed(s, p, s.Filename) &&
                       !station_own_file(s, s.Filename);
  bool backed_up = false;
  if (allowed && contains(s.cur().code_line, "/BAK")) backed_up = back_up_old_program(s);
  // Without a backup the old program stays as it is until a line of the upload is stored.

  log_event(s, 24);
  s.Openfile = s.files.freefile();
  if (!allowed) s.error_number = p.no_free_number ? kNoFreeNumberError : kConfinedError;
  if (!allowed || !create_upload_file(s, s.Filename, !backed_up, false)) {
    store_in_trash(s);
  } else if (backed_up && s.pending_upload) {
    s.pending_upload->backup = s.paths.existing(s.BAK_name);
  }

  s.RX_binary = contains(s.cur().code_line, "BINARY");
  s.line.set_option_flag(!s.RX_binary);

  if (s.filetype == 3) write_upload_line(s, ":" + p.program_name + " (" + p.program_comment + ")");

  trim_command(p.command);
  if (p.with_id) {
    if (tosnuc_port(s.cur())) tosnuc_first_line(p.command);
    if (!s.Stack.empty()) {
      store_program_line(s, s.Stack);
      s.Stack.clear();
    }
    store_program_line(s, p.command);
    show(s, p.command);
    log_event(s, 11);
  } else {
    log_event(s, 8);
  }

  if (site::cadence_productions(s)) {
    const LocalTime now = s.loop.clock().local_now();
    const std::string line =
        "(UPLOAD FROM PORT" + str(s.port) + " " + date_text(now) + " " + time_text(now) + ")";
    write_upload_line(s, line);
    s.char_count += static_cast<double>(line.size()) + 2;
    show(s, line);
  }
}

}  // namespace shoplink
