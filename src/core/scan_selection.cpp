#include "core/scan_selection.hpp"

#include "core/station.hpp"
#include "core/station_reports.hpp"

namespace shoplink {

void mode_scan_Click(Station& s) {
  // A manual receive given up before any data: its "Waiting for data" is over.
  if (s.mode == Mode::Receiving && s.receiving == 0) s.inputtext.clear();
  s.password_entry = false;
  // Every way back to scanning passes here: a transfer whose end went unreported ends now.
  report_transfer_ended(s, TransferResult::Stopped, "left for scanning");
  s.mode = Mode::Scanning;
  s.xoff = 0;
  if (s.Openfile != 0) s.files.close(s.Openfile);
  s.Timer6.set_interval(5000);
  s.stopscanning = 0;
  for (Menu m :
       {Menu::conf_host, Menu::conf_output, Menu::conf_terminal, Menu::conf_password_change})
    s.window.set_menu_enabled(m, false);
  // The selector too: a served request hid it, and the operator steps the ports with it.
  for (Element e : {Element::TerminalDisplay, Element::InputDisplay, Element::TerminalLabel,
                    Element::InputLabel, Element::PortSelector})
    s.window.set_visible(e, true);
  s.window.set_text(Field::Terminal, "");
  for (Element e : {Element::TerminalScrollBar, Element::MachineEntry, Element::SendNowButton,
                    Element::StopButton})
    s.window.set_visible(e, false);
  s.window.set_status(" Scanning... ");
  s.dump_RX_buffer = true;
  s.Timer2.start();
}

}  // namespace shoplink
