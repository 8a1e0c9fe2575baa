#pragma once
// A JSON object written field by field. Station text is bytes, not UTF-8: a text that is
// valid UTF-8 (host paths usually are) goes as it is, any other is read as Latin-1 (the
// machines' 8-bit characters), so every payload is valid JSON whatever a machine sent.
#include <cstdint>
#include <string>
#include <string_view>

namespace shoplink {

// `text` as a JSON string, quotes included.
std::string json_string(std::string_view text);

class JsonObject {
 public:
  JsonObject& add(std::string_view key, std::string_view text);
  JsonObject& add(std::string_view key, const char* text) {
    return add(key, std::string_view(text));
  }
  JsonObject& add(std::string_view key, const std::string& text) {
    return add(key, std::string_view(text));
  }
  JsonObject& add(std::string_view key, std::int64_t number);
  JsonObject& add(std::string_view key, int number) {
    return add(key, static_cast<std::int64_t>(number));
  }
  JsonObject& add(std::string_view key, double number);
  JsonObject& add(std::string_view key, bool value);
  // `json` is already JSON (an object, null ...).
  JsonObject& add_raw(std::string_view key, std::string_view json);
  std::string str() const { return text_ + "}"; }

 private:
  void key(std::string_view k);
  std::string text_ = "{";
};

// `body` (a JSON object) with "seq": `seq` as its first field.
std::string with_sequence(std::string_view body, std::int64_t seq);

}  // namespace shoplink
