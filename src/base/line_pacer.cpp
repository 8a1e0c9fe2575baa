#include "base/line_pacer.hpp"

namespace shoplink {

void LinePacer::set_baud(long baud) {
  if (baud <= 0) baud = 9600;
  char_time_ = Duration(10'000'000'000LL / baud);
}

std::size_t LinePacer::take(TimePoint now, std::size_t want) {
  // An idle line starts from now, with two characters of slack for a late writer.
  if (free_at_ < now - 2 * char_time_) free_at_ = now - 2 * char_time_;
  std::size_t n = 0;
  while (n < want && free_at_ <= now) {
    free_at_ += char_time_;
    ++n;
  }
  return n;
}

int LinePacer::on_wire(TimePoint now) const {
  if (free_at_ <= now) return 0;
  const auto left = free_at_ - now;
  return static_cast<int>((left + char_time_ - Duration(1)) / char_time_);
}

}  // namespace shoplink
