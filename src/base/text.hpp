#pragma once
// String operations in the station's own terms: 1-based positions, substring tests,
// leading-numeric-part numbers and the fixed date and time forms. Station text is bytes
// (0-255), never decoded.
#include <cstdint>
#include <string>
#include <string_view>

namespace shoplink {

struct LocalTime;

// Position (1-based) of `sub` in `s` searching from position `start`; 0 when absent.
// An empty `sub` is found at `start` when start <= len + 1.
std::size_t instr(std::string_view s, std::string_view sub, std::size_t start = 1);
inline bool contains(std::string_view s, std::string_view sub) {
  return instr(s, sub) > 0;
}
// Characters from 1-based position `start`, at most `len` of them (all when npos).
std::string mid(std::string_view s, std::size_t start, std::size_t len = std::string_view::npos);
std::string left(std::string_view s, std::size_t n);
std::string right(std::string_view s, std::size_t n);
std::string ucase(std::string_view s);
std::string lcase(std::string_view s);
bool starts_with(std::string_view s, std::string_view prefix);
std::string space(std::size_t n);

// Leading numeric part: blanks, an optional sign, digits, an optional decimal point and
// fraction. Text that does not begin with a number reads as 0.
double val(std::string_view s);
// Round half to even, the way the original numbers were rounded to integers.
std::int64_t round_int(double v);

// A number as text with its sign position: " 12", "-3", " 1.5", " .5".
std::string str(double v);
std::string str(std::int64_t v);
inline std::string str(int v) {
  return str(static_cast<std::int64_t>(v));
}
inline std::string str(std::int16_t v) {
  return str(static_cast<std::int64_t>(v));
}

// "<1B>": one byte as two upper-case hex digits in angle brackets.
std::string hex_form(unsigned char c);
// Text from a machine as it may be shown (system log, status line, standard output):
// control characters (below 32, and 127) in the <1B> form, so no byte a machine sends can
// break a log line or drive the operator's terminal. Other bytes are kept.
std::string visible(std::string_view text);

// Removes trailing tabs and spaces.
std::string trim_trailing_blanks(std::string_view s);

// mm-dd-yyyy and hh:mm:ss
std::string date_text(const LocalTime& t);
std::string time_text(const LocalTime& t);

}  // namespace shoplink
