#include "plant/json_text.hpp"

#include <fmt/format.h>

#include <cmath>

namespace shoplink {

namespace {

// Length of the UTF-8 sequence at `i`, or 0 when none starts there.
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned c = b(i);
  std::size_t n = 0;
  unsigned min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  unsigned cp = c & (0xFF >> (n + 1));
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = utf8_length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace

std::string json_string(std::string_view text) {
  const bool utf8 = valid_utf8(text);
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += fmt::format("\\u{:04x}", c);
    } else if (c >= 0x80 && !utf8) {
      // Latin-1: the byte is the code point.
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

void JsonObject::key(std::string_view k) {
  if (text_.size() > 1) text_ += ',';
  text_ += json_string(k);
  text_ += ':';
}

JsonObject& JsonObject::add(std::string_view k, std::string_view text) {
  key(k);
  text_ += json_string(text);
  return *this;
}

JsonObject& JsonObject::add(std::string_view k, std::int64_t number) {
  key(k);
  text_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::add(std::string_view k, double number) {
  key(k);
  // JSON has no NaN or infinity; a whole number reads as one.
  if (!std::isfinite(number))
    text_ += "null";
  else if (number == std::floor(number) && std::fabs(number) < 1e15)
    text_ += std::to_string(static_cast<std::int64_t>(number));
  else
    text_ += fmt::format("{:.4g}", number);
  return *this;
}

JsonObject& JsonObject::add(std::string_view k, bool value) {
  key(k);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::add_raw(std::string_view k, std::string_view json) {
  key(k);
  text_ += json;
  return *this;
}

std::string with_sequence(std::string_view body, std::int64_t seq) {
  std::string out = "{\"seq\":" + std::to_string(seq);
  if (body.size() > 2) out += ',';
  if (body.size() > 1)
    out += body.substr(1);
  else
    out += '}';
  return out;
}

}  // namespace shoplink
