#pragma once
// Test loop on virtual time: instead of blocking it advances its clock to the next due
// event, so a 20-second time-out takes microseconds and every run is the same.
#include <functional>
#include <stdexcept>

#include "base/event_loop.hpp"

namespace shoplink {

class VirtualLoop final : public EventLoop {
 public:
  explicit VirtualLoop(VirtualClock& clock) : EventLoop(clock), vclock_(clock) {}

  // Runs everything that falls due in the next `d` of virtual time.
  void advance(Duration d);
  void advance_ms(std::int64_t ms) { advance(millis(ms)); }
  // Runs until `done()` holds or `limit` of virtual time has passed; true when it held.
  bool run_until(const std::function<bool()>& done, Duration limit);

 protected:
  void wait_until(TimePoint deadline) override;

 private:
  VirtualClock& vclock_;
};

// Thrown when the station would wait for ever on virtual time: nothing is scheduled.
struct VirtualDeadlock : std::logic_error {
  using std::logic_error::logic_error;
};

}  // namespace shoplink
