#include "plant/plant_settings.hpp"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <system_error>

#include "base/host_paths.hpp"
#include "base/text.hpp"

namespace shoplink {

std::optional<BrokerAddress> parse_broker_url(std::string_view url) {
  BrokerAddress a;
  const std::string u = ucase(url);
  std::string_view rest;
  if (u.starts_with("MQTT://")) {
    rest = url.substr(7);
  } else if (u.starts_with("MQTTS://")) {
    rest = url.substr(8);
    a.tls = true;
    a.port = 8883;
  } else {
    return std::nullopt;
  }
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view port;
  if (rest.starts_with("[")) {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    a.host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      port = rest.substr(1);
      if (port.empty()) return std::nullopt;
    }
  } else {
    const auto colon = rest.rfind(':');
    if (colon != std::string_view::npos) {
      port = rest.substr(colon + 1);
      if (port.empty()) return std::nullopt;
      rest = rest.substr(0, colon);
    }
    a.host = std::string(rest);
  }
  if (a.host.empty() || a.host.find_first_of("/@ ") != std::string::npos) return std::nullopt;
  if (!port.empty()) {
    int p = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
    if (ec != std::errc() || end != port.data() + port.size() || p < 1 || p > 65535)
      return std::nullopt;
    a.port = p;
  }
  return a;
}

std::string host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "shoplink";
  return name;
}

namespace {

// A name that stands as one topic level: the wildcards and the separator cannot.
std::string topic_level(std::string name) {
  for (char& c : name)
    if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 32) c = '_';
  return name;
}

}  // namespace

std::optional<PlantSettings> plant_settings(const HostPaths& paths,
                                            std::vector<std::string>* problems) {
  const auto url = paths.lookup("MQTT");
  if (!url || url->empty()) return std::nullopt;
  bool ok = true;
  auto problem = [&](const std::string& what) {
    ok = false;
    if (problems) problems->push_back(what);
  };
  PlantSettings s;
  s.url = *url;
  if (const auto a = parse_broker_url(*url)) {
    s.broker = *a;
  } else {
    problem("MQTT=" + *url + " is not mqtt://HOST:PORT or mqtts://HOST:PORT");
  }
  s.station = paths.lookup("STATION").value_or("");
  if (s.station.empty()) s.station = host_name();
  s.topic = paths.lookup("MQTT_TOPIC").value_or("");
  while (!s.topic.empty() && s.topic.back() == '/') s.topic.pop_back();
  if (s.topic.empty()) s.topic = "shoplink/" + topic_level(s.station);
  if (s.topic.find_first_of("+#") != std::string::npos || s.topic.starts_with("$"))
    problem("MQTT_TOPIC=" + s.topic + " holds a wildcard (+ or #) or starts with $");
  s.user = paths.lookup("MQTT_USER").value_or("");
  s.password = paths.lookup("MQTT_PASSWORD").value_or("");
  if (!s.password.empty() && s.user.empty()) problem("MQTT_PASSWORD= is set without MQTT_USER=");
  s.ca_file = paths.lookup("MQTT_CA").value_or("");
  if (!s.ca_file.empty()) {
    const std::filesystem::path ca = paths.host_path(s.ca_file);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ca, ec))
      problem("MQTT_CA=" + s.ca_file + ": no such file");
    s.ca_file = ca.string();
    if (!s.broker.tls) problem("MQTT_CA= is set but MQTT= is not mqtts://");
  }
  if (!ok) return std::nullopt;
  return s;
}

}  // namespace shoplink
