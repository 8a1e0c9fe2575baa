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
  bool save();
  void choose_and_open();
  QPlainTextEdit* text_area() const { return text_; }
  const std::string& path() const { return path_; }

 private:
  EventLoop& loop_;
  std::string dir_, kind_, path_;
  bool crlf_ = true;
  QPlainTextEdit* text_;
};

// The open dialog's filter for an editor kind.
std::string editor_filter(const std::string& kind);

}  // namespace shoplink
