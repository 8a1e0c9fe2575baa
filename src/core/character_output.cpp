#include "core/character_output.hpp"

#include <algorithm>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/scan_selection.hpp"
#include "core/station.hpp"

namespace shoplink {

using namespace ctl;

namespace {
// Holding for an Xoff or an inhibit has no deadline of its own; re-check this often. The
// 500 ms pause after Xon dwarfs it, and it keeps a held transfer from spinning.
constexpr Duration kHoldRecheck = millis(10);
// One "yield to pending events" of the per-character pacing (CD= setting).
constexpr Duration kPacingStep = std::chrono::microseconds(10);
}  // namespace

Duration char_time(const Station& s) {
  long baud = SerialPort::settings_baud(s.line.settings());
  if (baud <= 0) baud = 9600;
  return Duration(10'000'000'000LL / baud);
}

void sendchar2(Station& s, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) s.line.write(text.substr(i, 1));
}

namespace {

// Reads the machine's answers one at a time; only handshake characters count.
void read_handshakes(Station& s) {
  s.line.set_input_len(1);
  while (s.line.in_buffer_count() > 0) {
    const std::string got = s.line.read();
    if (got.empty()) break;
    const int a = static_cast<unsigned char>(got[0]) & 127;
    if (a == 17) {
      s.inputtext += "<Xon>";
      s.xoff = 0;
      s.Timer15.one_shot_delay(500);
    } else if (a == 19) {
      s.xoff = 1;
      s.inputtext += "<Xoff>";
    } else if (a == 6) {
      s.gotAK = 1;
      s.inputtext += "<AK>";
    } else if (a == '>' && s.Lynx_request) {
      s.inputtext += ">";
      s.xoff = 0;
    }
  }
  s.line.set_input_len(0);
}

}  // namespace

bool sendchar(Station& s, std::string_view text_in, Duration hold_limit) {
  const PortSettings& p = s.cur();
  std::string text(text_in);
  if (!p.mask.empty() && !contains(p.code_line, "AB")) {
    std::erase_if(text, [&](char c) { return p.mask.find(c) != std::string::npos; });
  }
  if (contains(p.code_line, "/D") && contains(text, "$") && contains(text, "%")) return true;

  const Duration line_char = char_time(s);
  Duration wait = Duration::zero();  // the first attempt only lets pending events run
  // When the current hold began (max: not held). Read from the clock only once output is
  // held, so the write of each burst costs nothing more.
  constexpr TimePoint kNotHeld = TimePoint::max();
  TimePoint held_since = kNotHeld;
  const auto held_too_long = [&] {
    const TimePoint now = s.loop.now();
    if (held_since == kNotHeld) held_since = now;
    return now - held_since >= hold_limit;
  };
  for (std::size_t i = 0; i < text.size();) {
    for (;;) {
      s.loop.yield(wait);
      if (s.send_aborted == 1 || s.loop.quit_requested()) {
        s.files.close(s.Openfile);
        return false;
      }
      if (!s.line.cts()) {
        if (held_too_long()) return false;
        wait = line_char;
        continue;
      }
      const std::size_t room = s.line.output_room();
      if (room == 0) {
        if (held_too_long()) return false;
        const Duration due = s.line.output_room_in();
        wait = due > Duration::zero() ? due : line_char;
        continue;
      }
      if (s.line.in_buffer_count() > 0) read_handshakes(s);
      if (s.send_inhibit == 1 || s.xoff == 1) {
        if (held_too_long()) return false;
        wait = kHoldRecheck;
        continue;
      }
      // A paced line takes a short burst in one write and one wake-up; the CD= pause
      // below is per character, so there the characters go one by one.
      const std::size_t n = p.char_delay != 0 ? 1 : std::min(room, text.size() - i);
      s.line.write(std::string_view(text).substr(i, n));
      i += n;
      held_since = kNotHeld;
      s.Timer3.start();
      // A paced line is now a whole burst ahead: sleep until it has sent it, so that the
      // next wake-up hands it a whole burst again.
      wait = p.char_delay == 0 && n == room && s.line.paced() ? s.line.output_room_in()
                                                              : Duration::zero();
      break;
    }
    char_delay_pause(s);
  }
  return true;
}

void char_delay_pause(Station& s) {
  const int d = s.cur().char_delay;
  if (d == 0) return;
  // The pause of (CD x 100 + 1) yields, taken as that many 10-microsecond steps so it
  // lasts the same on any machine.
  const TimePoint until = s.loop.now() + kPacingStep * (d * 100 + 1);
  while (s.loop.now() < until && !s.loop.quit_requested()) s.loop.yield(until - s.loop.now());
}

void clear_RX_buffer(Station& s) {
  s.Timer15.one_shot_delay(4000);
  s.line.clear_in_buffer();
  sendchar2(s, std::string{DC4, 'Q'});
}

void purge_buffers(Station& s) {
  if (s.port == 1) s.window.set_status("Clearing buffers");
  if (s.port <= NumPorts) {
    sendchar2(s, s.codes.controller_codes[static_cast<std::size_t>(s.port)]);
    ++s.port;
  } else {
    s.mode = Mode::Scanning;
    s.Timer9.stop();
    s.Timer3.stop();
    mode_scan_Click(s);
  }
}

}  // namespace shoplink
