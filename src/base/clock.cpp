#include "base/clock.hpp"

#include <ctime>
#include <stdexcept>

namespace shoplink {

namespace {
// Days since 1970-01-01 for a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

LocalTime civil_from_seconds(std::int64_t secs) {
  std::int64_t z = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
  std::int64_t rem = secs - z * 86400;
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  LocalTime t;
  t.year = static_cast<int>(y + (m <= 2));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  t.hour = static_cast<int>(rem / 3600);
  t.minute = static_cast<int>(rem % 3600 / 60);
  t.second = static_cast<int>(rem % 60);
  return t;
}
}  // namespace

LocalTime previous_day(const LocalTime& t) {
  return days_before(t, 1);
}

LocalTime days_before(const LocalTime& t, int days) {
  const std::int64_t day =
      days_from_civil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
  LocalTime out = civil_from_seconds((day - days) * 86400);
  out.hour = t.hour;
  out.minute = t.minute;
  out.second = t.second;
  return out;
}

TimePoint RealClock::now() const {
  return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

LocalTime RealClock::local_now() const {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

VirtualClock::VirtualClock(LocalTime start) {
  set_local(start);
}

void VirtualClock::set_local(LocalTime start) {
  local_base_at_ = now_;
  local_base_seconds_ = days_from_civil(start.year, static_cast<unsigned>(start.month),
                                        static_cast<unsigned>(start.day)) *
                            86400 +
                        start.hour * 3600 + start.minute * 60 + start.second;
}

LocalTime VirtualClock::local_now() const {
  auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now_ - local_base_at_).count();
  return civil_from_seconds(local_base_seconds_ + elapsed);
}

void VirtualClock::advance_to(TimePoint t) {
  if (t < now_) throw std::logic_error("virtual time cannot go backwards");
  now_ = t;
}

}  // namespace shoplink
