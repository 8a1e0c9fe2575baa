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
struct UploadWay {
  const char* name;
  std::function<void(StationFixture&, sim::Machine&)> begin;
};

class UploadDisplay : public ::testing::TestWithParam<UploadWay> {};

TEST_P(UploadDisplay, ShowsEachLineOnce) {
  StationFixture f;
  f.start();
  sim::Machine& m = f.shop.machine(3);
  GetParam().begin(f, m);
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
    if (starts_with(l, "N")) EXPECT_NE(program.find(l + "\n"), std::string::npos) << l;
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, UploadDisplay,
                         ::testing::Values(UploadWay{"StoreRequest",
                                                     [](StationFixture&, sim::Machine& m) {
                                                       m.send_command("RO77");
                                                     }},
                                           UploadWay{"ManualReceive",
                                                     [](StationFixture& f, sim::Machine&) {
                                                       f.dialogs.file_answers.push_back(
                                                           f.paths.host_path("O77.NC").string());
                                                       select_port(f.s(), 3);
                                                       mode_receive_Click(f.s());
                                                     }}),
                         [](const auto& info) { return info.param.name; });

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
  const struct {
    const char* name;
    void (*command)(Station&);
    const char* title;
    const char* status;
  } cases[] = {
      {"send", mode_send_Click, "Send a program to port 3 - MILL3",
       " Scanning paused - choose the program to send to port 3 - MILL3 "},
      {"receive", mode_receive_Click, "Receive a program from port 3 - MILL3",
       " Scanning paused - choose the file to receive from port 3 - MILL3 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    select_port(s, 3);
    f.window.statuses.clear();
    c.command(s);  // the dialog is cancelled
    ASSERT_FALSE(f.dialogs.requests.empty());
    EXPECT_EQ(f.dialogs.requests.back().title, c.title);
    ASSERT_FALSE(f.window.statuses.empty());
    EXPECT_EQ(f.window.statuses.front(), c.status);
    EXPECT_EQ(f.window.text(Field::PortDisplay), "3");
    EXPECT_EQ(f.window.status(), " Scanning... ");
  }
}

// No text outlives the state it belongs to.
TEST(StaleTexts, NoneOutlivesItsState) {
  const auto wait_for_data = [](StationFixture& f, bool exists) {
    if (exists) f.write_file("O9.NC", "OLD\r\n");
    f.dialogs.yes_no_answers.push_back(true);
    f.dialogs.file_answers.push_back(f.paths.host_path("O9.NC").string());
    select_port(f.s(), 2);
    mode_receive_Click(f.s());
  };
  const std::string waiting = "Waiting for data ...";
  struct Case {
    const char* name;
    std::function<void(StationFixture&)> act;
    std::function<void(StationFixture&)> check;
  };
  const Case cases[] = {
      {"Esc gives up the wait",
       [&](StationFixture& f) {
         wait_for_data(f, false);
         key_press(f.s(), 27);
         f.advance_ms(3000);
       },
       [&](StationFixture& f) {
         EXPECT_EQ(f.window.text(Field::Input).find(waiting), std::string::npos);
         EXPECT_EQ(f.window.status(), " Scanning... ");
       }},
      {"Mode > Scanning gives up the wait",
       [&](StationFixture& f) {
         wait_for_data(f, false);
         mode_scan_Click(f.s());
         f.advance_ms(500);
       },
       [&](StationFixture& f) {
         EXPECT_EQ(f.window.text(Field::Input).find(waiting), std::string::npos);
       }},
      {"Yes to overwrite waits with the name shown",
       [&](StationFixture& f) {
         wait_for_data(f, true);
         f.advance_ms(500);
       },
       [&](StationFixture& f) {
         EXPECT_EQ(
             f.window.text(Field::Input),
             f.paths.display(f.paths.host_path("O9.NC").string()) + "\r\n" + waiting + "\r\n");
       }},
      {"a served request shows the selector again",
       [&](StationFixture& f) {
         f.shop.machine(4).send_command("TO404");  // not found: the reply goes out
         f.advance_ms(2000);
         EXPECT_FALSE(f.window.visible(Element::PortSelector));
         f.shop.machine(4).send_xon();
         f.advance_ms(30000);
       },
       [&](StationFixture& f) {
         EXPECT_EQ(f.s().mode, Mode::Scanning);
         EXPECT_TRUE(f.window.visible(Element::PortSelector));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StationFixture g;
    g.start();
    c.act(g);
    c.check(g);
  }
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
struct LineDown : testing::LineStation<> {
  LineDown() {
    s.port = 1;
    line.open();
    s.mode = Mode::Scanning;
    window.set_status(" Scanning... ");
  }
};

TEST(LineLampAndStatus, ADownLineLooksDown) {
  const struct {
    const char* name;
    std::function<void(LineDown&)> make;
    LineLamp lamp;
    const char* status;  // contains; nullptr: " Scanning... " stays
  } cases[] = {
      {"CTS on", [](LineDown&) {}, LineLamp::CtsOn, nullptr},
      {"CTS off", [](LineDown& t) { t.line.cts_on = false; }, LineLamp::CtsOff, nullptr},
      {"device refuses output", [](LineDown& t) { t.line.error = "Input/output error"; },
       LineLamp::Dead, "dead - output not taken (Input/output error)"},
      {"reported dead", [](LineDown& t) { t.s.host_line_reported = true; }, LineLamp::Dead,
       "dead - output not taken"},
      {"network connection lost", [](LineDown& t) { t.s.host_line_lost = "connection refused"; },
       LineLamp::Reconnecting, "connection lost (connection refused) - reconnecting"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LineDown t;
    c.make(t);
    show_line_state(t.s);
    EXPECT_EQ(t.window.line_lamp(), c.lamp);
    if (c.status) {
      EXPECT_NE(t.window.status().find(c.status), std::string::npos) << t.window.status();
    } else {
      EXPECT_EQ(t.window.status(), " Scanning... ");
    }
  }
}

}  // namespace
}  // namespace shoplink
