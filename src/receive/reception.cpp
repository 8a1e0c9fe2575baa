#include "receive/reception.hpp"

#include <filesystem>
#include <system_error>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/activity_report.hpp"
#include "receive/received_line.hpp"
#include "receive/site_names.hpp"
#include "receive/trash_files.hpp"
#include "receive/upload_file.hpp"
#include "requests/command_capture.hpp"

namespace fs = std::filesystem;

namespace shoplink {

using namespace ctl;

namespace {
constexpr int kDefaultReceiveTimeoutMs = 5000;
constexpr const char* kAutoprintProgram = "Autoprint.exe";

const Menu kTransferMenus[] = {Menu::mode_scan,     Menu::mode_send, Menu::mode_receive,
                               Menu::mode_terminal, Menu::mode_exit, Menu::conf_password};

void enable_transfer_menus(Station& s, bool on) {
  for (Menu m : kTransferMenus) s.window.set_menu_enabled(m, on);
}

// The port's receive time-out. A DELAY= that reads as 0 would never end an upload, so it
// counts as not given.
int receive_timeout_ms(const Station& s) {
  const auto ms = round_int(s.cur().delay_ms);
  return ms > 0 ? static_cast<int>(ms) : kDefaultReceiveTimeoutMs;
}

// A machine asking whether the station listens: DC2 alone, or after two blanks (160 is a
// blank with its parity bit). Compared without the parity bit, so that an odd-parity DC2 is
// answered too instead of ending up in the program.
bool is_dc2_call(const std::string& got) {
  auto is = [](char c, int code) { return (static_cast<unsigned char>(c) & 127) == code; };
  if (got.size() == 1) return is(got[0], DC2);
  return got.size() == 3 && is(got[0], ' ') && is(got[1], ' ') && is(got[2], DC2);
}

// IGNORE= names characters; in ASCII they arrive with the port's parity bit, which does not
// make them another character.
bool ignored(const std::string& ignore, char ch, bool eia) {
  const char c = eia ? ch : static_cast<char>(ch & 127);
  return ignore.find(c) != std::string::npos;
}

bool binary_port(const Station& s) {
  return contains(s.cur().code_line, "BINARY");
}

// The first data of an upload that no request has opened a file for (manual receive).
void start_reception(Station& s, const std::string& got) {
  s.receiving = 1;
  s.char_count = 0;
  s.rx_code_unknown = 1;
  s.rx_line.clear();
  s.rx_string = got;
  s.Openfile = s.files.freefile();
  s.RX_binary = binary_port(s);
  s.line.set_option_flag(!s.RX_binary);
  if (!transfer_under_way(s)) report_transfer_began(s, TransferKind::ManualReceive, s.Filename);
  if (!create_upload_file(s, s.Filename)) store_in_trash(s);
  enable_transfer_menus(s, false);
  s.window.set_visible(Element::PortSelector, false);
  s.Timer6.start();
  s.Timer19.start();
}

void resume_sender(Station& s) {
  s.line.set_rts(true);
  sendchar2(s, std::string(1, DC1));
  s.xoff = 0;
}

// The sender is held while more than kRxStopLevel characters wait and released once fewer
// than kRxResumeLevel do. The backlog is stored at once, so when the held machine sends
// nothing more the release comes one poll later instead of waiting for an arrival that
// cannot come.
void flow_control(Station& s) {
  if (s.rx_string.size() > kRxStopLevel && s.xoff == 0) {
    s.line.set_rts(false);
    sendchar2(s, std::string(1, DC3));
    s.xoff = 1;
    Station* sp = &s;
    s.loop.post_after(millis(s.Timer13.interval()), [sp] {
      if (sp->mode == Mode::Receiving && sp->receiving == 1 && sp->xoff == 1 &&
          sp->rx_string.size() < kRxResumeLevel)
        resume_sender(*sp);
    });
  }
  if (s.rx_string.size() < kRxResumeLevel && s.xoff == 1) resume_sender(s);
}

void restart_silence_timers(Station& s) {
  s.Timer6.start();
  s.Timer19.start();
}

// Binary uploads go to the file byte for byte as they come; nothing is held back, so the
// flow control never needs to stop the machine.
void store_binary(Station& s) {
  if (!s.rx_string.empty()) {
    upload_data_arrived(s);
    write_upload_bytes(s, s.rx_string);
    s.rx_string.clear();
    if (!site::hadley_tool(s)) s.Timer6.set_interval(receive_timeout_ms(s));
  }
  restart_silence_timers(s);
}

void store_text(Station& s, std::size_t fresh) {
  if (s.rx_code_unknown == 1) {
    capture_command(s, fresh);
    // Capture takes the first line whole, with its line end; store it now so that the next
    // line cannot run into it when the lines end in a lone CR or LF.
    if (s.rx_code_unknown == 0 && !s.rx_line.empty()) {
      std::string first;
      first.swap(s.rx_line);
      if (complete_received_line(s, std::move(first)) == LineOutcome::UploadEnded) return;
    }
  }
  if (s.rx_code_unknown == 0 && !s.rx_string.empty()) {
    process_received_data(s);
  } else {
    // Nothing left to store, or text without any line end yet: the silence time-out runs
    // again, so a sender that stops mid-line still ends the upload.
    restart_silence_timers(s);
  }
}

void start_autoprint(Station& s) {
  std::error_code ec;
  const fs::path program = s.paths.existing(s.station_file(kAutoprintProgram));
  if (!fs::is_regular_file(program, ec)) return;
  // An argument vector, never a command line for a shell: the file name comes from a
  // machine.
  s.platform.start_detached(program.string(), {s.paths.existing(s.Filename).string()}, true);
}

// After an upload the machine is never left held.
void release_sender(Station& s) {
  if (s.xoff == 1) resume_sender(s);
  if (s.RX_binary) {
    s.line.set_option_flag(true);
    s.RX_binary = false;
  }
}

// How an upload ended, as its transfer reports it.
void report_upload_end(Station& s, UploadEnd end, bool to_trash) {
  if (end == UploadEnd::Stored && !to_trash) {
    report_transfer_ended(s, TransferResult::Received);
  } else if (end == UploadEnd::Stored) {
    report_transfer_ended(s, TransferResult::Discarded, "stored in TRASH");
  } else if (end == UploadEnd::KeptInTrash) {
    report_transfer_ended(s, TransferResult::Discarded, "kept in TRASH");
  } else if (end == UploadEnd::Failed) {
    report_transfer_ended(s, TransferResult::Discarded,
                          "not stored: error " + std::to_string(s.error_number));
  } else {
    report_transfer_ended(s, TransferResult::Discarded, "no data");
  }
}

std::string report_name_of(const std::string& filename) {
  std::string name = ucase(filename);
  for (auto& c : name)
    if (c == '\\') c = '/';
  return name;
}

}  // namespace

void receive_poll_receiving(Station& s, const std::string& got) {
  if (!got.empty()) {
    s.Timer6.stop();
    s.Timer19.stop();
  }
  if (s.receiving == 0) {
    // Waiting for an upload: only an arrival starts it.
    if (got.empty()) return;
    start_reception(s, got);
  } else if (!got.empty()) {
    if (!s.RX_binary && is_dc2_call(got)) {
      sendchar2(s, std::string(1, DC1));
    } else {
      s.rx_string += got;
    }
  }
  if (!s.RX_binary) flow_control(s);
  if (s.RX_binary) {
    store_binary(s);
  } else {
    store_text(s, got.size());
  }
}

void process_received_data(Station& s) {
  s.Timer13.stop();
  const std::string& ignore = s.cur().ignore;
  const auto& table =
      s.codes.receive[static_cast<std::size_t>(s.rx_code >= 0 && s.rx_code <= 2 ? s.rx_code : 0)];
  const bool eia = s.rx_code == kRxEia;
  std::string data;
  data.swap(s.rx_string);
  for (char ch : data) {
    // Blank tape (no holes) between EIA blocks is feed, not a character.
    if (eia && ch == '\0') continue;
    if (!ignore.empty() && ignored(ignore, ch, eia)) continue;
    const char d = static_cast<char>(table[static_cast<unsigned char>(ch)]);
    if (d != '\r' && d != '\n') {
      s.rx_line += d;
      // A line without end is stored in pieces rather than held without limit.
      if (s.rx_line.size() < kMaxUploadLine) continue;
    }
    std::string line;
    line.swap(s.rx_line);
    if (complete_received_line(s, std::move(line)) == LineOutcome::UploadEnded) {
      s.rx_line.clear();
      s.Timer13.start();
      return;
    }
  }
  if (!site::hadley_tool(s)) s.Timer6.set_interval(receive_timeout_ms(s));
  restart_silence_timers(s);
  s.Timer13.start();
}

void abandon_reception(Station& s) {
  // The file is open from the store request on (or the first data of a manual receive)
  // until the time-out ends the upload.
  const std::FILE* open = s.files.get(s.Openfile);
  if (!s.pending_upload || open == nullptr || s.pending_upload->file != open) return;
  s.Timer6.stop();
  s.Timer19.stop();
  discard_upload_file(s);
  log_text(s, "SHOPLINK stopping - reception of " + s.paths.display(s.Filename) + " aborted");
  release_sender(s);
  s.receiving = 0;
  s.Filename.clear();
  s.mode = Mode::Settling;
  s.mode_after_purge = 0;
}

void timer6_Timer(Station& s) {
  if (s.receiving != 1) return;
  // An OPEN FILE upload at KESSLER SUPPLY may pause for as long as it likes; only its
  // CLOSE FILE line lets the silence end it.
  if (site::kessler_supply(s) && s.Asterisk == 1 && !contains(s.Last_RX_line, "CLOSE FILE")) return;
  s.Timer6.stop();
  s.mode = Mode::Settling;
  std::string report_name;
  // The same time-out also ends a command that never completed; only an upload has a file
  // to finish, print and enter in the index.
  const bool upload = s.files.is_open(s.Openfile);
  if (upload && site::hadley_tool(s) && !s.Hadley_M2) {
    write_upload_line(s, "M30");
    s.char_count += 5;
  }
  const bool to_trash = s.Filename == s.station_file(kTrashFile);
  // Set first: what the commit reports (a failure, a missing index entry) stays on show.
  s.window.set_status("RX timeout...");
  const UploadEnd end = close_upload_file(s);
  const bool stored = upload && end == UploadEnd::Stored;
  report_upload_end(s, end, to_trash);
  release_sender(s);
  if (stored && s.AUTOPRINT == 1) start_autoprint(s);
  // Only a program that is now on disk was received; an upload that stored nothing left the
  // old program in place, and a failed or set-aside one has been reported with its reason.
  if (stored) {
    log_event(s, 9);
    report_name = report_name_of(s.Filename);
  } else if (upload && end == UploadEnd::Discarded) {
    log_event(s, 10);
  }
  s.Filename.clear();
  if (stored && contains(s.cur().code_line, "REPLY=") && s.char_count > 0)
    prepare_activity_report(s, report_name);
  s.Timer4.start();
  s.receiving = 0;
  // A late arrival restarting the settling timer must lead back to scanning, not into
  // another reception.
  s.mode_after_purge = 0;
  enable_transfer_menus(s, true);
}

}  // namespace shoplink
