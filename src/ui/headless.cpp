#include "ui/headless.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <csignal>
#include <ostream>

#include "base/text.hpp"

extern char** environ;

namespace shoplink {

std::string printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      out.push_back('\n');
    } else if (c >= 128) {
      // Not text this terminal can be trusted to show.
      out += hex_form(c);
    } else {
      out += visible(std::string_view(reinterpret_cast<const char*>(&c), 1));
    }
  }
  return out;
}

std::string appended_part(std::string_view before, std::string_view now) {
  std::size_t j = before.size() > now.size() ? before.size() - now.size() : 0;
  for (; j <= before.size(); ++j) {
    auto tail = before.substr(j);
    if (now.starts_with(tail)) return std::string(now.substr(tail.size()));
  }
  return std::string(now);
}

HeadlessWindow::HeadlessWindow(Clock& clock, std::ostream& out, std::ostream& err, bool verbose,
                               bool stamps)
    : clock_(clock), out_(out), err_(err), verbose_(verbose), stamps_(stamps) {}

void HeadlessWindow::line(const std::string& what, const std::string& text) {
  if (stamps_) out_ << time_text(clock_.local_now()) << ' ';
  out_ << what << ": " << text << '\n';
  out_.flush();
}

void HeadlessWindow::set_status(const std::string& text) {
  const std::string before = status();
  WindowModel::set_status(text);
  if (status() != before) line("status", status());
}

void HeadlessWindow::set_text(Field f, const std::string& text) {
  const std::string before = WindowModel::text(f);
  WindowModel::set_text(f, text);
  if (text == before) return;
  switch (f) {
    case Field::Input: {
      std::string added = printable(appended_part(before, text));
      std::size_t start = 0;
      while (start < added.size()) {
        auto nl = added.find('\n', start);
        std::string piece = added.substr(start, nl == std::string::npos ? nl : nl - start);
        if (!piece.empty()) line("input", piece);
        if (nl == std::string::npos) break;
        start = nl + 1;
      }
      break;
    }
    case Field::Terminal:
      if (!text.empty()) line("terminal", printable(text));
      break;
    case Field::PortDisplay:
      if (verbose_) line("port", text);
      break;
    case Field::MachineEntry:
      if (verbose_) line("machine", text);
      break;
  }
}

void HeadlessWindow::show_scan_failure(const std::string& help_text) {
  WindowModel::show_scan_failure(help_text);
  for (char c : help_text)
    if (c != '\r') err_ << c;
  err_.flush();
}

void HeadlessDialogs::message_box(const std::string& title, const std::string& text, Icon) {
  err_ << title << ": ";
  std::string flat;
  for (char c : text) {
    if (c == '\r') continue;
    flat.push_back(c == '\n' ? ' ' : c);
  }
  while (!flat.empty() && flat.back() == ' ') flat.pop_back();
  while (!flat.empty() && flat.front() == ' ') flat.erase(0, 1);
  err_ << flat << '\n';
  err_.flush();
}

bool HeadlessDialogs::ask_yes_no(const std::string& title, const std::string& text) {
  message_box(title, text + " (answered no: no operator)", Icon::Question);
  return false;
}

std::optional<std::string> HeadlessDialogs::open_file(const FileDialogRequest&) {
  if (answers_.empty()) return std::nullopt;
  auto a = answers_.front();
  answers_.pop_front();
  return a;
}

std::optional<std::string> HeadlessDialogs::save_file(const FileDialogRequest& request) {
  return open_file(request);
}

bool PosixPlatform::start_detached(const std::string& program, const std::vector<std::string>& args,
                                   bool) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  // Children are never waited for: let the system reap them, so no zombie is left.
  signal(SIGCHLD, SIG_IGN);
  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0;
}

}  // namespace shoplink
