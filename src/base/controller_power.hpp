#pragma once
// The port controller's power as a host line with modem lines shows it: the controller
// drives the line's DSR. DSR going off and coming back means the controller lost power
// and started again, having forgotten its set-up and the port it had selected.
//
// A cable that loops DSR back from the station's own DTR would make every DTR change
// look like a power loss (the station drops DTR to hold a machine), so a fall of DSR
// counts only while DTR has been on for kDtrSettle. CD is not used: cables that loop it
// back from the station's RTS, which drops at every port switch, would read as a restart
// at every switch.
#include <optional>

#include "base/clock.hpp"

namespace shoplink {

class ControllerPower {
 public:
  static constexpr Duration kDtrSettle = std::chrono::seconds(1);

  // A new line or connection: nothing is known of DSR yet.
  void reset() {
    dsr_.reset();
    fell_ = false;
  }
  void dtr_changed(bool on, TimePoint now) {
    dtr_on_ = on;
    dtr_since_ = now;
  }
  // DSR as just read; true when this reading ends a power loss (a restart).
  bool seen(bool dsr, TimePoint now);
  // DSR as last read; nullopt before the first reading.
  std::optional<bool> dsr() const { return dsr_; }

 private:
  std::optional<bool> dsr_;
  bool fell_ = false;  // DSR fell while DTR was settled on
  bool dtr_on_ = false;
  TimePoint dtr_since_{};
};

}  // namespace shoplink
