#include "web/web_settings.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/host_paths.hpp"
#include "base/text.hpp"

namespace shoplink {

namespace {

bool numeric_v4(const std::string& a) {
  in_addr v4{};
  return ::inet_pton(AF_INET, a.c_str(), &v4) == 1;
}

bool numeric_v6(const std::string& a) {
  in6_addr v6{};
  return ::inet_pton(AF_INET6, a.c_str(), &v6) == 1;
}

// 0: any free port (the station says which it got), for scripts and tests.
std::optional<int> port_number(std::string_view text) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > 65535)
    return std::nullopt;
  return v;
}

}  // namespace

std::optional<ListenAddress> parse_listen_address(std::string_view text, std::string* why) {
  auto fail = [&](std::string reason) -> std::optional<ListenAddress> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  ListenAddress out;
  std::string_view port_text = text;
  if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    std::string_view host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      out.address = std::string(host.substr(1, host.size() - 2));
      if (!numeric_v6(out.address)) return fail("\"" + out.address + "\" is not an IPv6 address");
    } else {
      out.address = std::string(host);
      if (ucase(out.address) == "LOCALHOST") out.address = "127.0.0.1";
      if (!numeric_v4(out.address))
        return fail("\"" + out.address +
                    "\" is not a numeric address (127.0.0.1, 0.0.0.0 for every interface, "
                    "[::1])");
    }
  }
  const auto port = port_number(port_text);
  if (!port)
    return fail("\"" + std::string(port_text) +
                "\" is not a port number from 0 (any free one) to 65535");
  out.port = *port;
  return out;
}

std::string url_host(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

bool is_loopback(const std::string& address) {
  in_addr v4{};
  if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return ::inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::optional<WebSettings> web_settings(const HostPaths& paths,
                                        std::vector<std::string>* problems) {
  const auto web = paths.lookup("WEB");
  if (!web || web->empty() || ucase(*web) == "OFF") return std::nullopt;
  std::string why;
  const auto listen = parse_listen_address(*web, &why);
  if (!listen) {
    if (problems)
      problems->push_back(
          "WEB=" + *web + ": " + why +
          "; expected ADDR:PORT such as 127.0.0.1:8080 (the status page stays off)");
    return std::nullopt;
  }
  WebSettings s;
  s.listen = *listen;
  s.password = paths.lookup("WEB_PASSWORD").value_or("");
  const auto shifts = paths.lookup("SHIFTS");
  if (shifts && !shifts->empty() && !parse_shifts(*shifts, &s.shifts) && problems)
    problems->push_back("SHIFTS=" + *shifts +
                        ": expected the shifts' starts as HH:MM,HH:MM,... such as "
                        "06:00,14:00,22:00");
  return s;
}

std::string describe(const std::optional<WebSettings>& settings) {
  if (!settings) return "Status page: off (WEB=ADDR:PORT in HOSTMAP, or --web, turns it on)";
  const ListenAddress& l = settings->listen;
  std::string text = "Status page: http://" + url_host(l.address) + ":" + std::to_string(l.port) +
                     "/" + (is_loopback(l.address) ? " (this machine only)" : "");
  text += settings->password.empty() ? ", program contents not served (no WEB_PASSWORD)"
                                     : ", program contents with WEB_PASSWORD";
  if (l.port > 0 && l.port < 1024)
    text += "; a port below 1024 needs privileges the service does not have";
  return text;
}

bool parse_shifts(const std::string& text, std::vector<int>* out) {
  std::vector<int> starts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    if (part.size() != 5 || part[2] != ':' || !std::isdigit(static_cast<unsigned char>(part[0])) ||
        !std::isdigit(static_cast<unsigned char>(part[1])) ||
        !std::isdigit(static_cast<unsigned char>(part[3])) ||
        !std::isdigit(static_cast<unsigned char>(part[4])))
      return false;
    const int h = (part[0] - '0') * 10 + (part[1] - '0');
    const int m = (part[3] - '0') * 10 + (part[4] - '0');
    if (h > 23 || m > 59) return false;
    starts.push_back(h * 3600 + m * 60);
    at = comma + 1;
  }
  std::sort(starts.begin(), starts.end());
  if (std::adjacent_find(starts.begin(), starts.end()) != starts.end()) return false;
  *out = starts;
  return true;
}

}  // namespace shoplink
