#include "sim_line.hpp"

namespace shoplink::sim {

SimLine::SimLine(EventLoop& loop, PortController& controller)
    : loop_(loop), controller_(controller) {
  controller_.attach_host(this);
}

SimLine::~SimLine() {
  controller_.attach_host(nullptr);
}

bool SimLine::cts() {
  return !cts_forced_off_ && controller_.cts();
}

bool SimLine::do_open() {
  if (!present_) return false;
  open_ = true;
  baud_ = settings_baud(settings());
  if (baud_ <= 0) baud_ = 9600;
  controller_.on_host_lines(dtr(), rts());
  power_.reset();
  power_.dtr_changed(dtr(), loop_.now());
  power_.seen(dsr(), loop_.now());
  return true;
}

void SimLine::power_changed(bool) {
  if (!open_ || !power_.seen(dsr(), loop_.now())) return;
  ++restarts_seen_;
  raise_comm_event(kControllerRestartEvent);
}

void SimLine::do_close() {
  open_ = false;
  tx_.clear();
  ++tx_generation_;
  tx_busy_ = false;
  rx_.clear();
  controller_.on_host_lines(false, false);
}

void SimLine::clear_out_buffer() {
  tx_.clear();
  ++tx_generation_;
  tx_busy_ = false;
}

std::string SimLine::read() {
  std::string out;
  if (rx_.empty()) return out;
  if (input_len() == 1) {
    out.push_back(static_cast<char>(rx_.front()));
    rx_.pop_front();
    return out;
  }
  out.assign(rx_.begin(), rx_.end());
  rx_.clear();
  return out;
}

void SimLine::write(std::string_view bytes) {
  if (!open_) {
    lost_closed_ += static_cast<long>(bytes.size());
    return;
  }
  for (unsigned char c : bytes) tx_.push_back(c);
  pump_tx();
}

void SimLine::pump_tx() {
  if (tx_busy_ || tx_.empty()) return;
  tx_busy_ = true;
  loop_.post_after(byte_time(baud_), [this, gen = tx_generation_, w = life_.watch()] {
    if (w.expired() || gen != tx_generation_) return;
    tx_busy_ = false;
    std::uint8_t b = tx_.front();
    tx_.pop_front();
    controller_.on_host_byte(b);
    pump_tx();
  });
}

void SimLine::send_to_host(std::uint8_t b) {
  rx_wire_.push_back(b);
  pump_rx();
}

void SimLine::pump_rx() {
  if (rx_busy_ || rx_wire_.empty()) return;
  rx_busy_ = true;
  loop_.post_after(byte_time(baud_), [this, w = life_.watch()] {
    if (w.expired()) return;
    rx_busy_ = false;
    std::uint8_t b = rx_wire_.front();
    rx_wire_.pop_front();
    if (!open_) {
      ++lost_closed_;
    } else if (static_cast<int>(rx_.size()) >= rx_buffer_size()) {
      ++overrun_;
    } else {
      rx_.push_back(b);
    }
    pump_rx();
  });
}

}  // namespace shoplink::sim
