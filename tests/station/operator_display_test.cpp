// What the operator's window is told, rule by rule, on virtual time against the simulated
// shop: an upload shows each line once, the password state keeps the keys, the dialogs name
// their port and machine, no stale text outlives its state, and a host line that is down
// looks down.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/text.hpp"
#include "core/scan_selection.hpp"
#include "receive/manual_receive.hpp"
#include "station/line_display.hpp"
#include "station/operator_commands.hpp"
#include "station/startup.hpp"
#include "support/line_station.hpp"
#include "support/station_fixture.hpp"
#include "transmit/manual_send.hpp"

namespace shoplink {
namespace {

using testing::StationFixture;

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string program_of(int lines) {
  std::string p;
  for (int i = 1; i <= lines; ++i)
    p += "N" + std::to_string(i) + " G01 X" + std::to_string(i) + ".5\n";
  return p;
}

// An upload, by a store request or by the operator's Receive file: "Data coming in" shows
// each stored line once, and nothing of the raw stream the polls cut into pieces.
class UploadDisplay : public ::testing::TestWithParam<bool> {};

TEST_P(UploadDisplay, ShowsEachLineOnce) {
  StationFixture f;
  f.start();
  sim::Machine& m = f.shop.machine(3);
  if (GetParam()) {  // manual receive
    f.dialogs.file_answers.push_back(f.paths.host_path("O77.NC").string());
    select_port(f.s(), 3);
    mode_receive_Click(f.s());
  } else {
    m.send_command("RO77");
  }
  ASSERT_TRUE(f.run_until([&] { return f.s().mode == Mode::Receiving; }, 20000));
  sim::UploadOptions o;
  o.burst_lines = 7;  // lines end up split across polls
  o.burst_pause = millis(170);
  const std::string program = program_of(40);
  m.upload(program, o);
  ASSERT_TRUE(
      f.run_until([&] { return m.uploads_done() == 1 && f.s().mode == Mode::Scanning; }, 60000));
  // 40 short lines: the display (its last 1024 characters) holds the whole upload.
  const std::string text = f.s().inputtext;
  for (int i = 1; i <= 40; ++i) {
    const std::string line = "N" + std::to_string(i) + " G01 X" + std::to_string(i) + ".5\r\n";
    EXPECT_EQ(count_of(text, line), 1u) << line << "\n" << text;
  }
  EXPECT_EQ(count_of(text, "<N1 "), 0u) << "the first line shown as a command too: " << text;
  // Every line shown is a whole program line (no "XX0", no "X325.500 YN325").
  std::size_t from = 0;
  for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", from)) {
    const std::string l = text.substr(from, end - from);
    from = end + 2;
    EXPECT_TRUE(!starts_with(l, "N") || program.find(l + "\n") != std::string::npos) << l;
  }
}

INSTANTIATE_TEST_SUITE_P(StoreRequestAndManualReceive, UploadDisplay, ::testing::Bool());

struct Screen : ::testing::Test {
  StationFixture f;
  Station& s = f.s();
  void SetUp() override { f.start(); }
  void keys(const std::string& typed) {
    for (char c : typed) key_press(s, static_cast<unsigned char>(c));
  }
};

// Enter Password lasts until a Mode command: "5 Enter" there selects no port, and scanning
// does not resume 10 s later under "Enter Password:". A Mode command ends the state.
TEST_F(Screen, ThePasswordStateKeepsTheKeysUntilAModeCommand) {
  conf_password_Click(s);
  const std::int16_t port = s.port;
  keys("5\r");
  f.advance_ms(12000);
  EXPECT_EQ(s.port, port);
  EXPECT_FALSE(s.Timer2.enabled()) << "scanning resumed";
  EXPECT_EQ(f.window.status(), "Enter Password:");
  EXPECT_FALSE(f.window.visible(Element::MachineEntry));
  mode_scan_Click(s);
  keys("5\r");
  EXPECT_EQ(s.port, 5) << "after Mode > Scanning the keys select again";
}

// Send file and Receive file act on the port the scan happened to be on: the dialog's title
// and the status name it and its machine, and the status says scanning is paused.
TEST_F(Screen, TheDialogsNameThePortAndMachine) {
  for (auto* command : {mode_send_Click, mode_receive_Click}) {
    const bool send = command == mode_send_Click;
    select_port(s, 3);
    f.window.statuses.clear();
    command(s);  // the dialog is cancelled
    ASSERT_FALSE(f.dialogs.requests.empty() || f.window.statuses.empty());
    EXPECT_EQ(f.dialogs.requests.back().title,
              send ? "Send a program to port 3 - MILL3" : "Receive a program from port 3 - MILL3");
    EXPECT_EQ(f.window.statuses.front(),
              send ? " Scanning paused - choose the program to send to port 3 - MILL3 "
                   : " Scanning paused - choose the file to receive from port 3 - MILL3 ");
    EXPECT_EQ(f.window.status(), " Scanning... ");
  }
}

// No text outlives the state it belongs to.
TEST(StaleTexts, NoneOutlivesItsState) {
  const std::string waiting = "Waiting for data ...";
  // A manual receive on port 2 into O9.NC (replacing it when `exists`), then `act`.
  const struct {
    const char* name;
    bool exists;
    std::function<void(StationFixture&)> act;
    bool waits;  // "Waiting for data" still shown, with the file's name
  } cases[] = {
      {"Esc gives up the wait", false, [](StationFixture& f) { key_press(f.s(), 27); }, false},
      {"Mode > Scanning gives up the wait", false,
       [](StationFixture& f) { mode_scan_Click(f.s()); }, false},
      {"Yes to overwrite waits with the name shown", true, [](StationFixture&) {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StationFixture f;
    f.start();
    if (c.exists) f.write_file("O9.NC", "OLD\r\n");
    f.dialogs.yes_no_answers.push_back(true);
    f.dialogs.file_answers.push_back(f.paths.host_path("O9.NC").string());
    select_port(f.s(), 2);
    mode_receive_Click(f.s());
    c.act(f);
    f.advance_ms(3000);
    const std::string name = f.paths.display(f.paths.host_path("O9.NC").string());
    EXPECT_EQ(f.window.text(Field::Input), c.waits ? name + "\r\n" + waiting + "\r\n" : "");
  }
  // A served request hid the port selector; the return to scanning shows it again.
  StationFixture f;
  f.start();
  f.shop.machine(4).send_command("TO404");  // not found: the reply goes out
  f.advance_ms(2000);
  EXPECT_FALSE(f.window.visible(Element::PortSelector));
  f.shop.machine(4).send_xon();
  f.advance_ms(30000);
  EXPECT_EQ(f.s().mode, Mode::Scanning);
  EXPECT_TRUE(f.window.visible(Element::PortSelector));
}

// After a failed start-up scan the Terminal command names the port the keys go to.
TEST(ScanFailureScreen, TerminalShowsThePort) {
  StationFixture f;
  f.shop.controller().set_silent(true);
  f.startup_only();
  f.advance_ms(10000);
  ASSERT_TRUE(f.window.scan_failure_shown());
  mode_terminal_Click(f.s());
  EXPECT_EQ(f.window.text(Field::PortDisplay), std::to_string(f.s().port));
}

// A host line that is down looks down as soon as the station knows: the lamp, and the status
// while the station would otherwise say it scans.
TEST(LineLampAndStatus, ADownLineLooksDown) {
  using Rig = testing::LineStation<>;
  const struct {
    const char* name;
    std::function<void(Rig&)> make;
    LineLamp lamp;
    const char* status;  // contains
  } cases[] = {
      {"CTS on", [](Rig&) {}, LineLamp::CtsOn, " Scanning... "},
      {"CTS off", [](Rig& t) { t.line.cts_on = false; }, LineLamp::CtsOff, " Scanning... "},
      {"device refuses output", [](Rig& t) { t.line.error = "Input/output error"; }, LineLamp::Dead,
       "dead - output not taken (Input/output error)"},
      {"reported dead", [](Rig& t) { t.s.host_line_reported = true; }, LineLamp::Dead,
       "dead - output not taken"},
      {"network connection lost", [](Rig& t) { t.s.host_line_lost = "connection refused"; },
       LineLamp::Reconnecting, "connection lost (connection refused) - reconnecting"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig t;
    t.line.open();
    t.s.port = 1;
    t.window.set_status(" Scanning... ");
    c.make(t);
    show_line_state(t.s);
    EXPECT_EQ(t.window.line_lamp(), c.lamp);
    EXPECT_NE(t.window.status().find(c.status), std::string::npos) << t.window.status();
  }
}

}  // namespace
}  // namespace shoplink
