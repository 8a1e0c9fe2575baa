#pragma once
// The controller's host line as a pseudo-terminal in real time: the station (or a terminal
// program) opens the slave device; the controller reads and writes the master.
#include <cstdint>
#include <string>

#include "base/real_loop.hpp"
#include "host_link.hpp"
#include "port_controller.hpp"

namespace shoplink::sim {

class PtyLink final : public HostLink {
 public:
  // Opens the pseudo-terminal (raw, non-blocking master); throws std::runtime_error.
  explicit PtyLink(RealLoop& loop);
  ~PtyLink() override;
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  const std::string& device() const { return device_; }
  void attach(PortController& controller);

  void send_to_host(std::uint8_t b) override;
  // While CTS is off the controller stops taking bytes: the station's writes back up.
  void cts_changed(bool on) override;

  long bytes_in() const { return bytes_in_; }
  long bytes_out() const { return bytes_out_; }

 private:
  void on_io(short revents);
  void flush();
  void update_events();

  RealLoop& loop_;
  PortController* controller_ = nullptr;
  int master_ = -1;
  int slave_ = -1;  // held open so the master never sees a hang-up between users
  int watch_ = -1;
  bool reading_ = true;
  std::string device_;
  std::string out_;  // not yet taken by the kernel
  long bytes_in_ = 0, bytes_out_ = 0;
};

}  // namespace shoplink::sim
