#include "transmit/manual_send.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/scan_selection.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "transmit/send_file.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace fs = std::filesystem;

std::string port_and_machine(const Station& s) {
  const std::string& name = s.cur().machine_name;
  return "port " + std::to_string(s.port) + (name.empty() ? "" : " - " + name);
}

std::string transfer_filter(const std::string& extension) {
  std::string f = "All Files (*.*)|*.*|Text Files (*.txt)|*.txt|SHOPLINK Files (PROG*.*)|PROG*.*";
  if (!extension.empty()) f += "|(" + ucase(extension) + ") Files |*" + ucase(extension);
  return f;
}

namespace {

constexpr const char* kMessageTitle = "SHOPLINK message";

void undo_send(Station& s) {
  s.window.set_visible(Element::SendNowButton, false);
  s.window.set_text(Field::Terminal, "");
  s.xoff = 0;
  mode_scan_Click(s);
}

// Numbers with a leading blank for positive values, truth values as True or False.
std::string num(long long v) {
  return v >= 0 ? " " + std::to_string(v) : std::to_string(v);
}
std::string truth(bool b) {
  return b ? "True" : "False";
}

void write_trace(Station& s) {
  const fs::path p = s.paths.host_path(s.station_file(kTraceFile));
  int error = 0;
  std::FILE* f = open_for_write(p, WriteMode::Truncate, error);
  if (f == nullptr) return;  // a snapshot that cannot be written never holds up the stop
  const bool open = s.line.is_open();
  const std::string lines[] = {
      truth(s.Timer3.enabled()),
      num(s.Timer3.interval()),
      num(s.send_aborted),
      num(s.mode),
      num(open ? static_cast<long long>(s.line.out_buffer_count()) : 0),
      num(open ? static_cast<long long>(s.line.in_buffer_count()) : 0),
      truth(open && s.line.cts()),
      num(s.sending),
      num(s.Drip),
      num(s.port),
      s.cur().code_line,
      num(s.send_inhibit),
      num(s.xoff),
  };
  for (const auto& l : lines) std::fprintf(f, "%s\r\n", l.c_str());
  std::fclose(f);
}

}  // namespace

void mode_send_Click(Station& s) {
  s.password_entry = false;
  // A manual receive given up for this before any data: its wait text is over.
  if (s.mode == Mode::Receiving && s.receiving == 0) s.inputtext.clear();
  s.mode = Mode::Sending;
  if (s.Openfile != 0) s.files.close(s.Openfile);
  s.Timer8.stop();
  s.Timer2.stop();
  for (Menu m : {Menu::conf_host, Menu::conf_output, Menu::conf_terminal})
    s.window.set_menu_enabled(m, false);
  for (Element e : {Element::TerminalDisplay, Element::InputDisplay, Element::TerminalLabel,
                    Element::InputLabel, Element::TerminalScrollBar, Element::MachineEntry})
    s.window.set_visible(e, true);
  s.window.set_text(Field::MachineEntry, s.cur().machine_name);
  s.window.set_text(Field::PortDisplay, std::to_string(s.port));
  s.window.set_text(Field::Terminal, "");
  s.window.set_visible(Element::SendNowButton, false);
  s.window.set_visible(Element::StopButton, false);

  // The dialog acts on the port the scan happened to be on: it says which.
  const std::string target = port_and_machine(s);
  s.window.set_status(" Scanning paused - choose the program to send to " + target + " ");
  FileDialogRequest req{s.paths.host_path(s.cur().send_dir).string(), "",
                        transfer_filter(s.cur().extension), s.filetype,
                        "Send a program to " + target};
  if (!s.cur().extension.empty()) {
    s.filetype = 4;
    req.filter_index = 4;
  }
  const auto chosen = s.dialogs.open_file(req);
  if (!chosen || chosen->empty()) {
    undo_send(s);
    return;
  }
  s.Filename = *chosen;
  s.filetype = 1;
  const std::string lower = lcase(s.Filename);
  if (contains(lower, ".txt")) s.filetype = 2;
  if (contains(lower, "prog") && !contains(s.Filename, ".")) s.filetype = 3;

  s.window.set_text(Field::Terminal, s.paths.display(s.Filename) + "\r\n(waiting for Xon...)\r\n");
  s.window.set_visible(Element::SendNowButton, true);
  s.xoff = 1;
  s.window.set_status(" Sending file... ");

  std::error_code ec;
  const fs::path p = s.paths.existing(s.Filename);
  const bool exists = fs::exists(p, ec);
  const auto size = exists ? fs::file_size(p, ec) : 0;
  if (!exists) {
    s.dialogs.message_box(kMessageTitle, "File not found", Icon::Exclamation);
    undo_send(s);
  } else if (ec || size == 0) {
    s.dialogs.message_box(kMessageTitle, "File size = zero", Icon::Exclamation);
    undo_send(s);
  } else {
    report_transfer_began(s, TransferKind::ManualSend, s.Filename);
  }
  // Otherwise the machine's Xon starts the transmission, or Send now does.
}

void Command1_Click(Station& s) {
  s.platform.beep();
  s.window.set_visible(Element::SendNowButton, false);
  s.xoff = 0;
  s.sending = 1;
  s.window.set_visible(Element::TerminalScrollBar, false);
  s.window.set_visible(Element::MachineEntry, true);
  log_event(s, 6);
  s.window.set_text(Field::Terminal, "sending " + s.paths.display(s.Filename) + "\r\n");
  s.TX_binary = false;  // Send now always sends as text
  sendfile(s);
}

void Command2_Click(Station& s) {
  write_trace(s);
  s.window.set_visible(Element::StopButton, false);
  s.send_aborted = 1;
  if (s.line.is_open()) {
    s.line.clear_out_buffer();
    s.line.clear_in_buffer();
  }
  s.window.set_status("Send aborted");
  log_event(s, 7);
  report_transfer_ended(s, TransferResult::Stopped, "Stop button");
  s.Timer4.start();
  set_transfer_menus(s, true);
  s.platform.beep();
}

}  // namespace shoplink
