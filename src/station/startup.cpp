#include "station/startup.hpp"

#include <fstream>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "config/dncdata.hpp"
#include "config/leader_trailer.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/manual_receive.hpp"
#include "receive/reception.hpp"
#include "receive/upload_file.hpp"
#include "station/customer_profile.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/manual_send.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

// "\Scanrate": line 1 the scan tick (only above 100 ms), line 2 the Xoff hold per port.
void read_scanrate(Station& s) {
  std::ifstream in(s.paths.existing(s.station_file(kScanrateFile)), std::ios::binary);
  if (!in) return;
  std::string line;
  if (!std::getline(in, line)) return;
  const double rate = val(line);
  if (rate > 100) s.Timer2.set_interval(static_cast<int>(round_int(rate)));
  if (!std::getline(in, line)) return;
  const double hold = val(line);
  if (round_int(hold) != 0) {
    s.Timer18.set_interval(static_cast<int>(round_int(hold)));
    s.Xoff_wait = true;
  }
}

// The window placement of the last run: left, top, width, height, one a line.
void read_screen_status(Station& s) {
  std::ifstream in(s.paths.existing(s.station_file(kScreenStatusFile)), std::ios::binary);
  if (!in) return;
  int v[4];
  std::string line;
  for (int& x : v) {
    if (!std::getline(in, line)) return;
    x = static_cast<int>(round_int(val(line)));
  }
  s.window.set_geometry({v[0], v[1], v[2], v[3]});
}

void write_screen_status(Station& s) {
  const auto g = s.window.geometry();
  std::string text;
  for (int x : {g.left, g.top, g.width, g.height}) text += str(x) + "\r\n";
  int error = 0;
  if (std::FILE* out = open_for_write(s.paths.existing(s.station_file(kScreenStatusFile)),
                                      WriteMode::Truncate, error)) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }
}

void set_config_menus(Station& s, bool enabled) {
  for (Menu m :
       {Menu::conf_host, Menu::conf_output, Menu::conf_terminal, Menu::conf_password_change})
    s.window.set_menu_enabled(m, enabled);
}

}  // namespace

void startup(Station& s) {
  s.window.set_title("SHOPLINK" + str(NumPorts) + " port communications system");
  s.window.center_three_quarters();
  s.port = 1;
  s.showdata = 1;
  s.filetype = 1;
  s.priority = 20;
  read_scanrate(s);
  s.Timer5.start();
  s.Timer13.start();
  s.Timer19.start();
  set_config_menus(s, false);
  read_screen_status(s);
  s.window.set_visible(Element::TerminalDisplay, true);
  s.window.set_visible(Element::InputDisplay, true);
  s.window.set_status(" Configuring system ");
  load_customer_profile(s);
  read_leaders_trailers(s);
  if (!read_dncdata(s)) return;  // the program ends: no DNCDATA, or a broken one
  report_station_started(s);
  // Uploads cut short by the last stop are not programs; the old programs are still there.
  // One stopped in the middle of its commit is finished or undone.
  finish_interrupted_uploads(s);
  build_code_tables(s);
  s.Timer1.start();
}

void abandon_transfers(Station& s) {
  if (s.loop.quit_requested()) return;  // the first way out has done it
  abandon_transmission(s);
  abandon_reception(s);
}

void request_stop(Station& s) {
  abandon_transfers(s);
  s.stop_requested = true;
  s.send_aborted = 1;  // a transfer on the stack ends as the Stop button ends it
  s.loop.quit();
}

void shutdown(Station& s) {
  if (s.shut_down) return;
  s.shut_down = true;
  s.files.close_all();
  if (s.line.is_open()) {
    s.line.clear_out_buffer();
    s.line.clear_in_buffer();
    s.line.close();
  }
  report_station_stopping(s);
  log_event(s, 16);
  s.window.close_secondary_windows();
  if (s.window.window_state() == WindowState::Normal) write_screen_status(s);
}

void Timer8_Timer(Station& s) {
  // The keyboard hold ends once. Left running it would restart the scan every 10 s and
  // clear `receiving` under whatever transfer is running by then.
  s.Timer8.stop();
  s.window.set_text(Field::MachineEntry, "");
  s.stopscanning = 0;
  // A request taken from the selected port owns the way back to scanning.
  if (s.mode != Mode::Scanning) return;
  s.Timer2.start();
  s.receiving = 0;
}

void select_port(Station& s, int n) {
  s.port = static_cast<std::int16_t>(n);
  s.MACHSELECT.clear();
  sendchar2(s, s.codes.controller_codes[static_cast<std::size_t>(n)]);
  s.window.set_text(Field::PortDisplay, std::to_string(n));
  s.stopscanning = 1;
  s.Timer8.start();
  s.Timer2.stop();
}

namespace {
constexpr int kEnter = 13, kEsc = 27, kBackspace = 8;

// Typing a machine's name or port number while scanning.
void machine_select_key(Station& s, int key) {
  if (s.MACHSELECT.empty()) s.machselect_digits_only = true;
  if (s.mode == Mode::Scanning) {
    if (key == kEnter) {
      if (s.MACHSELECT.empty()) return;
      for (int n = 1; n <= NumPorts; ++n) {
        if (ucase(s.ports[static_cast<std::size_t>(n)].machine_name) == s.MACHSELECT) {
          select_port(s, n);
          return;
        }
      }
      const double number = val(s.MACHSELECT);
      if (s.machselect_digits_only && number > 0 && number <= NumPorts) {
        select_port(s, static_cast<int>(number));
        return;
      }
      s.MACHSELECT.clear();
    } else if (key == kEsc) {
      s.MACHSELECT.clear();
    } else if (key >= 'a' && key <= 'z') {
      s.MACHSELECT.push_back(static_cast<char>(key - 'a' + 'A'));
      s.machselect_digits_only = false;
    } else if (key >= '0' && key <= '9') {
      s.MACHSELECT.push_back(static_cast<char>(key));
    } else if (key == kBackspace) {
      if (!s.MACHSELECT.empty()) s.MACHSELECT.pop_back();
    } else {
      s.MACHSELECT.push_back(static_cast<char>(key));
      s.machselect_digits_only = false;
    }
    s.window.set_text(Field::MachineEntry, s.MACHSELECT);
    s.window.set_visible(Element::MachineEntry, true);
  }
}
}  // namespace

void key_press(Station& s, int key) {
  // The password state lasts until a Mode command: what is typed there selects no port (a
  // selection would quietly resume scanning 10 s later under "Enter Password:").
  if (!s.password_entry) machine_select_key(s, key);
  // The buttons of a manual transfer answer Enter and Esc in every mode.
  if (key == kEnter && s.window.visible(Element::SendNowButton)) {
    Command1_Click(s);
  } else if (key == kEsc &&
             (s.window.visible(Element::SendNowButton) || s.window.visible(Element::StopButton))) {
    Command2_Click(s);
  }
  if (key == kEsc && s.mode == Mode::Receiving && s.receiving == 0) abort_receive_wait(s);
}

void port_tile_Click(Station& s, int n) {
  // Typed keys select only while scanning, and never in the password state.
  if (s.password_entry || s.mode != Mode::Scanning || n < 1 || n > NumPorts) return;
  // What was half typed gives way to the click. Only the selection: Enter's other meaning,
  // Send now, is no part of a click on a tile.
  s.MACHSELECT.clear();
  for (char c : std::to_string(n)) machine_select_key(s, c);
  machine_select_key(s, kEnter);
}

}  // namespace shoplink
