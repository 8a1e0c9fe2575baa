#include "transmit/shift_file.hpp"

#include "base/text.hpp"
#include "core/station.hpp"

namespace shoplink {

namespace {

// The time of day as the number hhmmss (07:00:00 is 70000).
int hhmmss(const LocalTime& t) {
  return t.hour * 10000 + t.minute * 100 + t.second;
}

constexpr int kShift1 = 70000, kShift2 = 150000, kShift3 = 230000;

// The shift of `now`: its extension and the day its file is named after.
struct Shift {
  const char* extension;
  LocalTime day;
};

Shift shift_at(const LocalTime& now) {
  const int t = hhmmss(now);
  if (t >= kShift1 && t < kShift2) return {".001", now};
  if (t >= kShift2 && t < kShift3) return {".002", now};
  // The night shift keeps the file of the evening it began, also on the first of a month.
  return {".003", t < kShift1 ? previous_day(now) : now};
}

}  // namespace

std::string shift_file_name(const LocalTime& day, std::string_view extension) {
  const std::string date = date_text(day);  // mm-dd-yyyy
  return left(date, 6) + right(date, 2) + std::string(extension);
}

std::string shift_file_at(const LocalTime& now) {
  const Shift shift = shift_at(now);
  return shift_file_name(shift.day, shift.extension);
}

void Sable_carbon_mod2(Station& s, std::string_view extension, const LocalTime& now) {
  s.ShiftFile = shift_file_name(now, extension);
}

void Sable_carbon_mod3(Station& s, const LocalTime& now) {
  const Shift shift = shift_at(now);
  Sable_carbon_mod2(s, shift.extension, shift.day);
}

void Sable_carbon_mod3(Station& s) {
  // One reading of the clock, so that midnight cannot fall between the time and the date.
  Sable_carbon_mod3(s, s.loop.clock().local_now());
}

void Sable_carbon_mod4(Station& s, const LocalTime& now) {
  // Naming the file of the current shift changes ShiftFile only at a shift change.
  Sable_carbon_mod3(s, now);
}

void Sable_carbon_mod4(Station& s) {
  Sable_carbon_mod4(s, s.loop.clock().local_now());
}

}  // namespace shoplink
