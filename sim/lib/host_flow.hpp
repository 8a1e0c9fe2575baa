#pragma once
// What the host line carried for each machine port, seen where the controller meets the
// line: how fast the station's characters for the port came, and how many still came after
// each Xoff the port's machine sent up, before its Xon. The figures of the many-lines
// benchmark (`shoplink-sim --flow`); a few counters a byte, so always kept.
#include <array>
#include <cstdint>

#include "base/clock.hpp"

namespace shoplink::sim {

struct PortFlow {
  long chars = 0;             // data characters from the host routed to the port
  TimePoint first{}, last{};  // when the first and the last of them came
  int xoffs = 0;              // Xoffs the port's machine sent up
  int most_after_xoff = 0;    // the most characters that came after one of them
  // From each Xoff to the first character after its Xon: the time the machine held the line.
  Duration held{};
  // Characters a second while the line was not held (0 with fewer than two characters).
  double rate() const;

  bool holding = false;  // an Xoff was sent up and no character has come since its Xon
  bool released = false;
  int after_this_xoff = 0;
  TimePoint held_since{};
};

class HostFlow {
 public:
  static constexpr int kPorts = 8;
  // A data character from the host for `port` (1..8).
  void from_host(int port, TimePoint at);
  // A byte the controller handed up for `port`; Xoff and Xon (top bit cleared, as the
  // station reads them) start and end a hold.
  void to_host(int port, std::uint8_t byte, TimePoint at);
  const PortFlow& port(int p) const { return ports_.at(static_cast<std::size_t>(p)); }

 private:
  std::array<PortFlow, kPorts + 1> ports_{};
};

}  // namespace shoplink::sim
