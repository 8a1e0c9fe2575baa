#include "base/line_pacer.hpp"

#include <algorithm>

namespace shoplink {

void LinePacer::set_baud(long baud) {
  if (baud <= 0) baud = 9600;
  char_time_ = Duration(10'000'000'000LL / baud);
}

TimePoint LinePacer::burst_start(TimePoint now) const {
  // A writer up to a character late keeps the beat; a line idle for longer starts afresh.
  return free_at_ < now - char_time_ ? now : free_at_;
}

std::size_t LinePacer::room(TimePoint now) const {
  // A late writer keeps the beat (take() times the burst from when the line ran dry) but
  // gets no bigger a burst: nothing is ever more than kMaxBurst ahead of the line.
  return kMaxBurst - std::min(static_cast<std::size_t>(on_wire(now)), kMaxBurst);
}

std::size_t LinePacer::take(TimePoint now, std::size_t want) {
  const std::size_t n = std::min(want, room(now));
  if (n > 0) free_at_ = burst_start(now) + char_time_ * static_cast<long>(n);
  return n;
}

int LinePacer::on_wire(TimePoint now) const {
  if (free_at_ <= now) return 0;
  const auto left = free_at_ - now;
  return static_cast<int>((left + char_time_ - Duration(1)) / char_time_);
}

}  // namespace shoplink
