#pragma once
// The plant publisher's settings, from the host map (HOSTMAP or --map): off unless MQTT= names
// a broker.
//
//   MQTT=mqtt://HOST:PORT       the broker (port 1883 when left out); mqtts:// for TLS (8883)
//   MQTT_TOPIC=shoplink/NAME    the topic every message goes under (default: shoplink/ and the
//                               station's name)
//   STATION=NAME                the station's name (default: the host's name)
//   MQTT_USER=, MQTT_PASSWORD=  the broker's login, when it asks for one
//   MQTT_CA=FILE                the certificate authority a TLS broker's certificate is
//                               checked against (default: the system's)
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shoplink {

class HostPaths;

struct BrokerAddress {
  std::string host;
  int port = 1883;
  bool tls = false;
};

// "mqtt://HOST[:PORT]", "mqtts://HOST[:PORT]", "[::1]:1883" style IPv6 in brackets; nullopt
// when the text is none of them.
std::optional<BrokerAddress> parse_broker_url(std::string_view url);

struct PlantSettings {
  std::string url;  // as given
  BrokerAddress broker;
  std::string station;  // the station's name
  std::string topic;    // no trailing "/"
  std::string user, password;
  std::string ca_file;
};

// nullopt when MQTT= is not set (the publisher is off) or when a setting is wrong; each
// wrong setting is named in `problems`.
std::optional<PlantSettings> plant_settings(const HostPaths& paths,
                                            std::vector<std::string>* problems);

// The host's name, or "shoplink" when it has none.
std::string host_name();

}  // namespace shoplink
