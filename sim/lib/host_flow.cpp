#include "host_flow.hpp"

#include <algorithm>

namespace shoplink::sim {

double PortFlow::rate() const {
  const Duration busy = last - first - held;
  if (chars < 2 || busy <= Duration::zero()) return 0;
  return static_cast<double>(chars - 1) / std::chrono::duration<double>(busy).count();
}

void HostFlow::from_host(int port, TimePoint at) {
  if (port < 1 || port > kPorts) return;
  PortFlow& f = ports_[static_cast<std::size_t>(port)];
  if (f.chars == 0) f.first = at;
  ++f.chars;
  f.last = at;
  if (!f.holding) return;
  if (f.released) {
    // The first character after the Xon ends the hold (the station's pause included).
    f.held += at - f.held_since;
    f.holding = f.released = false;
    return;
  }
  ++f.after_this_xoff;
  f.most_after_xoff = std::max(f.most_after_xoff, f.after_this_xoff);
}

void HostFlow::to_host(int port, std::uint8_t byte, TimePoint at) {
  if (port < 1 || port > kPorts) return;
  PortFlow& f = ports_[static_cast<std::size_t>(port)];
  const int a = byte & 0x7F;
  if (a == 19) {
    ++f.xoffs;
    if (!f.holding) f.held_since = at;
    f.holding = true;
    f.released = false;
    f.after_this_xoff = 0;
  } else if (a == 17 && f.holding) {
    f.released = true;
  }
}

}  // namespace shoplink::sim
