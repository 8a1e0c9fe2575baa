#include "base/virtual_loop.hpp"

namespace shoplink {

void VirtualLoop::wait_until(TimePoint deadline) {
  if (deadline == TimePoint::max())
    throw VirtualDeadlock("virtual loop would wait for ever: nothing is scheduled");
  if (deadline > now()) vclock_.advance_to(deadline);
}

void VirtualLoop::advance(Duration d) {
  const TimePoint end = now() + d;
  while (now() < end && !quit_requested()) yield(end - now());
  yield();  // whatever fell due exactly at the end
}

bool VirtualLoop::run_until(const std::function<bool()>& done, Duration limit) {
  const TimePoint end = now() + limit;
  while (!done()) {
    if (now() >= end || quit_requested()) return false;
    yield(end - now());
  }
  return true;
}

}  // namespace shoplink
