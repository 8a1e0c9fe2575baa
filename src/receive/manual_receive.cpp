#include "receive/manual_receive.hpp"

#include <cerrno>
#include <cstdio>

#include "base/text.hpp"
#include "core/scan_selection.hpp"
#include "core/station.hpp"
#include "transmit/manual_send.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {
void give_up(Station& s) {
  s.inputtext.clear();
  mode_scan_Click(s);
}
}  // namespace

void mode_receive_Click(Station& s) {
  s.password_entry = false;
  s.mode = Mode::Terminal;
  if (s.Openfile != 0) s.files.close(s.Openfile);
  s.Timer8.stop();
  s.Timer2.stop();
  for (Menu m :
       {Menu::conf_host, Menu::conf_output, Menu::conf_terminal, Menu::conf_password_change})
    s.window.set_menu_enabled(m, false);
  for (Element e : {Element::TerminalDisplay, Element::InputDisplay, Element::TerminalLabel,
                    Element::InputLabel, Element::PortSelector, Element::MachineEntry})
    s.window.set_visible(e, true);
  s.window.set_text(Field::MachineEntry, s.cur().machine_name);
  s.window.set_text(Field::PortDisplay, std::to_string(s.port));
  s.window.set_visible(Element::SendNowButton, false);
  s.window.set_visible(Element::StopButton, false);
  s.inputtext.clear();
  s.window.set_text(Field::Terminal, "");

  if (!s.cur().extension.empty()) s.filetype = 4;
  // The dialog acts on the port the scan happened to be on: it says which.
  const std::string source = port_and_machine(s);
  s.window.set_status(" Scanning paused - choose the file to receive from " + source + " ");
  const auto chosen = s.dialogs.save_file({s.paths.host_path(s.cur().receive_dir).string(), "",
                                           transfer_filter(s.cur().extension), s.filetype,
                                           "Receive a program from " + source});
  if (!chosen || chosen->empty()) {
    give_up(s);
    return;
  }
  s.Filename = *chosen;
  s.filetype = 1;
  const std::string lower = lcase(s.Filename);
  if (contains(lower, ".txt")) s.filetype = 2;
  if (contains(lower, "prog") && s.Filename.size() == 8) s.filetype = 3;

  std::FILE* probe = std::fopen(s.paths.existing(s.Filename).c_str(), "rb");
  const int err = errno;
  if (probe != nullptr) {
    std::fclose(probe);
    if (!s.dialogs.ask_yes_no("SHOPLINK warning", "Overwrite existing file?")) {
      give_up(s);
      return;
    }
  } else if (err != ENOENT) {
    give_up(s);
    return;
  }
  // The file to be written and the wait, also when it replaces one (the answer Yes).
  s.inputtext = s.paths.display(s.Filename) + "\r\nWaiting for data ...\r\n";
  s.window.set_text(Field::Input, s.inputtext);
  s.window.set_status(" Receiving file... ");
  s.mode = Mode::Receiving;
}

void abort_receive_wait(Station& s) {
  s.inputtext.clear();  // no longer waiting for data
  s.platform.beep();
  s.window.set_status("RX aborted...");
  s.Timer4.start();
  set_transfer_menus(s, true);
}

}  // namespace shoplink
