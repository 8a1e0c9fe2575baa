// A reply outside any transfer (the Allen-Bradley activity report, the Lynx file-name prompt)
// held by its machine for good: an Xoff with no Xon, or CTS gone. Nothing else watches such a
// reply, and the station once waited on it for ever, deaf to its other seven machines. It now
// gives the reply up after the transmission time-out (30 s), logs why, and serves the others;
// a hold that lifts sooner still lets the reply out whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/text.hpp"
#include "support/station_fixture.hpp"

namespace shoplink::testing {
namespace {

struct HeldReply {
  const char* name;
  const char* code_line;  // port 2's
  // Starts the story that leads to the reply and schedules the hold; sets `held_from` to
  // when the hold begins. The reply goes out inside the station's own waits, so the hold is
  // set off by what the machine receives, not by the test stepping in.
  std::function<void(StationFixture&, sim::Machine&, TimePoint& held_from)> story;
  const char* reply_text;  // what the machine receives once the reply goes out
  const char* logged;      // the log's reason, or nullptr when the reply goes out
};

void PrintTo(const HeldReply& c, std::ostream* os) {
  *os << c.name;
}

// `action` `ms` from now, on the shop's clock.
void after(StationFixture& f, std::int64_t ms, std::function<void()> action) {
  f.shop.at(f.loop.now() - f.shop.start() + millis(ms), std::move(action));
}

// The machine stores O55 and acknowledges the report's header; `hold` runs when the report's
// first line has reached it.
void ab_upload(StationFixture& f, sim::Machine& m, std::function<void()> hold) {
  sim::MachineConfig c = m.config();
  c.ab_ack = true;
  m.configure(c);
  m.set_line_watcher([hold = std::move(hold)](const std::string& line) {
    if (line == "%") hold();
  });
  m.send_command("RO55");
  ASSERT_TRUE(f.run_until([&] { return f.s().mode == Mode::Receiving; }, 20000));
  m.upload("O55\nG1 X1.\n");
}

std::vector<HeldReply> cases() {
  return {
      {"AB report, Xoff for good", "0 AB REPLY=123",
       [](StationFixture& f, sim::Machine& m, TimePoint& held_from) {
         ab_upload(f, m, [&] {
           held_from = f.loop.now();
           m.send_xoff();
         });
       },
       "(Last line received: G1 X1.)", "Xoff Handshake timeout ... File not sent"},
      {"AB report, CTS gone for 35 s", "0 AB REPLY=123",
       [](StationFixture& f, sim::Machine& m, TimePoint& held_from) {
         ab_upload(f, m, [&] {
           held_from = f.loop.now();
           f.shop.line().set_cts_forced_off(true);
           after(f, 35000, [&f] { f.shop.line().set_cts_forced_off(false); });
         });
       },
       "(Last line received: G1 X1.)", "CTS Handshake timeout .. File not sent"},
      {"AB report, Xoff lifted after 20 s", "0 AB REPLY=123",
       [](StationFixture& f, sim::Machine& m, TimePoint& held_from) {
         ab_upload(f, m, [&] {
           held_from = f.loop.now();
           m.send_xoff();
           after(f, 20000, [&m] { m.send_xon(); });
         });
       },
       "(Last line received: G1 X1.)", nullptr},
      {"Lynx prompt, CTS gone for 35 s", "0 LYNX",
       [](StationFixture& f, sim::Machine& m, TimePoint& held_from) {
         held_from = f.loop.now();
         f.shop.line().set_cts_forced_off(true);
         after(f, 35000, [&f] { f.shop.line().set_cts_forced_off(false); });
         m.send_text("!S");
       },
       "ENTER FILE NAME:", "CTS Handshake timeout .. File not sent"},
  };
}

class HeldReplies : public ::testing::TestWithParam<HeldReply> {};

TEST_P(HeldReplies, GiveUpAfterTheTimeOutAndServeTheOtherMachines) {
  const HeldReply& c = GetParam();
  std::vector<std::string> blocks;
  for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
  blocks[1] = "9600 (MILL2)\n" + std::string(c.code_line) + "\n\n\n";
  StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG", blocks));
  f.write_file("O1234", "%\r\nO1234\r\nG0X0\r\nM30\r\n%\r\n");
  f.start();
  sim::Machine& held = f.shop.machine(2);
  TimePoint hold{};
  c.story(f, held, hold);
  const auto& st = f.window.statuses;
  const bool gave_up = f.run_until(
      [&] { return std::find(st.begin(), st.end(), "CNC won't accept") != st.end(); }, 60000);
  if (c.logged) {
    ASSERT_TRUE(gave_up) << "the held reply was never given up";
    EXPECT_GE(f.loop.now() - hold, millis(29900));
    EXPECT_LT(f.loop.now() - hold, millis(32000));
    EXPECT_TRUE(f.logged(c.logged)) << ::testing::PrintToString(f.log_messages());
    EXPECT_FALSE(contains(held.received_text(), c.reply_text));
  } else {
    EXPECT_FALSE(gave_up);
    EXPECT_TRUE(contains(held.received_text(), c.reply_text));
  }
  // The upload the report answers stays stored whole.
  if (contains(c.code_line, "AB")) {
    EXPECT_EQ(f.read_file("O55"), "O55\r\nG1 X1.\r\n");
  }

  // Another machine is served whole once the line is back.
  ASSERT_TRUE(f.run_until(
      [&] { return f.s().mode == Mode::Scanning && f.s().Timer2.enabled() && f.s().line.cts(); },
      60000));
  sim::Machine& other = f.shop.machine(5);
  other.send_command("TO1234");
  ASSERT_TRUE(f.run_until([&] { return f.s().mode == Mode::Sending && f.s().port == 5; }, 60000));
  other.send_xon();
  ASSERT_TRUE(f.run_until(
      [&] { return !other.programs().empty() && other.programs().back().complete; }, 60000))
      << ::testing::PrintToString(f.log_messages());
  EXPECT_TRUE(contains(other.received_text(), "O1234\r\nG0X0\r\nM30"));
}

INSTANTIATE_TEST_SUITE_P(Station, HeldReplies, ::testing::ValuesIn(cases()), [](const auto& info) {
  std::string n;
  for (char ch : std::string(info.param.name))
    if (std::isalnum(static_cast<unsigned char>(ch))) n += ch;
  return n;
});

}  // namespace
}  // namespace shoplink::testing
