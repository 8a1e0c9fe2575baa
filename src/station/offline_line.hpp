#pragma once
// The host line of a station that is read but never run (`shoplink check`, the history
// commands beside a running station): present, never opened, nothing sent.
#include <string>
#include <string_view>

#include "base/serial_port.hpp"

namespace shoplink {

class OfflineLine final : public SerialPort {
 public:
  bool is_open() const override { return false; }
  bool cts() override { return false; }
  int in_buffer_count() override { return 0; }
  void clear_in_buffer() override {}
  int out_buffer_count() override { return 0; }
  void clear_out_buffer() override {}
  std::string read() override { return {}; }
  void write(std::string_view) override {}

 protected:
  bool do_open() override { return false; }
  void do_close() override {}
};

}  // namespace shoplink
