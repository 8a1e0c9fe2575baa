#pragma once
// Test doubles for the operator interface: they keep everything the logic showed or asked.
#include <deque>
#include <vector>

#include "ui/window_state.hpp"

namespace shoplink {

class RecordingWindow final : public WindowModel {
 public:
  void set_status(const std::string& text) override {
    WindowModel::set_status(text);
    statuses.push_back(status());
  }
  void set_text(Field f, const std::string& text) override {
    if (f == Field::Terminal) terminal_texts.push_back(text);
    WindowModel::set_text(f, text);
  }
  std::vector<std::string> statuses;
  std::vector<std::string> terminal_texts;
};

struct MessageBoxRecord {
  std::string title, text;
  Icon icon;
};

class RecordingDialogs final : public Dialogs {
 public:
  void message_box(const std::string& title, const std::string& text, Icon icon) override {
    boxes.push_back({title, text, icon});
  }
  bool ask_yes_no(const std::string& title, const std::string& text) override {
    boxes.push_back({title, text, Icon::Question});
    bool a = yes_no_answers.empty() ? false : yes_no_answers.front();
    if (!yes_no_answers.empty()) yes_no_answers.pop_front();
    return a;
  }
  std::optional<std::string> open_file(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (file_answers.empty()) return std::nullopt;
    auto a = file_answers.front();
    file_answers.pop_front();
    return a;
  }
  std::optional<std::string> save_file(const FileDialogRequest& request) override {
    return open_file(request);
  }
  std::vector<MessageBoxRecord> boxes;
  std::deque<bool> yes_no_answers;
  std::deque<std::optional<std::string>> file_answers;
  std::vector<FileDialogRequest> requests;
};

class RecordingPlatform final : public Platform {
 public:
  void beep() override { ++beeps; }
  bool start_detached(const std::string& program, const std::vector<std::string>& args,
                      bool minimized) override {
    started.push_back({program, args, minimized});
    return true;
  }
  struct Start {
    std::string program;
    std::vector<std::string> args;
    bool minimized;
  };
  int beeps = 0;
  std::vector<Start> started;
};

}  // namespace shoplink
