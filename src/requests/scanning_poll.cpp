#include "requests/scanning_poll.hpp"

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "requests/command_capture.hpp"

namespace shoplink {

using namespace ctl;

namespace {

// A DC2 on its own (or after two spaces, with or without parity) asks for an Xon.
bool lone_dc2(const std::string& got) {
  auto blank = [](char c) { return (static_cast<unsigned char>(c) & 127) == ' '; };
  if (got.size() == 1) return true;
  return got.size() == 3 && blank(got[0]) && blank(got[1]) && (got[2] & 127) == DC2;
}

void answer_handshakes(Station& s, const std::string& got) {
  for (char ch : got) {
    const int c = ch & 127;
    if (c == DC2 && lone_dc2(got)) {
      sendchar2(s, std::string(1, DC1));
    } else if (c == DC1 && !contains(s.cur().code_line, "AB")) {
      // The activity report waits for the machine's Xon; it is sent again on every Xon
      // until the next report replaces it.
      const std::string& report = s.reply_buffer[static_cast<std::size_t>(s.port)];
      if (!report.empty()) {
        sendchar2(s, report);
        report_transfer(s, TransferKind::Reply, "", TransferResult::Transmitted,
                        static_cast<double>(report.size()));
      }
    }
  }
}

// The first characters of a command: the station is busy with this port.
void begin_command(Station& s, const std::string& got) {
  s.char_count = 0;
  s.WEID = 0;
  s.rx_line.clear();
  s.receiving = 1;
  s.rx_code_unknown = 1;
  s.rx_string = got;
  s.rx_searched = 0;
  s.command_overflow_reported = false;
  for (Menu m : {Menu::mode_scan, Menu::mode_send, Menu::mode_receive, Menu::mode_terminal,
                 Menu::mode_exit, Menu::conf_password})
    s.window.set_menu_enabled(m, false);
  s.window.set_visible(Element::PortSelector, false);
  s.window.set_text(Field::MachineEntry, s.cur().machine_name);
  s.window.set_visible(Element::MachineEntry, true);
  s.Timer6.start();
}

}  // namespace

void receive_poll_scanning(Station& s, const std::string& got) {
  if (s.receiving == 0 && got.empty()) {
    // Only an arrival begins a command. What is left of one that timed out unfinished is
    // stale and must not hold the port again.
    s.rx_string.clear();
    return;
  }
  answer_handshakes(s, got);
  s.Timer2.stop();
  if (!got.empty()) {
    s.Timer6.stop();
    s.Timer6.start();
  }
  if (s.receiving == 0) {
    begin_command(s, got);
  } else {
    s.rx_string += got;
  }
  capture_command(s, got.size());
}

}  // namespace shoplink
