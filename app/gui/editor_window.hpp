#pragma once
// The station's own small text editor: open, edit and save one station file. Its file's line
// ends (CR LF or LF) and bytes are kept as they were.
#include <QMainWindow>
#include <string>

class QPlainTextEdit;

namespace shoplink {

class EventLoop;

class EditorWindow final : public QMainWindow {
 public:
  // `kind` is the editor argument "fromdnc1" (all files), "fromdnc2" (.TXT files) or
  // "fromdnc3" (the station's own files): the open dialog's filter.
  EditorWindow(EventLoop& loop, std::string dir, std::string kind);
  bool open_path(const std::string& path);
  // False when nothing was written (no file chosen, or the write failed, which is shown).
  bool save();
  void choose_and_open();
  // Edits not yet saved: asks to save them, discard them or keep editing. True when the
  // text may go (saved, discarded, or nothing changed).
  bool maybe_save();
  QPlainTextEdit* text_area() const { return text_; }
  const std::string& path() const { return path_; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void show_title();
  void warn(const QString& text);
  EventLoop& loop_;
  std::string dir_, kind_, path_;
  bool crlf_ = true;
  bool asking_ = false;  // the unsaved-edits question is open
  QPlainTextEdit* text_;
};

// The open dialog's filter for an editor kind.
std::string editor_filter(const std::string& kind);

// Closes every open editor window, each asking about its unsaved edits first; false when the
// operator chose to keep editing one of them.
bool close_editor_windows();

}  // namespace shoplink
