#include "base/host_line.hpp"

#include "base/net_serial_port.hpp"
#include "base/posix_serial_port.hpp"

namespace shoplink {

HostLine::HostLine(IoLoop& loop, std::function<std::string(const std::string&)> device_for)
    : loop_(loop), device_for_(std::move(device_for)) {}

HostLine::~HostLine() = default;

bool HostLine::do_open() {
  open_error_.clear();
  settings_unusable_ = false;
  const std::string device = device_for_(port_number());
  // Meant as a device server's address but not one: never a path to a device either.
  if (device.find("://") != std::string::npos && !NetSerialPort::names_network(device)) {
    open_error_ = device + ": not a tcp://HOST:PORT or rfc2217://HOST:PORT address";
    settings_unusable_ = true;
    backend_.reset();
    return false;
  }
  device_ = device;
  auto same = [device](const std::string&) { return device; };
  if (NetSerialPort::names_network(device))
    backend_ = std::make_unique<NetSerialPort>(loop_, same);
  else
    backend_ = std::make_unique<PosixSerialPort>(loop_, same);
  SerialPort* chosen = backend_.get();
  // The backend's comm events (a restart of the port controller) are the line's own.
  chosen->set_comm_handler([this](int code) { raise_comm_event(code); });
  chosen->set_pacing_allowed(pacing_allowed());
  chosen->set_option_flag(option_flag());
  chosen->set_port_number(port_number());
  chosen->set_settings(settings());
  chosen->set_rx_buffer_size(rx_buffer_size());
  chosen->set_tx_buffer_size(tx_buffer_size());
  chosen->set_handshaking(handshaking());
  chosen->set_rthreshold(rthreshold());
  chosen->set_rts(rts());
  chosen->set_dtr(dtr());
  chosen->set_input_len(input_len());
  if (chosen->open()) return true;
  open_error_ = chosen->open_error();
  settings_unusable_ = chosen->settings_unusable();
  backend_.reset();
  return false;
}

void HostLine::do_close() {
  if (backend_) backend_->close();
  backend_.reset();
}

std::string HostLine::read() {
  if (!backend_) return {};
  // Input length is switched per character during transfers: follow it.
  if (backend_->input_len() != input_len()) backend_->set_input_len(input_len());
  return backend_->read();
}

}  // namespace shoplink
