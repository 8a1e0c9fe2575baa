#pragma once
// The status page's settings from the host map: WEB=ADDR:PORT turns it on (off without it),
// WEB_PASSWORD= lets it show program contents and diffs to who gives it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shoplink {

class HostPaths;

struct ListenAddress {
  std::string address = "127.0.0.1";  // a numeric IPv4 or IPv6 address
  int port = 8080;
};

struct WebSettings {
  ListenAddress listen;
  std::string password;     // empty: program contents and diffs are not served at all
  std::vector<int> shifts;  // SHIFTS=06:00,14:00,22:00: the shifts' starts, in seconds
};

// "ADDR:PORT", "[IPv6]:PORT", or "PORT" alone (loopback). ADDR is a numeric address or
// "localhost"; a host name is refused, so that no name lookup decides what is exposed.
// nullopt with `why` set when the text is none of these.
std::optional<ListenAddress> parse_listen_address(std::string_view text, std::string* why);

// The address as a URL's host part: "127.0.0.1", "[::1]".
std::string url_host(const std::string& address);
// Whether only this machine can reach the address (127.0.0.0/8, ::1).
bool is_loopback(const std::string& address);

// nullopt: the page is off (no WEB=, or WEB=OFF). A value that cannot be read is named in
// `problems`: a bad WEB= leaves the page off, a bad SHIFTS= the activity chart without shifts.
std::optional<WebSettings> web_settings(const HostPaths& paths, std::vector<std::string>* problems);
// What `shoplink check` says of them.
std::string describe(const std::optional<WebSettings>& settings);

// "06:00,14:00,22:00" → seconds from midnight, ascending; false when it is not such a list.
bool parse_shifts(const std::string& text, std::vector<int>* out);

}  // namespace shoplink
