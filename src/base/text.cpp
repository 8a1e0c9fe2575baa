#include "base/text.hpp"

#include <fmt/format.h>

#include <cmath>

#include "base/clock.hpp"

namespace shoplink {

std::size_t instr(std::string_view s, std::string_view sub, std::size_t start) {
  if (start < 1) start = 1;
  if (start > s.size() + 1) return 0;
  auto p = s.find(sub, start - 1);
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string mid(std::string_view s, std::size_t start, std::size_t len) {
  if (start < 1) start = 1;
  if (start > s.size()) return {};
  return std::string(s.substr(start - 1, len));
}

std::string left(std::string_view s, std::size_t n) {
  return std::string(s.substr(0, n));
}

std::string right(std::string_view s, std::size_t n) {
  if (n >= s.size()) return std::string(s);
  return std::string(s.substr(s.size() - n));
}

std::string ucase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string hex_form(unsigned char c) {
  return fmt::format("<{:02X}>", c);
}

std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 32 || c == 127) {
      out += hex_form(c);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string lcase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.starts_with(prefix);
}

std::string space(std::size_t n) {
  return std::string(n, ' ');
}

double val(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    neg = s[i] == '-';
    ++i;
  }
  double v = 0;
  bool any = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i] - '0');
    ++i;
    any = true;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    double scale = 0.1;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      v += (s[i] - '0') * scale;
      scale /= 10;
      ++i;
      any = true;
    }
  }
  if (!any) return 0;
  return neg ? -v : v;
}

std::int64_t round_int(double v) {
  return static_cast<std::int64_t>(std::nearbyint(v));
}

std::string str(std::int64_t v) {
  return v < 0 ? fmt::format("{}", v) : fmt::format(" {}", v);
}

std::string str(double v) {
  if (v == std::floor(v) && std::fabs(v) < 1e15) return str(static_cast<std::int64_t>(v));
  std::string body = fmt::format("{:.7g}", std::fabs(v));
  if (body.starts_with("0.")) body.erase(0, 1);  // " .5", as the original wrote fractions
  return (v < 0 ? "-" : " ") + body;
}

std::string trim_trailing_blanks(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

std::string date_text(const LocalTime& t) {
  return fmt::format("{:02}-{:02}-{:04}", t.month, t.day, t.year);
}

std::string time_text(const LocalTime& t) {
  return fmt::format("{:02}:{:02}:{:02}", t.hour, t.minute, t.second);
}

}  // namespace shoplink
