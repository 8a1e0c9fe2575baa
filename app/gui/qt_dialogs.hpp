#pragma once
// Message boxes, the yes/no question and the file dialogs on Qt. Each runs window-modal while
// the station's loop keeps yielding, so the timers and the host line stay live behind it.
#include <QStringList>

#include "ui/main_window.hpp"

class QDialog;
class QFileDialog;
class QMessageBox;
class QWidget;

namespace shoplink {

class EventLoop;

// Shows `d` modal and yields to the station's loop until it is closed; its result code.
int run_modal(EventLoop& loop, QDialog& d);
// Wide enough for its whole title.
void fit_title(QMessageBox& box);
// Sized for long program names, each column fitting what it shows.
void fit_columns(QFileDialog& d);

// Room a title bar takes beside its title: the window manager's icon and buttons.
inline constexpr int kTitleBarRoom = 160;
inline constexpr int kFileDialogWidth = 860, kFileDialogHeight = 520;

// A filter string of caption|pattern pairs in Qt's form. Patterns match as the station's
// always did: without regard to case, and "*.*" (or "NAME*.*") also matching names without
// a dot.
QStringList qt_name_filters(const std::string& filter);

class QtDialogs final : public Dialogs {
 public:
  QtDialogs(EventLoop& loop, QWidget* parent) : loop_(loop), parent_(parent) {}
  void message_box(const std::string& title, const std::string& text, Icon icon) override;
  bool ask_yes_no(const std::string& title, const std::string& text) override;
  std::optional<std::string> open_file(const FileDialogRequest& request) override;
  std::optional<std::string> save_file(const FileDialogRequest& request) override;

 private:
  std::optional<std::string> file_dialog(const FileDialogRequest& request, bool save);
  EventLoop& loop_;
  QWidget* parent_;
};

}  // namespace shoplink
