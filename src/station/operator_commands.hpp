#pragma once
// The window's own commands: terminal mode and its keys, the port selector, Enter Password,
// the View menu, Exit and the Text Editor commands. The window calls these; they know no
// toolkit.
#include <string>
#include <vector>

namespace shoplink {
class Station;

void mode_terminal_Click(Station& s);
// A key typed into the terminal area, by its character code 0..255.
void term_txt_KeyPress(Station& s, int k);
void term_txt_Click(Station& s);
// The selector moved by `delta` steps of its value (negative: its up arrow, the next port).
void VScroll1_Change(Station& s, int delta);
void port_txt_Change(Station& s);
void mode_exit_Click(Station& s);
void conf_password_Click(Station& s);
void view_show_Click(Station& s);
void View_Log_Click(Station& s);
// The viewer closed by its own close box: the check mark follows.
void log_viewer_closed(Station& s);

// The Text Editor menu's commands, in menu order.
enum class EditCommand { shoplink_files, ascii_files, txt_files, dncdata, system_log };
// The station's editor program and its arguments for a command: the kind ("fromdnc1/2/3")
// and, for DNCDATA and the system log, the bracketed program directory and the file name.
struct EditorLaunch {
  std::string program;
  std::vector<std::string> args;
};
EditorLaunch editor_launch(const Station& s, EditCommand c);
void edit_Click(Station& s, EditCommand c);

// The station's own editor, in the station directory.
inline constexpr const char* kEditorProgram = "editor";

}  // namespace shoplink
