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

// The file a store of `name` writes. A number that stands for a long name ("/32") is found
// again through the index, which names PROGnnnn whatever the port's form. At the CORRIGAN
// site a name of three characters, or with its "." at position 4, gets "M0" in front.
std::string store_file_name(const Station& s, const CommandParse& p, std::string name) {
  if (p.indexed_by_name) return s.HSTR + "\\PROG" + name;
  if (!numbered_form(s) && site::corrigan(s) && (name.size() == 3 || instr(name, ".") == 4))
    name = "M0" + name;
  return program_file_name(s, name);
}

// A full directory (or one that cannot be probed) must not lead to a program being replaced
// under its own name: the upload is kept in TRASH and the operator told.
void no_free_number(Station& s, CommandParse& p) {
  p.no_free_number = true;
  s.window.set_status(" No unused program number in " + s.paths.display(s.HSTR) + " ");
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
    s.Filename = store_file_name(s, p, number);
    s.pcnc_file_no = number;
    log_event(s, 40);
  } else {
    no_free_number(s, p);
  }
  s.line.set_dtr(true);
  sendchar2(s, std::string(1, DC1));
}

// "/32" ports keep names of up to 32 characters in the CONTENTS index; the file is a number.
void choose_number(Station& s, CommandParse& p) {
  p.indexed_by_name = true;
  if (site::garnet_manufacturing(s)) garnet_program_name(p.program_name);
  p.program_comment = p.program_name;
  s.pcnc_file_name = p.program_comment;
  if (contains(s.cur().code_line, "/O")) {
    const std::string index = s.HSTR + "\\" + kContentsFile;
    if (request_path_allowed(s, p, index)) {
      const std::string number = contents_number_of(s.paths.existing(index), p.program_name);
      if (!number.empty()) {
        p.program_name = number;
        s.Filename = store_file_name(s, p, number);
        s.pcnc_file_no = number;
        return;
      }
    }
  }
  const std::string number = first_unused_number(s, p);
  if (number.empty()) {
    no_free_number(s, p);
    return;
  }
  p.program_name = number;
  s.Filename = store_file_name(s, p, number);
  s.pcnc_file_no = number;
  log_event(s, 40);
}

void name_the_file(Station& s, CommandParse& p) {
  s.Filename = store_file_name(s, p, p.program_name);
  if (numbered_form(s)) {
    s.pcnc_file_no = p.program_name;
    s.pcnc_file_name = p.program_comment;
  }
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

// Why the station will not store under the name the machine sent, or nullptr when it will.
// Such an upload goes to TRASH.
const char* refusal(const Station& s, const CommandParse& p) {
  if (p.no_free_number) return "no unused program number";
  // A name that cuts down to nothing would name the folder itself.
  if (p.program_name.empty()) return "no program name";
  // Control bytes in a file name reach every listing and terminal that shows it.
  for (const char c : s.Filename)
    if (static_cast<unsigned char>(c) < 32 || c == 127) return "control characters in the name";
  if (!request_path_allowed(s, p, s.Filename)) return "outside the station's directories";
  if (station_own_file(s, s.Filename)) return "one of the station's own files";
  return nullptr;
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
  if (!request_path_allowed(s, p, store_file_name(s, p, four_digits(1)))) return {};
  for (int n = 1; n <= last; ++n) {
    const std::string number = four_digits(n);
    // The very name the upload will be written under, in the port's form.
    std::error_code ec;
    const bool taken = fs::exists(s.paths.existing(store_file_name(s, p, number)), ec) || ec;
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

  const char* refused = refusal(s, p);
  if (refused) {
    log_text(s, "Name refused (" + std::string(refused) + "): " + s.paths.display(s.Filename));
  }

  log_event(s, 24);
  s.Openfile = s.files.freefile();
  if (refused) s.error_number = p.no_free_number ? kNoFreeNumberError : kConfinedError;
  if (refused || !create_upload_file(s, s.Filename)) {
    store_in_trash(s);
  } else {
    // The old program stays as it is until the upload commits; its backup is made then.
    if (contains(s.cur().code_line, "/BAK")) {
      s.BAK_name = backup_name(s.Filename);
      keep_backup_at_commit(s, s.BAK_name);
    }
    if (numbered_form(s) || p.indexed_by_name) {
      const std::string& code = s.cur().code_line;
      index_at_commit(s, s.pcnc_file_no, s.pcnc_file_name,
                      contains(code, "/32") && !contains(code, "/O"));
    }
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
