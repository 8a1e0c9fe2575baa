#pragma once
// A minimal in-memory host line for tests that do not need the simulated shop.
#include <string>

#include "base/serial_port.hpp"

namespace shoplink::testing {

class FakeLine final : public SerialPort {
 public:
  bool is_open() const override { return open_; }
  bool cts() override { return cts_on; }
  int in_buffer_count() override { return static_cast<int>(input.size()); }
  void clear_in_buffer() override { input.clear(); }
  int out_buffer_count() override { return 0; }
  void clear_out_buffer() override {}
  std::string read() override {
    std::string out = input_len() == 1 ? input.substr(0, 1) : input;
    input.erase(0, out.size());
    return out;
  }
  void write(std::string_view bytes) override {
    written.append(bytes);
    trace.append(bytes);
  }
  std::size_t output_held() const override { return held; }
  std::string output_error() const override { return error; }
  int interruptions() const override { return breaks; }

  bool cts_on = true;
  bool can_open = true;
  std::string input;     // what the "controller" sent, waiting
  std::string written;   // everything the station wrote
  std::size_t held = 0;  // output the device has not taken (a stuck line)
  std::string error;     // why the device refuses output (a line gone)
  std::string trace;     // what was written, with "[DTR off]" / "[DTR on]" where DTR changed
  int breaks = 0;        // connection drops so far

 protected:
  bool do_open() override { return open_ = can_open; }
  void do_close() override { open_ = false; }
  void apply_dtr(bool on) override { trace += on ? "[DTR on]" : "[DTR off]"; }

 private:
  bool open_ = false;
};

}  // namespace shoplink::testing
