#include "scenario.hpp"

#include <gtest/gtest.h>

#include "shop_fixture.hpp"
#include "support/temp_dir.hpp"

namespace shoplink::sim {
namespace {
using shoplink::testing::TempDir;
using testing::bytes;
using testing::select_port;

TEST(ScenarioText, DurationsAndEscapes) {
  EXPECT_EQ(parse_duration("500ms"), millis(500));
  EXPECT_EQ(parse_duration("5s"), millis(5000));
  EXPECT_EQ(parse_duration("1.5s"), millis(1500));
  EXPECT_EQ(parse_duration("2m"), millis(120000));
  EXPECT_EQ(parse_duration("1h"), millis(3600000));
  EXPECT_THROW(parse_duration("5"), ScenarioError);
  EXPECT_THROW(parse_duration("s"), ScenarioError);
  EXPECT_EQ(unescape(R"(OK*\r\n\x14\"\\)"), "OK*\r\n\x14\"\\");
  EXPECT_THROW(unescape(R"(\xZZ)"), ScenarioError);
}

TEST(ScenarioText, ErrorsNameTheLine) {
  try {
    Scenario::parse("# fine\nat 5s port 9 xon\n");
    FAIL() << "no error";
  } catch (const ScenarioError& e) {
    EXPECT_EQ(std::string(e.what()), "line 2: port must be 1 to 8");
  }
  EXPECT_THROW(Scenario::parse("at 1s port 1 dance\n"), ScenarioError);
  EXPECT_THROW(Scenario::parse("port 1 code morse\n"), ScenarioError);
  EXPECT_THROW(Scenario::parse("controller answer \"OK\n"), ScenarioError);
  // Missing files are found while parsing, never while running.
  EXPECT_THROW(Scenario::parse("at 1s port 2 uploads file NOPE.NC\n", "/nonexistent"),
               ScenarioError);
}

TEST(ScenarioText, SettingsReachTheShopOptions) {
  const Scenario sc = Scenario::parse(
      "controller high-water 100 low-water 20\n"
      "controller select 3\n"
      "port 2 code eia baud 4800 xoff-at 50 xon-at 5 consume 200 gap 2s\n"
      "port 4 code odd line-end lf lynx ab-ack\n"
      "port 4 xon after 1s\n"
      "at 10s port 1 xon\n");
  const ShopOptions& o = sc.options();
  EXPECT_EQ(o.controller.high_water, 100);
  EXPECT_EQ(o.controller.low_water, 20);
  EXPECT_EQ(o.controller.initial_port, 3);
  EXPECT_EQ(o.machines[2].code, MachineCode::Eia);
  EXPECT_EQ(o.machines[2].baud, 4800);
  EXPECT_EQ(o.machines[2].xoff_at, 50);
  EXPECT_EQ(o.machines[2].xon_at, 5);
  EXPECT_EQ(o.machines[2].consume_cps, 200);
  EXPECT_EQ(o.machines[2].program_gap, millis(2000));
  EXPECT_EQ(o.machines[4].code, MachineCode::IsoOdd);
  EXPECT_EQ(o.machines[4].line_end, "\n");
  EXPECT_TRUE(o.machines[4].lynx_prompts);
  EXPECT_TRUE(o.machines[4].ab_ack);
  EXPECT_EQ(o.machines[4].xon_after_command, millis(1000));
  EXPECT_EQ(sc.end_time(), millis(40000));  // 30 s after the last event
}

struct ScenarioRun : ::testing::Test {
  TempDir dir;
  VirtualClock clock;
  VirtualLoop loop{clock};
  std::unique_ptr<Shop> shop;
  Scenario sc;
  void start(const std::string& text) {
    sc = Scenario::parse(text, dir.path().string());
    shop = std::make_unique<Shop>(loop, sc.options());
    shop->line().set_settings("9600,N,8,1");
    ASSERT_TRUE(shop->line().open());
    sc.apply(*shop);
  }
};

TEST_F(ScenarioRun, EventsHappenAtTheirTimes) {
  start(
      "controller answer \"HI*\\r\\n\"\n"
      "at 5s port 3 sends TO1234  \n"
      "at 6s port 3 sends raw \"\\x12\"\n"
      "at 7s port 3 xon\n"
      "run 10s\n");
  EXPECT_EQ(sc.end_time(), millis(10000));
  shop->line().write(select_port(3));
  loop.advance_ms(4990);
  EXPECT_EQ(shop->line().in_buffer_count(), 0);
  loop.advance_ms(100);
  EXPECT_EQ(shop->line().read(), bytes({0xD4, 0xCF, 0xB1, 0xB2, 0x33, 0xB4, 0x8D, 0x0A}));
  loop.advance_ms(1000);
  EXPECT_EQ(shop->line().read(), bytes({0x12}));
  loop.advance_ms(1000);
  EXPECT_EQ(shop->line().read(), bytes({0x11}));
  shop->line().write(std::string("   ") + "\x14J\x14K");
  loop.advance_ms(100);
  EXPECT_EQ(shop->line().read(), "HI*\r\n");
}

TEST_F(ScenarioRun, UploadsAFileAndChecksWhatMachinesReceived) {
  dir.write("O100.NC", "%\r\nO100\r\nG1X1.\r\n\r\nM30\r\n%\r\n");
  start(
      "port 2 code eia\n"
      "at 1s port 2 uploads file O100.NC bursts 2 pause 1s\n"
      "expect port 2 receives nothing\n"
      "expect port 5 receives file O100.NC\n"
      "expect port 5 receives text \"G1X1.\"\n"
      "expect port 5 programs 1\n"
      "expect port 6 receives file O100.NC\n");
  shop->line().write(select_port(2));
  loop.advance_ms(5000);
  // EIA: "%" then end of block first.
  const std::string got = shop->line().read();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got.substr(0, 2), bytes({0x0B, 0x80}));
  // The host passes the program on to port 5 (even parity), and port 6 gets a damaged copy.
  shop->line().write(select_port(5) + "\x8D\n\xA5\x8D\n" +
                     "\xCF\xB1"
                     "00\x8D\n" +
                     "G\xB1\xD8\xB1.\x8D\n" +
                     "M\x33"
                     "0\x8D\n\xA5\x8D\n");
  shop->line().write(select_port(6) + "O100\r\nG1X2.\r\n");
  loop.advance_ms(5000);
  const auto results = sc.check(*shop);
  ASSERT_EQ(results.size(), 5u);
  EXPECT_TRUE(results[0].passed) << results[0].detail;
  EXPECT_TRUE(results[1].passed) << results[1].detail;
  EXPECT_TRUE(results[2].passed) << results[2].detail;
  EXPECT_TRUE(results[3].passed) << results[3].detail;
  EXPECT_FALSE(results[4].passed);
  EXPECT_EQ(results[4].what, "expect port 6 receives file O100.NC");
  EXPECT_EQ(results[4].detail,
            "1 program(s), none matches; last one differs at line 1: got \"O100\", want \"%\"");
}

}  // namespace
}  // namespace shoplink::sim

namespace shoplink::sim {
namespace {

TEST(ScenarioExamples, ShippedExamplesParse) {
  const auto dir = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "sim" / "examples";
  for (const char* name : {"small.scn", "demo.scn", "binary.scn", "lynx.scn", "burny.scn", "ab.scn",
                           "emco.scn", "okuma.scn"}) {
    EXPECT_NO_THROW({
      const Scenario sc = Scenario::load((dir / name).string());
      EXPECT_GT(sc.event_count(), 0u);
    }) << name;
  }
}

}  // namespace
}  // namespace shoplink::sim
