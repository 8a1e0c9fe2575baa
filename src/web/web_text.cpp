#include "web/web_text.hpp"

#include <fmt/format.h>

#include <charconv>

namespace shoplink {

namespace {

// Length of the UTF-8 sequence starting at `i`, 0 when it is not a valid one.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return 1;
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if ((b & 0xE0) == 0xC0) {
    n = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
  static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = utf8_sequence(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool control(unsigned char c) {
  return c < 32 || c == 127;
}

int days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void civil_from_days(int z, int* y, int* m, int* d) {
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const int doe = z - era * 146097;
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp + (mp < 10 ? 3 : -9);
  *y = yoe + era * 400 + (*m <= 2);
}

bool number(std::string_view text, std::size_t at, std::size_t len, int* out) {
  if (at + len > text.size()) return false;
  for (std::size_t i = at; i < at + len; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  std::from_chars(text.data() + at, text.data() + at + len, *out);
  return true;
}

}  // namespace

std::string utf8_of(std::string_view bytes) {
  if (valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string html(std::string_view bytes) {
  const std::string text = utf8_of(bytes);
  std::string out;
  out.reserve(text.size() + 16);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (control(c)) {
          out += fmt::format("&lt;{:02X}&gt;", c);
        } else {
          out += ch;
        }
    }
  }
  return out;
}

std::string json(std::string_view bytes) {
  const std::string text = utf8_of(bytes);
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 32 || c == 127) {
      out += fmt::format("\\u{:04x}", c);
    } else if (ch == '<') {
      // Never "</script>" or "<!--" in JSON a page might embed.
      out += "\\u003c";
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string url_encoded(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || ch == '-' ||
        ch == '.' || ch == '_' || ch == '~') {
      out += ch;
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

std::string file_name_of(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string grouped(std::int64_t n) {
  const std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out = n < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::int64_t seconds_of(const LocalTime& t) {
  return static_cast<std::int64_t>(days_from_civil(t.year, t.month, t.day)) * 86400 +
         t.hour * 3600 + t.minute * 60 + t.second;
}

bool parse_time(std::string_view text, LocalTime* out) {
  LocalTime t;
  if (text.size() != 10 && text.size() != 19) return false;
  if (!number(text, 0, 4, &t.year) || text[4] != '-' || !number(text, 5, 2, &t.month) ||
      text[7] != '-' || !number(text, 8, 2, &t.day))
    return false;
  if (t.month < 1 || t.month > 12 || t.day < 1) return false;
  int y = 0, m = 0, d = 0;
  civil_from_days(days_from_civil(t.year, t.month, t.day), &y, &m, &d);
  if (y != t.year || m != t.month || d != t.day) return false;  // 2026-02-30
  if (text.size() == 19) {
    if (text[10] != ' ' || !number(text, 11, 2, &t.hour) || text[13] != ':' ||
        !number(text, 14, 2, &t.minute) || text[16] != ':' || !number(text, 17, 2, &t.second))
      return false;
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return false;
  }
  *out = t;
  return true;
}

std::string day_text(const LocalTime& t, int days) {
  int y = 0, m = 0, d = 0;
  civil_from_days(days_from_civil(t.year, t.month, t.day) + days, &y, &m, &d);
  return fmt::format("{:04}-{:02}-{:02}", y, m, d);
}

std::string duration_text(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  return h > 0 ? fmt::format("{}:{:02}:{:02}", h, m, s) : fmt::format("{}:{:02}", m, s);
}

}  // namespace shoplink
