#include "station/operator_commands.hpp"

#include <cstdio>

#include "base/file_table.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "station/startup.hpp"

namespace shoplink {

namespace {
void show_io(Station& s) {
  for (Element e : {Element::PortSelector, Element::MachineEntry, Element::TerminalDisplay,
                    Element::InputDisplay, Element::TerminalLabel, Element::InputLabel})
    s.window.set_visible(e, true);
}

// What follows the last backslash.
std::string bare_name(const std::string& path) {
  const auto cut = path.find_last_of('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}
}  // namespace

void mode_terminal_Click(Station& s) {
  s.password_entry = false;
  s.mode = Mode::Terminal;
  if (s.Openfile != 0) s.files.close(s.Openfile);
  s.Timer8.stop();
  s.Timer2.stop();
  show_io(s);
  s.window.set_text(Field::MachineEntry, s.cur().machine_name);
  // The port the keys go to, also when no scan ever showed one (after a failed start-up scan).
  s.window.set_text(Field::PortDisplay, std::to_string(s.port));
  s.inputtext.clear();
  s.window.set_text(Field::Input, "");
  s.window.set_editable(Field::Terminal, true);
  s.window.set_text(Field::Terminal, "");
  s.window.set_visible(Element::SendNowButton, false);
  s.window.set_visible(Element::StopButton, false);
  s.window.set_status(" Terminal mode ");
}

void term_txt_KeyPress(Station& s, int k) {
  k &= 0xFF;
  const int type = s.cur().code_type;
  const auto& table =
      s.codes.send[static_cast<std::size_t>(type >= 0 && type < kCodeTypes ? type : 0)];
  std::string out(1, static_cast<char>(table[static_cast<std::size_t>(k)]));
  if (k == 13) out += '\n';
  sendchar2(s, out);
  std::string shown;
  if (k == 13) {
    shown = "\r\n";
  } else if (k >= 1 && k <= 26) {
    shown = {'^', static_cast<char>(k + 64)};
  } else if (k == 27) {
    shown = "<esc>";
  } else if (k >= 28 && k <= 31) {
    shown = "<0" + std::to_string(k) + ">";
  } else if (k != 0) {
    shown = std::string(1, static_cast<char>(k));
  }
  s.window.set_text(Field::Terminal, s.window.text(Field::Terminal) + shown);
}

void term_txt_Click(Station& s) {
  s.window.set_text(Field::Terminal, "");
  s.inputtext.clear();
  s.window.set_text(Field::Input, "");
}

void VScroll1_Change(Station& s, int delta) {
  const int step = delta < 0 ? 1 : delta > 0 ? -1 : 0;
  if (step == 0) return;
  int p = s.port + step;
  if (p > NumPorts) p = 1;
  if (p < 1) p = NumPorts;
  s.port = static_cast<std::int16_t>(p);
  s.window.set_text(Field::PortDisplay, std::to_string(p));
  port_txt_Change(s);
  if (NumPorts > 1 && s.line.is_open())
    sendchar2(s, s.codes.controller_codes[static_cast<std::size_t>(p)]);
}

void port_txt_Change(Station& s) {
  if (s.MACHSELECT.empty() && s.mode != Mode::Scanning)
    s.window.set_text(Field::MachineEntry, s.cur().machine_name);
}

void mode_exit_Click(Station& s) {
  // Before the files close: an upload's file still tells what to put back.
  abandon_transfers(s);
  if (s.Openfile != 0) s.files.close(s.Openfile);
  s.end_program(0);
}

void conf_password_Click(Station& s) {
  s.password_entry = true;
  s.MACHSELECT.clear();
  s.window.set_visible(Element::MachineEntry, false);
  if (s.Openfile != 0) s.files.close(s.Openfile);
  s.Timer1.stop();
  s.Timer2.stop();
  s.window.set_status("Enter Password:");
  for (Element e : {Element::StopButton, Element::TerminalDisplay, Element::InputDisplay,
                    Element::TerminalLabel, Element::InputLabel})
    s.window.set_visible(e, false);
}

void view_show_Click(Station& s) {
  s.window.set_menu_checked(Menu::view_show, !s.window.menu_checked(Menu::view_show));
  s.showdata = static_cast<std::int16_t>(~s.showdata);
  s.window.set_text(Field::Terminal, "");
  s.inputtext.clear();
  s.window.set_text(Field::Input, "");
}

void View_Log_Click(Station& s) {
  if (s.window.menu_checked(Menu::View_Log)) {
    s.window.set_menu_checked(Menu::View_Log, false);
    s.window.show_log_viewer(false);
    return;
  }
  s.window.set_menu_checked(Menu::View_Log, true);
  s.window.show_log_viewer(true);
  s.window.log_viewer_load("Loading Activity file ...");
  std::string text;
  if (!s.config.log_path.empty()) {
    std::FILE* in = std::fopen(s.paths.existing(s.config.log_path).c_str(), "rb");
    std::string line;
    // One line at a time, servicing the window and the line between them.
    while (in != nullptr && FileTable::read_line(in, line)) {
      text += line + "\r\n";
      s.loop.yield();
      if (!s.window.menu_checked(Menu::View_Log)) break;  // closed meanwhile
    }
    if (in != nullptr) std::fclose(in);
    if (!s.window.menu_checked(Menu::View_Log)) return;
  }
  s.window.log_viewer_load(text);
}

void log_viewer_closed(Station& s) {
  s.window.set_menu_checked(Menu::View_Log, false);
}

EditorLaunch editor_launch(const Station& s, EditCommand c) {
  EditorLaunch l;
  l.program = s.station_file(kEditorProgram);
  const std::string dir = "[" + s.station_dir() + "]";
  switch (c) {
    case EditCommand::shoplink_files:
      l.args = {"fromdnc3"};
      break;
    case EditCommand::ascii_files:
      l.args = {"fromdnc1"};
      break;
    case EditCommand::txt_files:
      l.args = {"fromdnc2"};
      break;
    case EditCommand::dncdata:
      l.args = {"fromdnc1", dir, bare_name(s.config.dncdata_name)};
      break;
    case EditCommand::system_log:
      l.args = {"fromdnc1", dir, bare_name(s.config.log_path)};
      break;
  }
  return l;
}

void edit_Click(Station& s, EditCommand c) {
  const EditorLaunch l = editor_launch(s, c);
  s.platform.start_detached(s.paths.host_path(l.program).string(), l.args, false);
}

}  // namespace shoplink
