#include "base/line_pacer.hpp"

#include <algorithm>

namespace shoplink {

void LinePacer::set_baud(long baud) {
  if (baud <= 0) baud = 9600;
  char_time_ = Duration(10'000'000'000LL / baud);
  burst_ = std::clamp<std::size_t>(static_cast<std::size_t>(kBurstTime / char_time_), 1, kMaxBurst);
}

TimePoint LinePacer::burst_start(TimePoint now) const {
  // A writer up to a character late keeps the beat; a line idle for longer starts afresh.
  return free_at_ < now - char_time_ ? now : free_at_;
}

std::size_t LinePacer::room(TimePoint now) const {
  if (free_at_ > now) return 0;
  const Duration span = now + char_time_ * static_cast<long>(burst_) - burst_start(now);
  return static_cast<std::size_t>(span / char_time_);
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
