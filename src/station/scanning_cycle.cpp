#include "station/scanning_cycle.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/scan_selection.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "requests/command_capture.hpp"
#include "requests/command_interpreter.hpp"
#include "station/controller_restart.hpp"
#include "transmit/shift_file.hpp"

namespace shoplink {

namespace {
// Xoff with its top bit set, as the hold of the scanning cycle sends it.
constexpr char XOFF_HIGH = static_cast<char>(147);
// The event code the comm handler compares with (always 0); this serial layer raises no
// event with that code, so that path never holds the line unless a backend reports it.
constexpr int kFlowControlEvent = 0;
}  // namespace

std::string queue_command_file(const Station& s, int port) {
  return s.config.queue_dir + "\\SHOPLINK Queue command" + str(port);
}

namespace {

// Hands the queued command to the interpreter.
void serve_command(Station& s) {
  process_command(s);
}

// The first line of a queue command file, ended by CR, LF or both (other programs write
// any of them); only that much of the file is read.
std::string first_line_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string first;
  char c;
  while (first.size() < kCommandBufferLimit && in.get(c) && c != '\r' && c != '\n') first += c;
  return first;
}

// A queue command file for the port just selected: served as if the machine had sent
// "T" and the file's first line. It is deleted first, so a failing command is not repeated;
// one that cannot be deleted would be served on every pass, so it is reported once and not
// run.
void serve_queue_file(Station& s) {
  std::error_code ec;
  auto& stuck = s.queue_file_stuck[static_cast<std::size_t>(s.port)];
  const auto path = s.paths.existing(queue_command_file(s, s.port));
  if (!std::filesystem::is_regular_file(path, ec)) {
    stuck = false;
    return;
  }
  if (stuck) return;
  const std::string first = first_line_of(path);
  if (!std::filesystem::remove(path, ec) || ec) {
    stuck = true;
    const std::string why = ec ? ec.message() : std::string("it stays");
    log_text(s, "Queue command file " + s.paths.display(queue_command_file(s, s.port)) +
                    " cannot be deleted (" + why + ") - command not run");
    return;
  }
  s.Timer2.stop();
  s.Timer13.stop();
  s.rx_line = "T" + first;
  s.remote_queue = true;
  serve_command(s);
  s.Timer13.start();
}

// Whole milliseconds the host line takes for `chars` characters, at least 2.
int line_ms(const Station& s, long chars) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(char_time(s) * chars).count();
  return std::max(2, static_cast<int>(ms));
}

// The controller passes the selected port's bytes up until the whole select string has
// reached it, and nothing on the line tells the two ports' bytes apart: bytes on their way
// when the tick decides would be read as the next port's and the rest of the command left
// for the next pass. RTS off holds the controller's output while those arrive (three
// characters: the one on the wire and room for the controller to notice); any that do keep
// the scan on this port, and what the machine sends meanwhile waits in the controller for
// this port's next turn. True when the port can be left, with RTS still off.
bool switch_is_clear(Station& s) {
  s.line.set_rts(false);
  s.switch_guard.one_shot_delay(line_ms(s, 3));
  if (s.mode == Mode::Scanning && s.stopscanning == 0 && s.receiving == 0 &&
      s.line.in_buffer_count() == 0)
    return true;
  s.line.set_rts(true);
  return false;
}

// RTS back on once the select string has reached the controller: earlier, the controller
// would still pass up what the port being left holds.
void release_after_select(Station& s) {
  s.switch_guard.one_shot_delay(line_ms(s, s.line.out_buffer_count() + 1));
  s.line.set_rts(true);
}

}  // namespace

void Timer2_Timer(Station& s) {
  if (s.dump_RX_buffer) {
    s.dump_RX_buffer = false;
    s.line.clear_in_buffer();
  }
  if (s.stopscanning == 1) return;
  // A transfer, a reception or the terminal owns the selected port: a port selection now
  // would send the rest of a program to another machine.
  if (s.mode != Mode::Scanning) return;
  if (s.line.in_buffer_count() > 0) return;  // the machine speaks: stay on this port
  if (s.Xoff_wait) {
    s.line.set_dtr(false);
    sendchar2(s, std::string(1, XOFF_HIGH));
    s.Timer18.one_shot_delay();
    if (s.line.in_buffer_count() > 0) {
      s.line.set_dtr(true);
      sendchar2(s, std::string(1, ctl::DC1));
      return;
    }
  } else if (!switch_is_clear(s)) {
    return;
  }
  ++s.port;
  s.Lynx_request = false;
  if (s.port > NumPorts) {
    if (s.Sable_carbon) Sable_carbon_mod4(s);
    s.port = 1;
    s.Timer3.stop();
  }
  sendchar2(s, s.codes.controller_codes[static_cast<std::size_t>(s.port)]);
  s.Stack.clear();
  s.Drip = 0;
  if (s.Xoff_wait) {
    s.line.set_dtr(true);
    sendchar2(s, std::string(1, ctl::DC1));
  } else {
    release_after_select(s);
  }
  s.window.set_text(Field::PortDisplay, std::to_string(s.port));
  serve_queue_file(s);
}

void Timer5_Timer(Station& s) {
  if (s.inputtext.size() > 1024) s.inputtext.erase(0, s.inputtext.size() - 1024);
  s.window.set_text(Field::Input, s.inputtext);
  // The lamp: show_line_state, once the host line watch has looked at the line.
}

void PDQComm1_OnComm(Station& s, int event_code) {
  if (event_code == SerialPort::kControllerRestartEvent) {
    controller_restart_seen(s);
    return;
  }
  if (event_code != kFlowControlEvent) return;
  s.line.set_dtr(false);
  sendchar2(s, std::string(1, ctl::DC3));
  s.Timer14.start();
}

void Timer14_Timer(Station& s) {
  s.Timer14.stop();
  s.line.set_dtr(true);
  sendchar2(s, std::string(1, ctl::DC1));
}

}  // namespace shoplink
