#include "gui/window_commands.hpp"

#include "core/scan_selection.hpp"
#include "core/station.hpp"
#include "gui/editor_window.hpp"
#include "gui/qt_window.hpp"
#include "receive/manual_receive.hpp"
#include "station/operator_commands.hpp"
#include "station/startup.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink {

void connect_window(QtWindow& window, Station& s) {
  WindowCommands c;
  c.menu = [&s](Menu m) {
    switch (m) {
      case Menu::mode_scan:
        mode_scan_Click(s);
        break;
      case Menu::mode_send:
        mode_send_Click(s);
        break;
      case Menu::mode_receive:
        mode_receive_Click(s);
        break;
      case Menu::mode_terminal:
        mode_terminal_Click(s);
        break;
      case Menu::mode_exit:
        if (close_editor_windows()) mode_exit_Click(s);
        break;
      case Menu::conf_password:
        conf_password_Click(s);
        break;
      case Menu::view_show:
        view_show_Click(s);
        break;
      case Menu::View_Log:
        View_Log_Click(s);
        break;
      default:  // the Configure items that are never available
        break;
    }
  };
  c.edit = [&s](int i) { edit_Click(s, static_cast<EditCommand>(i)); };
  c.key = [&s](int k) { key_press(s, k); };
  // In terminal mode every key goes to the machine.
  c.terminal_key = [&s](int k) { term_txt_KeyPress(s, k); };
  c.terminal_mode = [&s] { return s.mode == Mode::Terminal; };
  c.terminal_click = [&s] { term_txt_Click(s); };
  c.selector = [&s](int delta) { VScroll1_Change(s, delta); };
  c.send_now = [&s] { Command1_Click(s); };
  c.stop = [&s] { Command2_Click(s); };
  c.log_viewer_closed = [&s] { log_viewer_closed(s); };
  c.close_requested = [&s] { mode_exit_Click(s); };
  c.may_quit = [] { return close_editor_windows(); };
  c.scan_failure_editor = [&s] { edit_Click(s, EditCommand::dncdata); };
  c.scan_failure_terminal = [&s] { mode_terminal_Click(s); };
  c.scan_failure_exit = [&s] {
    if (close_editor_windows()) mode_exit_Click(s);
  };
  c.port_tile = [&s](int port) { port_tile_Click(s, port); };
  window.set_commands(std::move(c));
}

PortTilesFeed::PortTilesFeed(QtWindow& window, Station& s)
    : s_(s), snapshots_(s, QtWindow::kTileRefresh) {
  // Published on the station's thread, which here is Qt's: the tiles are drawn at once.
  snapshots_.on_publish(
      [&window](const std::shared_ptr<const StationSnapshot>& snap) { window.show_ports(*snap); });
  window.show_ports(*snapshots_.latest());
  s_.events.add(&snapshots_);
}

PortTilesFeed::~PortTilesFeed() {
  s_.events.remove(&snapshots_);
}

}  // namespace shoplink
