#include "transmit/engine.hpp"

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "transmit/ab_protocol.hpp"
#include "transmit/broken_transfer.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/prepare.hpp"
#include "transmit/program_lines.hpp"
#include "transmit/progress.hpp"
#include "transmit/sable_carbon_program.hpp"
#include "transmit/transfer_controls.hpp"
#include "transmit/transfer_end.hpp"

namespace shoplink {

namespace {

using ctl::DC4, ctl::EOT, ctl::ESC, ctl::ETX, ctl::SUB;
constexpr std::size_t kOkumaTrailerNuls = 100;
constexpr std::size_t kDisplayLimit = 1024, kDisplayKeep = 512;

// Lines some sites and switches never send.
bool skipped(const Station& s, bool& program_started, const std::string& line) {
  if (contains(s.cur().code_line, "/%") && contains(line, "%")) return true;
  if (customer_is(s, "CORBIN HITCH") && !program_started) {
    if (!starts_with(line, "O")) return true;
    program_started = true;
  }
  return customer_is(s, "MAPLEGATE TECHNOLOGIES") && contains(line, "%");
}

std::string converted(Station& s, std::string text) {
  return code_convert(s, text);
}

}  // namespace

void cut_display_buffer(std::string& display) {
  if (display.size() <= kDisplayLimit) return;
  const std::string tail = display.substr(display.size() - kDisplayKeep);
  const auto lf = tail.find('\n');
  display = lf == std::string::npos ? std::string() : tail.substr(lf + 1);
}

std::string trailer_text(Station& s, const std::string& prev_line) {
  const PortSettings& p = s.cur();
  if (contains(p.code_line, "OLD_OKUMA")) {
    const std::string nuls(kOkumaTrailerNuls, '\0');
    return contains(prev_line, "%") ? nuls : prepare2send(s, "%") + nuls;
  }
  if (s.BURNY == 1) return converted(s, std::string{SUB, '\r', '\n'});
  if (!p.trailer.empty()) return p.trailer;
  if (contains(p.code_line, "/T")) return {};
  if (contains(p.code_line, "FAGOR")) return converted(s, std::string(1, ESC));
  if (s.Lynx_request) return std::string(1, SUB);
  // The controller serves more than one port: one more DC4 after the end of tape.
  return prepare2send(s, std::string(10, '\0') + "%") + converted(s, std::string{EOT, DC4}) +
         converted(s, std::string(1, DC4));
}

void run_transmission(Station& s) {
  AbState ab;
  std::string prev_line, display, line;
  bool program_started = false;
  s.gotAK = 0;
  TransferProgress progress(s.loop.now());
  const int breaks = s.line_breaks();

  while (next_program_line(s, line)) {
    if (skipped(s, program_started, line)) continue;
    if (s.filetype == 3 && starts_with(line, "\""))
      line = line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string();

    if (port_has(s, "AB")) {
      const AbVerdict v = apply_ab_rules(s, ab, line);
      if (v == AbVerdict::Skip) continue;
      if (v == AbVerdict::EndOfFile) break;  // an ACK marker was the last line
    }

    std::string text;
    if (line == "%" && s.BURNY == 1) {
      text = line;
    } else {
      display += line;
      display += "\r\n";
      if (port_has(s, "MHD") && starts_with(prev_line, "%") && starts_with(line, "%")) continue;
      prev_line = line;
      text = prepare2send(s, line);
    }
    // Cut whether or not it is shown, so that a long program never piles up here.
    cut_display_buffer(display);
    if (s.window.menu_checked(Menu::view_show)) s.window.set_text(Field::Terminal, display);

    if (s.Sable_carbon) {
      Sable_carbon_mod1(s, text);
    } else {
      sendchar(s, text);
    }
    if (s.Lynx_request) s.xoff = 1;  // the next line waits for the Lynx prompt ">"
    if (transfer_stopped(s)) {
      close_transfer(s, false);
      return;
    }
    if (ab.etx) {
      sendchar2(s, converted(s, std::string(1, ETX)));
      hold_stall_timeout(s, [&] { clear_RX_buffer(s); });
    }
    s.Timer3.set_enabled(true);
    progress.update(s);
  }

  sendchar(s, trailer_text(s, prev_line));
  // Sent means out on the line: a stop before the last character has gone is an abort, and
  // so is a break of the line during the transfer (which ends it as a stall does).
  if (!drain_output(s) || transfer_broke(s, breaks) || transfer_stopped(s)) {
    close_transfer(s, false);
    return;
  }
  complete_transfer(s);
  close_transfer(s, true);
}

}  // namespace shoplink
