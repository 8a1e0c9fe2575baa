#pragma once
// Monotonic time for timers and local wall time for logs and activity files. Both come
// from one injectable clock so that tests fix them.
#include <chrono>
#include <cstdint>

namespace shoplink {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;
inline constexpr Duration kForever = Duration::max();

constexpr Duration millis(std::int64_t ms) {
  return std::chrono::milliseconds(ms);
}

struct LocalTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The same time of day on the calendar day before (across month and year ends).
LocalTime previous_day(const LocalTime& t);
// The same time of day `days` calendar days earlier.
LocalTime days_before(const LocalTime& t, int days);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
  virtual LocalTime local_now() const = 0;
};

class RealClock final : public Clock {
 public:
  TimePoint now() const override;
  LocalTime local_now() const override;
};

// Virtual time: advanced only by the virtual loop; the wall clock runs along with it
// from a settable starting moment.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(LocalTime start = {2026, 12, 7, 6, 45, 30});
  TimePoint now() const override { return now_; }
  LocalTime local_now() const override;
  void advance_to(TimePoint t);
  void set_local(LocalTime start);

 private:
  TimePoint now_{};
  TimePoint local_base_at_{};
  std::int64_t local_base_seconds_ = 0;  // seconds since the epoch, in local terms
};

}  // namespace shoplink
