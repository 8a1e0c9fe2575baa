#include "station/receive_poll.hpp"

#include "base/text.hpp"
#include "core/station.hpp"
#include "receive/reception.hpp"
#include "requests/scanning_poll.hpp"
#include "station/port_scan.hpp"
#include "transmit/sending_poll.hpp"

namespace shoplink {

void show_received(Station& s, std::string_view got) {
  for (unsigned char ch : got) {
    const int c = ch & 127;
    if (c == 0) {
      s.inputtext += "<null>";
    } else if (c == 13 || c == 10) {
      s.inputtext += static_cast<char>(c);
    } else if (c == 17) {
      s.inputtext += "<Xon>";
    } else if (c == 19) {
      s.inputtext += "<Xoff>";
    } else if (c >= 1 && c <= 26) {
      s.inputtext += '^';
      s.inputtext += static_cast<char>(c + 64);
    } else if (c == 27) {
      s.inputtext += "<esc>";
    } else if (c >= 28 && c <= 31) {
      s.inputtext += "<" + str(c) + ">";
    } else {
      s.inputtext += static_cast<char>(c);
    }
  }
}

namespace {

// Waiting for the port controller's answer to the probe: collect it; each arrival
// extends the silence time-out, until the answer is as long as it may be.
void poll_controller_answer(Station& s, const std::string& got) {
  if (got.empty() || s.rx_string.size() >= kProbeAnswerLimit) return;
  s.rx_string += got.substr(0, kProbeAnswerLimit - s.rx_string.size());
  s.Timer12.start();
}

// A text upload shows each line once, as it is stored; its raw characters would show it
// twice, with the pieces of lines the polls cut it into.
bool upload_shows_lines(const Station& s, std::int16_t mode) {
  return mode == Mode::Receiving && !s.RX_binary;
}

}  // namespace

void Timer13_Timer(Station& s) {
  std::string got;
  if (s.line.is_open() && s.line.in_buffer_count() > 0) got = s.line.read();
  if (got.empty() && s.rx_string.empty()) return;
  const std::int16_t mode_before = s.mode;
  switch (s.mode) {
    case Mode::Scanning:
      receive_poll_scanning(s, got);
      break;
    case Mode::Sending:
      receive_poll_sending(s, got);
      break;
    case Mode::Receiving:
      receive_poll_receiving(s, got);
      break;
    case Mode::Settling:
      receive_poll_settling(s, got);
      break;
    case Mode::ControllerAnswer:
      poll_controller_answer(s, got);
      break;
    default:  // terminal (and any other mode): shown only
      break;
  }
  if (s.showdata > 0 && !upload_shows_lines(s, mode_before) && !upload_shows_lines(s, s.mode))
    show_received(s, got);
}

}  // namespace shoplink
