#pragma once
// Scenarios: a shop's behaviour written as short lines of text ("at 5s port 3 sends
// TO1234"), with expectations checked at the end ("expect port 3 receives file O1234.NC").
// Everything is read and checked when the text is parsed: running it cannot fail.
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shop.hpp"

namespace shoplink::sim {

struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct CheckResult {
  std::string what;  // the expectation as written
  bool passed = false;
  std::string detail;  // why it failed
};

// One word of a scenario line; a quoted string is one token (escapes already resolved).
struct ScenarioToken {
  std::string text;
  bool quoted = false;
  std::size_t end = 0;  // offset just after the token in its line
};

class Scenario {
 public:
  // `files_dir` is where "file" names are looked up. Throws ScenarioError ("line N: ...").
  static Scenario parse(std::string_view text, const std::string& files_dir = ".");
  // Reads a scenario file; its files are looked up next to it.
  static Scenario load(const std::string& path);

  // Build the shop with these, then apply().
  const ShopOptions& options() const { return options_; }
  // Sets the controller's answer and the machines' reactions, and schedules every event.
  void apply(Shop& shop) const;
  // The expectations, judged on the shop as it is now.
  std::vector<CheckResult> check(const Shop& shop) const;
  // How long the scenario runs: "run" if given, else 30 s after the last event.
  Duration end_time() const;
  std::size_t event_count() const { return events_.size(); }

 private:
  struct Event {
    Duration at{};
    std::function<void(Shop&)> action;
  };
  void parse_line(const std::string& line);
  using Tokens = std::vector<ScenarioToken>;
  void parse_controller(const Tokens& tok, std::size_t i);
  void parse_port_setting(int port, const Tokens& tok, std::size_t i);
  void parse_event(Duration at, const std::string& line, const Tokens& tok, std::size_t i);
  void parse_expect(const std::string& line, const Tokens& tok);
  void parse_clink_expect(const std::string& what, int port, const Tokens& tok);
  std::string read_file(const std::string& name) const;

  std::string files_dir_ = ".";
  ShopOptions options_;
  std::vector<std::function<void(Shop&)>> setup_;
  std::vector<Event> events_;
  std::vector<std::function<CheckResult(const Shop&)>> checks_;
  Duration end_{};
  bool end_given_ = false;
  Duration last_event_{};
};

// "500ms", "5s", "2m", "1h" (also "1.5s"); throws ScenarioError.
Duration parse_duration(const std::string& text);
// A quoted scenario string without its quotes: \r \n \t \\ \" and \xNN escapes.
std::string unescape(std::string_view quoted_body);

}  // namespace shoplink::sim
