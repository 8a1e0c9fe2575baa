// The publisher's settings from the host map and its JSON text, case by case.
#include <gtest/gtest.h>

#include "base/host_paths.hpp"
#include "plant/json_text.hpp"
#include "plant/plant_settings.hpp"
#include "support/temp_dir.hpp"

namespace shoplink {
namespace {

struct SettingsCase {
  std::vector<std::string> map;
  std::string expected;  // "host port tls topic", or the problem's start
};

class PlantSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(PlantSettingsTest, ReadsTheHostMap) {
  testing::TempDir dir;
  dir.write("ca.pem", "x");
  HostPaths paths(dir.path());
  for (const auto& m : GetParam().map) ASSERT_TRUE(paths.map_assignment(m));
  std::vector<std::string> problems;
  const auto s = plant_settings(paths, &problems);
  std::string got = s ? s->broker.host + " " + std::to_string(s->broker.port) + " " +
                            (s->broker.tls ? "tls " : "plain ") + s->topic
                      : (problems.empty() ? "off" : problems.front());
  EXPECT_EQ(got.substr(0, GetParam().expected.size()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantSettingsTest,
    ::testing::Values(
        SettingsCase{{}, "off"},
        SettingsCase{{"MQTT=mqtt://broker:1884", "STATION=cell 4"},
                     "broker 1884 plain shoplink/cell 4"},
        SettingsCase{{"MQTT=MQTT://10.0.0.5", "STATION=a/b+#"},
                     "10.0.0.5 1883 plain shoplink/a_b__"},
        SettingsCase{{"MQTT=mqtts://[::1]:8884/", "MQTT_TOPIC=plant/x/", "MQTT_CA=ca.pem"},
                     "::1 8884 tls plant/x"},
        SettingsCase{{"MQTT=mqtts://broker"}, "broker 8883 tls"},
        SettingsCase{{"MQTT=tcp://broker:1883"}, "MQTT=tcp://broker:1883 is not"},
        SettingsCase{{"MQTT=mqtt://broker:99999"}, "MQTT=mqtt://broker:99999 is not"},
        SettingsCase{{"MQTT=mqtt://broker:"}, "MQTT=mqtt://broker: is not"},
        SettingsCase{{"MQTT=mqtt://broker", "MQTT_TOPIC=a/#"}, "MQTT_TOPIC=a/# holds"},
        SettingsCase{{"MQTT=mqtt://broker", "MQTT_PASSWORD=x"}, "MQTT_PASSWORD= is set without"},
        SettingsCase{{"MQTT=mqtts://broker", "MQTT_CA=missing.pem"}, "MQTT_CA=missing.pem: no"},
        SettingsCase{{"MQTT=mqtt://broker", "MQTT_CA=ca.pem"}, "MQTT_CA= is set but"}));

struct JsonCase {
  std::string text, json;
};

class JsonTextTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonTextTest, IsValidJsonWhateverTheBytes) {
  EXPECT_EQ(json_string(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonTextTest,
    ::testing::Values(JsonCase{"O1234 \"A\\B\"", R"("O1234 \"A\\B\"")"},
                      JsonCase{"a\r\n\t\x01\x7f", R"("a\r\n\t\u0001\u007f")"},
                      JsonCase{"caf\xc3\xa9", "\"caf\xc3\xa9\""},    // UTF-8 as it is
                      JsonCase{"\xb0\xe9", "\"\xc2\xb0\xc3\xa9\""},  // Latin-1 made UTF-8
                      JsonCase{"\xc3\xa9\xff", "\"\xc3\x83\xc2\xa9\xc3\xbf\""},  // mixed: Latin-1
                      JsonCase{"\xed\xa0\x80", "\"\xc3\xad\xc2\xa0\xc2\x80\""},  // a surrogate
                      JsonCase{std::string("a\0b", 3), R"("a\u0000b")"}));

TEST(JsonText, TheSequenceNumberGoesFirst) {
  EXPECT_EQ(with_sequence(R"({"a":1})", 7), R"({"seq":7,"a":1})");
  EXPECT_EQ(with_sequence("{}", 8), R"({"seq":8})");
  EXPECT_EQ(JsonObject().add("n", 2.5).add("w", 71.0).add("b", true).str(),
            R"({"n":2.5,"w":71,"b":true})");
}

}  // namespace
}  // namespace shoplink
