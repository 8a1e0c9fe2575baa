#pragma once
// The controller's view of its host line, whatever carries it: the in-process SimLine on
// virtual time or a pseudo-terminal in real time.
#include <cstdint>

namespace shoplink::sim {

class HostLink {
 public:
  virtual ~HostLink() = default;
  // Queue one byte towards the host; the link paces it at its own rate.
  virtual void send_to_host(std::uint8_t b) = 0;
  // The controller's CTS output changed (a link may stop taking input while it is off).
  virtual void cts_changed(bool /*on*/) {}
  // The controller's power changed: its DTR output, which the host reads as DSR.
  virtual void power_changed(bool /*on*/) {}
};

}  // namespace shoplink::sim
