#pragma once
// The desktop main window: status line, port number and selector, machine name, the data
// going out and coming in, the CTS lamp, Send now and Stop, the four menus; the log viewer,
// the scan failure help and the power-up message beside it.
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>

#include "core/station_snapshot.hpp"
#include "ui/window_state.hpp"

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QWidget;

namespace shoplink {

class Station;
class LogViewer;
class PortTiles;

// The window's commands, given to the station once it exists.
struct WindowCommands {
  std::function<void(Menu)> menu;             // a menu item chosen
  std::function<void(int)> edit;              // Text Editor item 0..4
  std::function<void(int key)> key;           // a key pressed in the window (not the terminal)
  std::function<void(int key)> terminal_key;  // a key typed into the terminal area
  std::function<bool()> terminal_mode;        // keys go to the terminal area
  std::function<void()> terminal_click;
  std::function<void(int delta)> selector;  // the port selector moved
  std::function<void()> send_now, stop;
  std::function<void()> log_viewer_closed;
  std::function<void()> close_requested;  // the window's close box
  // Asked before any way out the operator takes; false keeps the station running (an editor
  // with unsaved edits whose operator chose to go on editing).
  std::function<bool()> may_quit;
  std::function<void()> scan_failure_editor, scan_failure_terminal, scan_failure_exit;
  std::function<void()> history;            // View > History...: the program history window
  std::function<void(int port)> port_tile;  // a port's tile clicked
};

class QtWindow final : public QMainWindow, public WindowModel {
 public:
  QtWindow();
  ~QtWindow() override;
  void set_commands(WindowCommands c) { commands_ = std::move(c); }
  // The command of View > History..., given when the station has a journal.
  void set_history_command(std::function<void()> c) { commands_.history = std::move(c); }

  void set_title(const std::string& title) override;
  void set_status(const std::string& text) override;
  void set_text(Field f, const std::string& text) override;
  void set_visible(Element e, bool visible) override;
  void set_editable(Field f, bool editable) override;
  void set_menu_enabled(Menu m, bool enabled) override;
  void set_menu_checked(Menu m, bool checked) override;
  void set_cts_lamp(bool lit) override;
  void set_line_lamp(LineLamp lamp) override;
  void center_three_quarters() override;
  WindowGeometry geometry() const override;
  void set_geometry(const WindowGeometry& g) override;
  WindowState window_state() const override;
  void show_splash(bool shown) override;
  void show_scan_failure(const std::string& help_text) override;
  void close_secondary_windows() override;
  void log_viewer_append(const std::string& text) override;
  void log_viewer_load(const std::string& text) override;
  void show_log_viewer(bool shown) override;
  // The port tiles show this picture of the station (the station's snapshots; at most one
  // every kTileRefresh).
  void show_ports(const StationSnapshot& snap);
  static constexpr Duration kTileRefresh = std::chrono::milliseconds(40);

  // For tests and the screenshot: the widgets by their names in the window.
  QAction* action(Menu m) const { return actions_.at(m); }
  QAction* history_action() const { return history_action_; }
  QPlainTextEdit* terminal_area() const { return term_txt_; }
  QPlainTextEdit* input_area() const { return input_txt_; }
  QScrollBar* selector() const { return VScroll1_; }
  QPushButton* send_now_button() const { return Command1_; }
  QPushButton* stop_button() const { return Command2_; }
  QWidget* log_viewer() const;
  QWidget* scan_failure_window() const { return boot_error_; }
  QWidget* splash_window() const { return splash_; }
  QLineEdit* status_field() const { return status_txt_; }
  QLabel* line_lamp_label() const { return CTS_LED_; }
  QLineEdit* port_field() const { return port_txt_; }
  QLineEdit* machine_field() const { return Machine_txt_; }
  PortTiles* port_tiles() const { return tiles_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void build_menus();
  // A key pressed in this window: the station's (true) or Qt's own (menus, Alt).
  bool station_key(QObject* watched, const QKeyEvent& k);
  QWidget* widget_of(Element e) const;
  WindowCommands commands_;
  std::map<Menu, QAction*> actions_;
  QAction* history_action_ = nullptr;
  QLineEdit *status_txt_, *port_txt_, *Machine_txt_;
  QScrollBar* VScroll1_;
  QPlainTextEdit *term_txt_, *input_txt_;
  QLabel *status_label_, *port_label_, *label_out_, *label_in_, *CTS_LED_;
  QWidget* line_;
  QPushButton *Command1_, *Command2_;
  PortTiles* tiles_;
  LogViewer* viewer_;
  QWidget* boot_error_ = nullptr;
  QWidget* splash_ = nullptr;
  std::map<Field, std::string> shown_;  // what each text area shows, to append instead of redraw
  // The two text areas are redrawn at most every kAreaRefreshMs: a transfer sets the terminal
  // text once a program line, and a redraw per line kept the paced line waiting on the paint.
  static constexpr int kAreaRefreshMs = 40;
  QTimer* area_refresh_ = nullptr;
  bool term_dirty_ = false, input_dirty_ = false;
  void refresh_areas();
  bool closing_ = false;
};

// Key codes as the station reads them: the character's code 0..255 (Enter 13, Esc 27, Ctrl+
// letter 1..26); -1 for keys that type no character.
int station_key_code(const QKeyEvent& e);

}  // namespace shoplink
