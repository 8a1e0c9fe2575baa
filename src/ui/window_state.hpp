#pragma once
// The plain state every MainWindow implementation keeps: texts, visibility, menus.
#include <array>
#include <map>

#include "base/text.hpp"
#include "ui/main_window.hpp"

namespace shoplink {

class WindowModel : public MainWindow {
 public:
  void set_title(const std::string& title) override { title_ = title; }
  // The status line shows control characters in the <1B> form.
  void set_status(const std::string& text) override { status_ = shoplink::visible(text); }
  void set_text(Field f, const std::string& text) override { texts_[f] = text; }
  std::string text(Field f) const override {
    auto it = texts_.find(f);
    return it == texts_.end() ? std::string() : it->second;
  }
  void set_visible(Element e, bool v) override { visible_[e] = v; }
  void set_editable(Field f, bool e) override { editable_[f] = e; }
  void set_menu_enabled(Menu m, bool e) override { menu_enabled_[m] = e; }
  void set_menu_checked(Menu m, bool c) override { menu_checked_[m] = c; }
  bool menu_checked(Menu m) const override {
    auto it = menu_checked_.find(m);
    return it != menu_checked_.end() && it->second;
  }
  void set_cts_lamp(bool lit) override {
    cts_lamp_ = lit;
    line_lamp_ = lit ? LineLamp::CtsOn : LineLamp::CtsOff;
  }
  void set_line_lamp(LineLamp lamp) override {
    line_lamp_ = lamp;
    cts_lamp_ = lamp == LineLamp::CtsOn;
  }
  LineLamp line_lamp() const { return line_lamp_; }
  void center_three_quarters() override { geometry_ = {240, 135, 1440, 810}; }
  WindowGeometry geometry() const override { return geometry_; }
  void set_geometry(const WindowGeometry& g) override { geometry_ = g; }
  WindowState window_state() const override { return state_; }
  void show_splash(bool shown) override { splash_ = shown; }
  void show_scan_failure(const std::string& help_text) override {
    scan_failure_ = true;
    scan_failure_text_ = help_text;
  }
  void close_secondary_windows() override {
    splash_ = false;
    scan_failure_ = false;
  }
  // No viewer window here.
  void log_viewer_append(const std::string&) override {}
  void log_viewer_load(const std::string&) override {}
  void show_log_viewer(bool) override {}

  // Read back (tests, the desktop view).
  const std::string& title() const { return title_; }
  const std::string& status() const override { return status_; }
  bool visible(Element e) const override {
    auto it = visible_.find(e);
    return it != visible_.end() && it->second;
  }
  bool menu_enabled(Menu m) const {
    auto it = menu_enabled_.find(m);
    return it == menu_enabled_.end() || it->second;
  }
  bool cts_lamp() const { return cts_lamp_; }
  bool splash_shown() const { return splash_; }
  bool scan_failure_shown() const { return scan_failure_; }
  const std::string& scan_failure_text() const { return scan_failure_text_; }
  void set_window_state(WindowState s) { state_ = s; }

 private:
  std::string title_, status_;
  std::map<Field, std::string> texts_;
  std::map<Element, bool> visible_;
  std::map<Field, bool> editable_;
  std::map<Menu, bool> menu_enabled_, menu_checked_;
  bool cts_lamp_ = false, splash_ = false, scan_failure_ = false;
  std::string scan_failure_text_;
  WindowGeometry geometry_{};
  WindowState state_ = WindowState::Normal;
  LineLamp line_lamp_ = LineLamp::CtsOff;
};

}  // namespace shoplink
