#pragma once
// Station text (bytes, never decoded: machine names, paths, log lines) for a browser and for
// JSON: valid UTF-8 passes as it is (a host path with an umlaut), anything else is read byte
// by byte as Latin-1, so every byte shows as some character and none can break the markup.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/clock.hpp"

namespace shoplink {

std::string utf8_of(std::string_view bytes);
// For HTML text and attribute values: & < > " ' escaped; a control character reads as two
// hex digits in angle brackets (<07>), as the log shows it.
std::string html(std::string_view bytes);
// A JSON string with its quotes; control characters as \u00XX.
std::string json(std::string_view bytes);
// For a URL's path segment or query value: everything but letters, digits and -._~ as %XX.
std::string url_encoded(std::string_view bytes);
// The last path component of a host path ("/srv/nc/O1234.NC" → "O1234.NC").
std::string file_name_of(std::string_view path);
// 1234567 → "1,234,567".
std::string grouped(std::int64_t n);

// Seconds since 0000-03-01 of a local time (proleptic Gregorian, no zone): differences
// between two local times, and the day a time falls on.
std::int64_t seconds_of(const LocalTime& t);
// Reads "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" strictly (a real date, a real time).
bool parse_time(std::string_view text, LocalTime* out);
// "YYYY-MM-DD" of the day `days` after (or before) `t`'s.
std::string day_text(const LocalTime& t, int days = 0);
// 3725 → "1:02:05"; 125 → "2:05".
std::string duration_text(std::int64_t seconds);

}  // namespace shoplink
