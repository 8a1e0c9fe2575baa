#pragma once
// The station's host line to the simulated controller, on the loop's clock: every byte
// takes ten bit times at the line's baud each way, so the transmit queue drains as a
// UART's would and received bytes count only once fully arrived.
#include <cstdint>
#include <deque>
#include <string>

#include "base/controller_power.hpp"
#include "base/event_loop.hpp"
#include "base/serial_port.hpp"
#include "host_link.hpp"
#include "port_controller.hpp"
#include "sim_types.hpp"

namespace shoplink::sim {

class SimLine final : public SerialPort, public HostLink {
 public:
  SimLine(EventLoop& loop, PortController& controller);
  ~SimLine() override;

  bool is_open() const override { return open_; }
  bool cts() override;
  int in_buffer_count() override { return static_cast<int>(rx_.size()); }
  void clear_in_buffer() override { rx_.clear(); }
  int out_buffer_count() override { return static_cast<int>(tx_.size()); }
  void clear_out_buffer() override;
  std::string read() override;
  void write(std::string_view bytes) override;

  int controller_restarts_seen() const override { return restarts_seen_; }

  // Test knobs.
  void set_cts_forced_off(bool off) { cts_forced_off_ = off; }
  // Off: a cable without DSR (it reads off whatever the controller does).
  void set_dsr_wired(bool wired) { dsr_wired_ = wired; }
  bool dsr() const { return dsr_wired_ && controller_.dsr(); }
  void set_device_present(bool present) { present_ = present; }  // absent: open fails

  long baud() const { return baud_; }
  long bytes_lost_closed() const { return lost_closed_; }  // written or arriving while closed
  long bytes_overrun() const { return overrun_; }          // arrived to a full receive buffer

  // HostLink: the controller hands a byte to the host.
  void send_to_host(std::uint8_t b) override;
  // The controller's DSR changed: a return after a loss is a restart (the comm event).
  void power_changed(bool on) override;

 protected:
  bool do_open() override;
  void do_close() override;
  void apply_dtr(bool on) override {
    power_.dtr_changed(on, loop_.now());
    controller_.on_host_lines(dtr(), rts());
  }
  void apply_rts(bool) override { controller_.on_host_lines(dtr(), rts()); }

 private:
  void pump_tx();
  void pump_rx();

  EventLoop& loop_;
  PortController& controller_;
  bool open_ = false;
  bool present_ = true;
  bool cts_forced_off_ = false;
  bool dsr_wired_ = true;
  ControllerPower power_;
  int restarts_seen_ = 0;
  long baud_ = 9600;
  std::deque<std::uint8_t> tx_;  // written, not yet fully sent (the one on the wire included)
  bool tx_busy_ = false;
  unsigned long tx_generation_ = 0;   // a discard invalidates the byte on the wire
  std::deque<std::uint8_t> rx_wire_;  // on the way from the controller
  bool rx_busy_ = false;
  std::deque<std::uint8_t> rx_;  // fully arrived, waiting to be read
  long lost_closed_ = 0, overrun_ = 0;
  LifeToken life_;
};

}  // namespace shoplink::sim
