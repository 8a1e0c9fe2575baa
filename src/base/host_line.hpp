#pragma once
// The host line whichever way it reaches the port controller, chosen at open by the host
// map's value for the port: "tcp://HOST:PORT" or "rfc2217://HOST:PORT" a network device
// server (NetSerialPort), anything else a terminal device (PosixSerialPort). The station
// holds this one object for the whole run; the settings made on it are handed to the
// chosen backend when it opens.
#include <functional>
#include <memory>
#include <string>

#include "base/io_loop.hpp"
#include "base/serial_port.hpp"

namespace shoplink {

class HostLine final : public SerialPort {
 public:
  HostLine(IoLoop& loop, std::function<std::string(const std::string&)> device_for);
  ~HostLine() override;

  bool is_open() const override { return backend_ && backend_->is_open(); }
  bool cts() override { return backend_ && backend_->cts(); }
  int in_buffer_count() override { return backend_ ? backend_->in_buffer_count() : 0; }
  void clear_in_buffer() override {
    if (backend_) backend_->clear_in_buffer();
  }
  int out_buffer_count() override { return backend_ ? backend_->out_buffer_count() : 0; }
  void clear_out_buffer() override {
    if (backend_) backend_->clear_out_buffer();
  }
  std::string read() override;
  void write(std::string_view bytes) override {
    if (backend_) backend_->write(bytes);
  }
  std::size_t output_held() const override { return backend_ ? backend_->output_held() : 0; }
  std::string output_error() const override {
    return backend_ ? backend_->output_error() : std::string();
  }
  bool paced() const override { return backend_ && backend_->paced(); }
  std::size_t output_room() override {
    return backend_ ? backend_->output_room() : SerialPort::output_room();
  }
  Duration output_room_in() override {
    return backend_ ? backend_->output_room_in() : Duration::zero();
  }
  std::string connection_lost() const override {
    return backend_ ? backend_->connection_lost() : std::string();
  }
  int interruptions() const override { return backend_ ? backend_->interruptions() : 0; }
  bool setting_up() const override { return backend_ && backend_->setting_up(); }
  bool modem_state_known() const override { return !backend_ || backend_->modem_state_known(); }
  std::string setup_note() const override {
    return backend_ ? backend_->setup_note() : std::string();
  }
  int controller_restarts_seen() const override {
    return backend_ ? backend_->controller_restarts_seen() : 0;
  }

  std::string open_error() const override { return open_error_; }
  std::string device_name() const override { return device_; }
  bool settings_unusable() const override { return settings_unusable_; }
  SerialPort* backend() { return backend_.get(); }

 protected:
  bool do_open() override;
  void do_close() override;
  void apply_dtr(bool on) override {
    if (backend_) backend_->set_dtr(on);
  }
  void apply_rts(bool on) override {
    if (backend_) backend_->set_rts(on);
  }

 private:
  IoLoop& loop_;
  std::function<std::string(const std::string&)> device_for_;
  std::unique_ptr<SerialPort> backend_;
  std::string open_error_;
  bool settings_unusable_ = false;
  std::string device_;
};

}  // namespace shoplink
