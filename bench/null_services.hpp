#pragma once
// The operator interface and a host line that do nothing, for benchmarks: recording what a
// long run shows would measure the recorder, not the station.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/serial_port.hpp"
#include "ui/window_state.hpp"

namespace shoplink::bench {

class NullWindow final : public WindowModel {};

class NullDialogs final : public Dialogs {
 public:
  void message_box(const std::string&, const std::string&, Icon) override {}
  bool ask_yes_no(const std::string&, const std::string&) override { return false; }
  std::optional<std::string> open_file(const FileDialogRequest&) override { return {}; }
  std::optional<std::string> save_file(const FileDialogRequest&) override { return {}; }
};

class NullPlatform final : public Platform {
 public:
  void beep() override {}
  bool start_detached(const std::string&, const std::vector<std::string>&, bool) override {
    return false;
  }
};

// Always open, always ready, never anything to read; what is written goes nowhere.
class NullLine final : public SerialPort {
 public:
  bool is_open() const override { return true; }
  bool cts() override { return true; }
  int in_buffer_count() override { return 0; }
  void clear_in_buffer() override {}
  int out_buffer_count() override { return 0; }
  void clear_out_buffer() override {}
  std::string read() override { return {}; }
  void write(std::string_view) override {}

 protected:
  bool do_open() override { return true; }
  void do_close() override {}
};

}  // namespace shoplink::bench
