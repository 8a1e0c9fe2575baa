#pragma once
// The window of the headless service: status and display changes become timestamped lines
// on standard output; message boxes and the scan failure help go to standard error; file
// dialogs are cancelled unless an answer was given on the command line.
#include <deque>
#include <iosfwd>

#include "base/clock.hpp"
#include "ui/window_state.hpp"

namespace shoplink {

class HeadlessWindow final : public WindowModel {
 public:
  // Without `stamps` the lines carry no time of their own: under journald, which stamps
  // every line itself.
  HeadlessWindow(Clock& clock, std::ostream& out, std::ostream& err, bool verbose = false,
                 bool stamps = true);
  void set_status(const std::string& text) override;
  void set_text(Field f, const std::string& text) override;
  void show_scan_failure(const std::string& help_text) override;

 private:
  void line(const std::string& what, const std::string& text);
  Clock& clock_;
  std::ostream& out_;
  std::ostream& err_;
  bool verbose_;
  bool stamps_;
};

class HeadlessDialogs final : public Dialogs {
 public:
  explicit HeadlessDialogs(std::ostream& err) : err_(err) {}
  void message_box(const std::string& title, const std::string& text, Icon icon) override;
  bool ask_yes_no(const std::string& title, const std::string& text) override;
  std::optional<std::string> open_file(const FileDialogRequest& request) override;
  std::optional<std::string> save_file(const FileDialogRequest& request) override;
  // Answers for the next file dialogs, in order (from the command line).
  void queue_file_answer(std::string path) { answers_.push_back(std::move(path)); }

 private:
  std::ostream& err_;
  std::deque<std::string> answers_;
};

class PosixPlatform final : public Platform {
 public:
  void beep() override {}
  bool start_detached(const std::string& program, const std::vector<std::string>& args,
                      bool minimized) override;
};

// Line traffic for standard output: control characters and bytes above 127 in the <13>
// form, CR dropped, LF kept (it splits the output into lines).
std::string printable(std::string_view text);
// The part of `now` that was appended to `before` (which may have been cut at its front).
std::string appended_part(std::string_view before, std::string_view now);

}  // namespace shoplink
