#pragma once
// What the station logic needs of its operator window, its dialogs and the platform.
// Implementations: headless (standard output / standard error), a recorder for tests,
// and the desktop window.
#include <optional>
#include <string>
#include <vector>

namespace shoplink {

// The window's text fields.
enum class Field {
  Terminal,      // terminal text area
  Input,         // incoming-data display
  MachineEntry,  // machine name typed by the operator / of the port being served
  PortDisplay,   // the number of the port being served or scanned
};

// Elements that are shown and hidden.
enum class Element {
  TerminalDisplay,
  InputDisplay,
  TerminalLabel,
  InputLabel,
  TerminalScrollBar,
  MachineEntry,
  PortSelector,
  SendNowButton,
  StopButton,
  DividingLine,
  CtsLamp,
};

// Menu items, by their names in the window.
enum class Menu {
  mode_scan,
  mode_send,
  mode_receive,
  mode_terminal,
  mode_exit,
  conf_password,
  conf_host,
  conf_output,
  conf_terminal,
  conf_password_change,
  View_Log,
  view_show,
};

struct WindowGeometry {
  int left = 0, top = 0, width = 0, height = 0;
};

enum class WindowState { Normal, Minimized, Maximized };

// The host line: CTS off or on, its network connection lost and being made again, or dead
// (it takes no output).
enum class LineLamp { CtsOff, CtsOn, Reconnecting, Dead };

class MainWindow {
 public:
  virtual ~MainWindow() = default;
  virtual void set_title(const std::string& title) = 0;
  virtual void set_status(const std::string& text) = 0;
  virtual void set_text(Field f, const std::string& text) = 0;
  virtual std::string text(Field f) const = 0;
  virtual void set_visible(Element e, bool visible) = 0;
  virtual bool visible(Element e) const = 0;
  virtual void set_editable(Field f, bool editable) = 0;
  virtual void set_menu_enabled(Menu m, bool enabled) = 0;
  virtual void set_menu_checked(Menu m, bool checked) = 0;
  virtual bool menu_checked(Menu m) const = 0;
  virtual void set_cts_lamp(bool lit) = 0;
  // The lamp shows the host line as a whole: a line that is down shows that instead of CTS.
  virtual void set_line_lamp(LineLamp lamp) = 0;
  virtual const std::string& status() const = 0;
  // Three quarters of the screen, centred.
  virtual void center_three_quarters() = 0;
  virtual WindowGeometry geometry() const = 0;
  virtual void set_geometry(const WindowGeometry& g) = 0;
  virtual WindowState window_state() const = 0;
  // The power-up message and the scan failure screen.
  virtual void show_splash(bool shown) = 0;
  virtual void show_scan_failure(const std::string& help_text) = 0;
  virtual void close_secondary_windows() = 0;
  // The system log viewer (open while View_Log is checked): add text at the end, or replace
  // the whole text; either way the caret ends at the end so the newest entries stay in view.
  virtual void log_viewer_append(const std::string& text) = 0;
  virtual void log_viewer_load(const std::string& text) = 0;
  // Opens (above the other windows, without blocking) or closes the log viewer.
  virtual void show_log_viewer(bool shown) = 0;
};

enum class Icon { None, Exclamation, Warning, Information, Question };

// A file dialog: where it opens, the name shown, the filter string ("Text (*.txt)|*.txt|..."
// pairs of caption and pattern) and which of its filters is selected (1-based).
struct FileDialogRequest {
  std::string dir;
  std::string name;
  std::string filter;
  int filter_index = 1;
  std::string title;  // what the dialog is for; empty: the toolkit's own ("Open", "Save As")
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void message_box(const std::string& title, const std::string& text, Icon icon) = 0;
  virtual bool ask_yes_no(const std::string& title, const std::string& text) = 0;
  // The chosen path; nothing when cancelled. The save dialog does not ask about replacing a
  // file itself: the caller asks.
  virtual std::optional<std::string> open_file(const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> save_file(const FileDialogRequest& request) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  virtual void beep() = 0;
  // Starts a program without waiting, with an argument vector (never through a shell).
  virtual bool start_detached(const std::string& program, const std::vector<std::string>& args,
                              bool minimized) = 0;
};

}  // namespace shoplink
