// The host line in service: start-up scan, purge, scanning, character output under
// handshakes — the station against the simulated controller on virtual time.
#include <gtest/gtest.h>

#include "core/character_output.hpp"
#include "station/startup.hpp"
#include "support/station_fixture.hpp"
#include "support/unprivileged.hpp"
#include "ui/scan_failure.hpp"

namespace shoplink {
namespace {

using testing::make_dncdata;
using testing::StationFixture;
using testing::UnprivilegedFor;

constexpr const char* kProbe = "   \x14J\x14K";

std::string select_string(int n) {
  return std::string("\x14") + char('0' + n) + "\x14Q";
}

std::string shop_dncdata() {
  return make_dncdata("COM1:9600, 'the host line", "PCNC =30", "SYSTEM.LOG,20000",
                      {"9600 (Mazak 1) /E /2", "110", "4800 CD=3 (HAAS)", "19200 (FAST)", "2400/e",
                       "", "1200 (OKUMA) /2", "300"});
}

std::int64_t ms_of(TimePoint t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TEST(HostLineScenario, ProbeAndSetUpStringAreExactlyTheseBytes) {
  StationFixture f(shop_dncdata());
  f.start();
  const std::string expected_setup =
      std::string("\x14J\x14K") +
      // port 1: 9600 /E /2
      select_string(1) + select_string(1) +
      "\x14"
      "A"
      "28"
      "33"
      "43"
      "52"
      "1" +
      // port 2: 110 alone (two stop bits at 110 baud)
      select_string(2) + select_string(2) +
      "\x14"
      "B"
      "21"
      "34"
      "43"
      "51"
      "1" +
      select_string(3) + select_string(3) +
      "\x14"
      "C"
      "27"
      "34"
      "41"
      "51"
      "1" +
      // port 4: 19200 is no controller rate: its fastest, 9600, is sent
      select_string(4) + select_string(4) +
      "\x14"
      "D"
      "28"
      "34"
      "41"
      "51"
      "1" +
      // port 5: "/e" in lower case still counts
      select_string(5) + select_string(5) +
      "\x14"
      "E"
      "26"
      "33"
      "41"
      "52"
      "1" +
      // port 6: an empty line is 4800
      select_string(6) + select_string(6) +
      "\x14"
      "F"
      "27"
      "34"
      "41"
      "51"
      "1" +
      select_string(7) + select_string(7) +
      "\x14"
      "G"
      "25"
      "34"
      "43"
      "51"
      "1" +
      select_string(8) + select_string(8) +
      "\x14"
      "H"
      "23"
      "34"
      "41"
      "51"
      "1" +
      select_string(1) + "\x14J";
  std::string purge;
  for (int n = 1; n <= 8; ++n) purge += select_string(n);
  const std::string sent = f.shop.controller().from_host();
  ASSERT_GE(sent.size(), std::string(kProbe).size() + expected_setup.size() + purge.size());
  EXPECT_EQ(sent.substr(0, 7), kProbe);
  EXPECT_EQ(sent.substr(7, expected_setup.size()), expected_setup);
  EXPECT_EQ(sent.substr(7 + expected_setup.size(), purge.size()), purge);

  Station& s = f.s();
  EXPECT_EQ(s.ports[1].machine_name, "Mazak 1");
  EXPECT_EQ(s.ports[3].machine_name, "HAAS");
  EXPECT_EQ(s.ports[3].char_delay, 3);
  EXPECT_EQ(s.ports[4].baud_code, 0);  // 19200: neither the code nor a delay is set
  EXPECT_EQ(s.ports[0].baud_code, 8);
  // The controller understood every port block.
  EXPECT_EQ(f.shop.controller().setup_blocks(), 8);
  EXPECT_EQ(f.shop.controller().malformed_blocks(), 0);
  EXPECT_EQ(f.shop.controller().params(1).baud(), 9600);
  EXPECT_TRUE(f.shop.controller().params(1).even_parity());
  EXPECT_EQ(f.shop.controller().params(2).stop_bits(), 2);
}

// A character delay beyond about 10 s a character would overflow the pause; a negative one
// is none.
TEST(HostLineScenario, CharacterDelaysAreClamped) {
  StationFixture f(make_dncdata("COM1:9600", "", "SYSTEM.LOG",
                                {"9600 CD=30000000\n0", "9600 CD=-5\n0", "9600 CD=250\n0"}));
  f.start();
  EXPECT_EQ(f.s().ports[1].char_delay, 10000);
  EXPECT_EQ(f.s().ports[2].char_delay, 0);
  EXPECT_EQ(f.s().ports[3].char_delay, 250);
}

TEST(HostLineScenario, ScanOpensTheLineAfter3000MsInTheOrderOfTheSerialControl) {
  StationFixture f;
  f.startup_only();
  f.advance_ms(2999);
  EXPECT_FALSE(f.shop.line().is_open());
  f.advance_ms(1);
  EXPECT_TRUE(f.shop.line().is_open());
  const std::vector<std::string> expected = {"option=on",       "port=1",     "settings=9600,N,8,1",
                                             "rxbuf=4096",      "txbuf=4096", "handshaking=0",
                                             "rthreshold=2048", "rts=on",     "dtr=on",
                                             "inputlen=0",      "open"};
  EXPECT_EQ(f.shop.line().trace(), expected);
}

// Times at which the controller received the bytes from_host()[i].
std::vector<TimePoint> host_byte_times(const sim::PortController& c) {
  std::vector<TimePoint> at;
  for (const auto& e : c.transcript())
    if (!e.to_host) at.push_back(e.at);
  return at;
}

TEST(HostLineScenario, PurgeSelectsTheEightPorts200MsApartThenScans) {
  StationFixture f;
  f.start();
  f.advance_ms(150);
  const std::string sent = f.shop.controller().from_host();
  const auto times = host_byte_times(f.shop.controller());
  const auto setup_end = sent.find("\x14J", 7 + 4) + 2;  // the set-up string's closing DC4 "J"
  std::vector<std::int64_t> at;
  for (std::size_t i = setup_end; i < sent.size(); ++i)
    if (sent[i] == 'Q') at.push_back(ms_of(times[i]));
  ASSERT_GE(at.size(), 9u);
  EXPECT_EQ(sent.substr(setup_end, 32), select_string(1) + select_string(2) + select_string(3) +
                                            select_string(4) + select_string(5) + select_string(6) +
                                            select_string(7) + select_string(8));
  for (int i = 1; i < 8; ++i) EXPECT_NEAR(at[i] - at[i - 1], 200, 2) << "purge step " << i;
  EXPECT_EQ(f.window.status(), " Scanning... ");
  // The ninth tick ends the purge; scanning's first tick follows 100 ms later, and its select
  // goes out once the controller's output has been held for three characters (4 ms).
  EXPECT_NEAR(at[8] - at[7], 304, 2);
}

// The help screen's text, word for word, each line ended by CR LF.
const std::string kScanFailureHelp =
    "\r\n"
    "      Your SHOPLINK system did not scan properly. Some\r\n"
    "   problem areas and remedies are listed below. You can\r\n"
    "   use the SHOPLINK text editor to re-configure your\r\n"
    "   DNCDATA file, or you can use the SHOPLINK terminal\r\n"
    "   mode to perform some tests on your RS232 ports.\r\n"
    "\r\n"
    "                       Common problem #1\r\n"
    "   Port controller is not turned on (you know what to do)\r\n"
    "\r\n"
    "                       Common problem #2\r\n"
    "   Host port setting in line #1 of DNCDATA file does\r\n"
    "   not match DIP switch A setting on the back of the\r\n"
    "   port controller. See manual Pg. 6\r\n"
    "\r\n"
    "                       Common problem #3\r\n"
    "   Wrong COM port is selected for host connection. Do you\r\n"
    "   KNOW which COM port you're using? Do you have a\r\n"
    "   SERIAL mouse ? If so, you may need to edit line #1\r\n"
    "   of your DNCDATA file from  COM1:9600 to COM2:9600\r\n"
    "\r\n"
    "                       Common problem #4 \r\n"
    "   Your Host cable was not made properly. The host cable\r\n"
    "   must be wired as shown in Appendix B, page B-3\r\n"
    "\r\n"
    "                       Common problem #5\r\n"
    "   Your PCs serial port (or) the port controllers Host\r\n"
    "   port is not working. Use the SHOPLINK terminal mode to\r\n"
    "   conduct the simple tests described in the SHOPLINK\r\n"
    "   troubleshooting guide in Appendix H\r\n";

struct ScanFailure : ::testing::Test {
  void expect_failure(StationFixture& f, const std::string& message) {
    ASSERT_EQ(f.dialogs.boxes.size(), 1u);
    EXPECT_EQ(f.dialogs.boxes[0].title, "SHOPLINK error message");
    EXPECT_EQ(f.dialogs.boxes[0].text, message);
    EXPECT_TRUE(f.window.scan_failure_shown());
    EXPECT_EQ(f.window.scan_failure_text(), kScanFailureHelp);
    for (const auto& c : f.s().codes.controller_codes) EXPECT_TRUE(c.empty());
    EXPECT_EQ(f.s().stopscanning, 1);
    // The scan tick goes on running and does nothing.
    const auto before = f.shop.controller().from_host();
    f.advance_ms(2000);
    EXPECT_EQ(f.shop.controller().from_host(), before);
  }
};

TEST_F(ScanFailure, ControllerOffIsCtsOff) {
  StationFixture f;
  f.shop.controller().set_powered(false);
  f.startup_only();
  f.advance_ms(3100);
  expect_failure(f, "\nPort controller off\nor not connected\nCTS signal off\n");
  EXPECT_TRUE(f.shop.line().is_open());
}

TEST_F(ScanFailure, SilentController) {
  StationFixture f;
  f.shop.controller().set_silent(true);
  f.startup_only();
  f.advance_ms(3000);
  // The scan ran inside Timer1's tick at 3000 ms and waited there for the silence
  // time-out, 1000 ms after the probe, before it gave up.
  ASSERT_EQ(f.dialogs.boxes.size(), 1u);
  EXPECT_GE(f.loop.now().time_since_epoch(), millis(4000));
  EXPECT_LE(f.loop.now().time_since_epoch(), millis(4010));
  expect_failure(f, "No response from\r\nport controller");
}

TEST_F(ScanFailure, AnswerWithTheAsteriskSixthIsIncorrect) {
  StationFixture f;
  f.shop.controller().set_probe_answer("ABCDE*\r\n");
  f.startup_only();
  f.advance_ms(5000);
  expect_failure(f, "Incorrect response from\r\nport controller");
}

TEST_F(ScanFailure, MissingSerialDevice) {
  StationFixture f;
  f.shop.line().set_device_present(false);
  f.startup_only();
  f.advance_ms(3100);
  expect_failure(f,
                 "COM port #1 is not available\nEdit line #1 of your DNCDATA file\nto use "
                 "another COM port");
}

TEST(HostLineScenario, TwoLettersAndAnAsteriskPass) {
  StationFixture f;
  f.shop.controller().set_probe_answer("OK*");
  f.start();
  EXPECT_TRUE(f.dialogs.boxes.empty());
}

TEST(HostLineScenario, AnAnswerInPiecesExtendsTheWaitUntilItStops) {
  StationFixture f;
  f.shop.controller().set_answer_pieces({"O", "K", "*", "\r\n"}, millis(900));
  f.start();
  EXPECT_TRUE(f.dialogs.boxes.empty());
  // The set-up string follows the last piece of the answer (not the first) after the
  // 1000 ms silence, give or take one receive poll.
  TimePoint last_piece{};
  for (const auto& e : f.shop.controller().transcript())
    if (e.to_host && e.byte == '\n') {
      last_piece = e.at;
      break;
    }
  const auto times = host_byte_times(f.shop.controller());
  const TimePoint setup_start = times.at(7);
  EXPECT_GT(ms_of(last_piece) - 3000, 2600);
  EXPECT_GE(setup_start - last_piece, millis(1000));
  EXPECT_LE(setup_start - last_piece, millis(1160));
}

// While a machine's characters wait, the tick stays on its port; once the input is taken
// the walk goes on.
TEST(HostLineScenario, ScanStaysOnAPortWhoseMachineSpeaks) {
  StationFixture f;
  f.start();
  Station& s = f.s();
  ASSERT_TRUE(f.run_until([&] { return f.shop.controller().selected_port() == 5; }, 2000));
  // Nothing takes the input but the scan tick itself.
  s.Timer13.stop();
  f.shop.machine(5).send_raw("A");
  f.advance_ms(1000);
  EXPECT_EQ(f.shop.controller().selected_port(), 5);
  EXPECT_EQ(s.port, 5);
  EXPECT_EQ(s.line.read(), "A");
  f.advance_ms(100);
  EXPECT_EQ(s.port, 6);
}

TEST(HostLineScenario, WithoutXoffWaitEachTickSendsOnlyTheSelectString) {
  StationFixture f;
  f.start();
  const auto before = f.shop.controller().from_host().size();
  // The purge leaves the port past 8, so the walk starts again at port 1.
  const int first = f.s().port >= 8 ? 1 : f.s().port + 1;
  f.advance_ms(1005);
  const std::string ticks = f.shop.controller().from_host().substr(before);
  std::string expected;
  for (int k = 0; k < 10; ++k) expected += select_string((first - 1 + k) % 8 + 1);
  // Ten ticks in one second, each only the next port's select string; after port 8 the
  // walk returns to port 1.
  EXPECT_EQ(ticks, expected);
}

TEST(HostLineScenario, XoffWaitHoldsEachPortWithXoffAndReleasesItWithXon) {
  StationFixture f;
  f.write_file("Scanrate", "100\r\n50\r\n");
  f.start();
  const auto before = f.shop.controller().from_host().size();
  f.advance_ms(160);
  const std::string tick = f.shop.controller().from_host().substr(before);
  // DTR off + 147 on the current port, the hold, then select the next and DTR on + Xon.
  ASSERT_GE(tick.size(), 6u);
  EXPECT_EQ(static_cast<unsigned char>(tick[0]), 147);
  EXPECT_EQ(tick.substr(1, 4), select_string(f.s().port));
  EXPECT_EQ(tick[5], '\x11');
}

// The character output under the machine's handshakes.
struct CharacterOutput : ::testing::Test {
  StationFixture f;
  void SetUp() override {
    f.start();
    Station& s = f.s();
    // Stay on port 3 with nothing else reading the line: sendchar reads the handshakes.
    ASSERT_TRUE(f.run_until([&] { return s.port == 3; }, 2000));
    s.stopscanning = 1;
    s.Timer2.stop();
    s.Timer13.stop();
    f.advance_ms(50);
  }
};

TEST_F(CharacterOutput, XoffStopsOutputWithinOneCharacterAndXonResumes500MsLater) {
  Station& s = f.s();
  auto& m = f.shop.machine(3);
  const std::string text(400, 'X');  // ~400 ms at 9600 baud
  const TimePoint t0 = f.loop.now();
  f.shop.at(t0 - f.shop.start() + millis(100), [&] { m.send_xoff(); });
  f.shop.at(t0 - f.shop.start() + millis(1000), [&] { m.send_xon(); });
  sendchar(s, text);
  f.advance_ms(100);  // the controller's buffer drains to the machine
  EXPECT_EQ(m.received_bytes(), text);
  // From the transcript: when the Xoff and Xon reached the station, and when each
  // character left it.
  TimePoint xoff_at{}, xon_at{};
  std::vector<TimePoint> sent;
  for (const auto& e : f.shop.controller().transcript()) {
    if (e.at < t0) continue;
    if (e.to_host && (e.byte & 127) == 19) xoff_at = e.at;
    if (e.to_host && (e.byte & 127) == 17) xon_at = e.at;
    if (!e.to_host && e.byte == 'X') sent.push_back(e.at);
  }
  ASSERT_NE(xoff_at, TimePoint{});
  ASSERT_NE(xon_at, TimePoint{});
  // Each byte takes one character time on the host line: the Xoff reaches the station one
  // character after the controller sends it, and a character reaches the controller one
  // character after the station wrote it.
  const Duration byte = sim::byte_time(9600);
  int after_xoff = 0;
  for (auto t : sent)
    if (t - byte > xoff_at + byte && t < xon_at) ++after_xoff;
  EXPECT_LE(after_xoff, 1) << "characters written after the Xoff arrived";
  TimePoint resumed = TimePoint::max();
  for (auto t : sent)
    if (t > xon_at) resumed = std::min(resumed, t);
  EXPECT_GE(resumed - xon_at, millis(500));
  EXPECT_LT(resumed - xon_at, millis(520));
  EXPECT_NE(s.inputtext.find("<Xoff>"), std::string::npos);
  EXPECT_NE(s.inputtext.find("<Xon>"), std::string::npos);
}

TEST_F(CharacterOutput, MaskRemovesItsCharactersExceptOnAbPorts) {
  Station& s = f.s();
  s.ports[3].mask = " ";
  sendchar(s, "G01 X1.0");
  s.ports[3].code_line = "0 AB";
  sendchar(s, " Y2");
  f.advance_ms(20);
  EXPECT_EQ(f.shop.machine(3).received_bytes(), "G01X1.0 Y2");
}

TEST_F(CharacterOutput, SlashDHoldsBackTextWithDollarAndPercent) {
  Station& s = f.s();
  s.ports[3].code_line = "0 /D";
  sendchar(s, "$%");
  sendchar(s, "%");
  f.advance_ms(20);
  EXPECT_EQ(f.shop.machine(3).received_bytes(), "%");
}

TEST_F(CharacterOutput, CtsOffHoldsOutputAndAStopEndsIt) {
  Station& s = f.s();
  f.shop.line().set_cts_forced_off(true);
  const TimePoint t0 = f.loop.now();
  f.shop.at(t0 - f.shop.start() + millis(300), [&] { s.send_aborted = 1; });
  sendchar(s, "ABC");
  EXPECT_GE(f.loop.now() - t0, millis(300));
  f.advance_ms(20);
  EXPECT_EQ(f.shop.machine(3).received_bytes(), "");
}

TEST_F(CharacterOutput, ParityXonWithTopBitSetCountsAsXon) {
  Station& s = f.s();
  s.xoff = 1;
  const TimePoint t0 = f.loop.now();
  f.shop.at(t0 - f.shop.start() + millis(100), [&] { f.shop.machine(3).send_raw("\x91"); });
  sendchar(s, "A");
  EXPECT_EQ(s.xoff, 0);
  f.advance_ms(20);
  EXPECT_EQ(f.shop.machine(3).received_bytes(), "A");
}

}  // namespace
}  // namespace shoplink

namespace shoplink {
namespace {

// Queue command files dropped by other programs: served on the tick that selects their
// port, deleted before the command runs.
TEST(QueueScenario, QueueFileIsServedOnTheTickThatSelectsItsPortAndDeletedFirst) {
  StationFixture f;
  f.start();
  Station& s = f.s();
  ASSERT_TRUE(f.run_until([&] { return s.port == 1; }, 2000));
  f.write_file("O1234", "%\r\nO1234\r\nG0X0\r\nM30\r\n%\r\n");
  f.write_file("SHOPLINK Queue command 5", "O1234\r\nignored second line\r\n");
  // Ports 2, 3 and 4 pass without serving it.
  ASSERT_TRUE(f.run_until([&] { return s.port == 4; }, 1000));
  EXPECT_TRUE(f.dir.exists("SHOPLINK Queue command 5"));
  EXPECT_EQ(s.mode, Mode::Scanning);
  ASSERT_TRUE(f.run_until([&] { return s.port == 5; }, 1000));
  EXPECT_FALSE(f.dir.exists("SHOPLINK Queue command 5"));
  EXPECT_TRUE(f.logged("Port 5 Request for file " + s.station_dir() + "/O1234"));
  EXPECT_EQ(s.mode, Mode::Settling);
  EXPECT_EQ(s.mode_after_purge, Mode::Sending);
  EXPECT_FALSE(s.Timer2.enabled());  // the scan waits for the request to end
  EXPECT_FALSE(s.remote_queue);
}

// The file is gone before its command runs: a request for the queue file itself (long
// names keep the spaces) finds nothing to send.
TEST(QueueScenario, TheFileIsDeletedBeforeItsCommandRuns) {
  StationFixture f(make_dncdata("COM1:9600", "WINDOWS", "SYSTEM.LOG", {}));
  f.start();
  f.write_file("SHOPLINK Queue command 3", "SHOPLINK Queue command 3\r\n");
  ASSERT_TRUE(f.run_until([&] { return f.logged("File not found"); }, 3000));
  EXPECT_FALSE(f.dir.exists("SHOPLINK Queue command 3"));
}

// Other programs end the line with CR, LF or both.
TEST(QueueScenario, TheFirstLineEndsAtAnyLineEnd) {
  for (const char* text : {"O1234\rsecond\r", "O1234\nsecond\n", "O1234\r\nsecond"}) {
    StationFixture f;
    f.start();
    f.write_file("O1234", "G0X0\r\n");
    f.write_file("SHOPLINK Queue command 2", text);
    ASSERT_TRUE(f.run_until([&] { return !f.dir.exists("SHOPLINK Queue command 2"); }, 3000));
    EXPECT_TRUE(f.logged("Port 2 Request for file " + f.s().station_dir() + "/O1234"))
        << ::testing::PrintToString(f.log_messages());
  }
}

// A file that cannot be deleted would be served on every pass of the scan: it is reported
// once and its command is never run.
TEST(QueueScenario, AFileThatCannotBeDeletedIsReportedOnceAndNotRun) {
  StationFixture f(make_dncdata("COM1:9600,Q", "", "SYSTEM.LOG", {}));
  f.write_file("Q/README", "queue folder\r\n");
  f.start();
  Station& s = f.s();
  f.write_file("O1234", "G0X0\r\n");
  f.write_file("Q/SHOPLINK Queue command 4", "O1234\r\n");
  {
    // Deleting needs write permission on the folder; root is stripped of its override.
    UnprivilegedFor guard(f.dir.path(), f.dir.path() / "Q");
    f.advance_ms(5000);
  }
  EXPECT_TRUE(f.dir.exists("Q/SHOPLINK Queue command 4"));
  EXPECT_FALSE(f.logged("Port 4 Request for file " + s.station_dir() + "/O1234"));
  const auto log = f.log_messages();
  const auto reports = std::count_if(log.begin(), log.end(), [](const std::string& l) {
    return l.find("SHOPLINK Queue command 4 cannot be deleted") != std::string::npos;
  });
  EXPECT_EQ(reports, 1) << ::testing::PrintToString(log);
  EXPECT_EQ(s.mode, Mode::Scanning);
  EXPECT_TRUE(s.Timer2.enabled());
}

TEST(QueueScenario, AnEmptyFirstLineIsTheCommandTAlone) {
  StationFixture f;
  f.start();
  Station& s = f.s();
  f.write_file("SHOPLINK Queue command 2", "");
  ASSERT_TRUE(f.run_until([&] { return !f.dir.exists("SHOPLINK Queue command 2"); }, 2000));
  // "T" with no name: answered with the not-found reply.
  EXPECT_TRUE(f.logged("File not found"));
  EXPECT_EQ(f.read_file("notfound.alm"), "(FILE NOT FOUND)\r\n");
  EXPECT_EQ(s.port, 2);
}

}  // namespace
}  // namespace shoplink

namespace shoplink {
namespace {

// A machine that reports an event and asks for a program right after: the return to
// scanning armed by the event must not cut the request off.
TEST(RequestAfterEvent, ARequestWithinTheReturnToScanningIsServed) {
  StationFixture f;
  f.start();
  Station& s = f.s();
  f.write_file("O1234", "G0X0\r\nM30\r\n");
  ASSERT_TRUE(f.run_until([&] { return f.shop.controller().selected_port() == 3; }, 2000));
  auto& m = f.shop.machine(3);
  m.send_command("S");  // beginning of cycle: settling, then Timer4 back to scanning
  // The event's settling ends after 1000 ms and arms the 2000 ms return to scanning; the
  // request comes in between.
  const TimePoint t0 = f.loop.now();
  f.shop.at(t0 - f.shop.start() + millis(1800), [&] { m.send_command("TO1234"); });
  f.shop.at(t0 - f.shop.start() + millis(3500), [&] { m.send_xon(); });
  ASSERT_TRUE(f.run_until(
      [&] { return f.logged("File " + s.station_dir() + "/O1234 transmitted"); }, 20000))
      << "the program was not sent";
  f.advance_ms(200);
  EXPECT_NE(m.received_text().find("G0X0"), std::string::npos);
}

}  // namespace
}  // namespace shoplink

namespace shoplink {
namespace {

// An operator picks a port at the keyboard and its machine asks for a program that takes
// longer than the keyboard hold: the scan must not resume under the transfer (a port
// selection mid-program sends the rest to another machine), and the hold ends once.
TEST(KeyboardSelection, TheHoldEndsOnceAndNeverMovesTheScanUnderATransfer) {
  StationFixture f;
  f.start();
  Station& s = f.s();
  std::string program;
  for (int i = 0; program.size() < 20000; ++i) program += "N" + std::to_string(i) + "G1X1.Y2.\r\n";
  f.write_file("O1234", program);
  for (char c : std::string("3\r")) key_press(s, c);
  ASSERT_EQ(s.port, 3);
  auto& m = f.shop.machine(3);
  m.send_command("TO1234");
  f.shop.at(f.loop.now() - f.shop.start() + millis(1500), [&] { m.send_xon(); });
  const TimePoint t0 = f.loop.now();
  ASSERT_TRUE(f.run_until(
      [&] { return f.logged("File " + s.station_dir() + "/O1234 transmitted"); }, 60000));
  ASSERT_GT(f.loop.now() - t0, millis(12000)) << "the transfer must outlast the hold";
  f.advance_ms(5000);
  EXPECT_NE(m.received_text().find(program), std::string::npos) << "the program arrived incomplete";
  for (int k : {1, 2, 4, 5, 6, 7, 8})
    EXPECT_EQ(f.shop.machine(k).received_text(), "") << "machine " << k << " got program bytes";
  EXPECT_EQ(s.mode, Mode::Scanning);
  EXPECT_FALSE(s.Timer8.enabled()) << "the keyboard hold keeps restarting the scan";
}

}  // namespace
}  // namespace shoplink

namespace shoplink {
namespace {

// A stop (SIGINT/SIGTERM) while the station waits inside a transfer or the start-up probe:
// every wait sees it at once, nothing is logged after it, and the stop is logged once.
TEST(Stop, EveryWaitEndsAtOnceAndTheStopIsTheLastLine) {
  struct Case {
    const char* name;
    // Brings the station towards a wait; returns when (after start) the stop comes.
    std::function<Duration(StationFixture&)> hold;
  };
  // The transfer runs inside the serial poll's handler, so the hold and the stop are shop
  // events that happen in the middle of it.
  const auto in_transfer = [](StationFixture& f, std::function<void()> hold) {
    std::string program;
    for (int i = 0; program.size() < 100000; ++i) program += "N" + std::to_string(i) + "G1X1.\r\n";
    f.write_file("O1234", program);
    f.start();
    auto& m = f.shop.machine(2);
    m.send_command("TO1234");
    const Duration now = f.loop.now() - f.shop.start();
    f.shop.at(now + millis(1500), [&m] { m.send_xon(); });
    f.shop.at(now + millis(4000), std::move(hold));
    return now + millis(6000);
  };
  const std::vector<Case> cases{
      {"machine holds with Xoff",
       [&](StationFixture& f) { return in_transfer(f, [&] { f.shop.machine(2).send_xoff(); }); }},
      {"CTS off",
       [&](StationFixture& f) {
         return in_transfer(f, [&] { f.shop.line().set_cts_forced_off(true); });
       }},
      {"start-up probe",
       [](StationFixture& f) {
         f.shop.controller().set_silent(true);
         f.startup_only();
         return f.loop.now() - f.shop.start() + millis(3500);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StationFixture f;
    const Duration stop_at = c.hold(f);
    Station& s = f.s();
    TimePoint stopped_at{};
    bool was_waiting = false;
    f.shop.at(stop_at, [&] {
      was_waiting = s.mode == Mode::ControllerAnswer || (s.sending == 1 && s.mode == Mode::Sending);
      stopped_at = f.loop.now();
      request_stop(s);
    });
    f.advance_ms(60000);
    EXPECT_TRUE(was_waiting) << "the stop came when nothing waited";
    ASSERT_TRUE(s.loop.quit_requested());
    EXPECT_LT(f.loop.now() - stopped_at, millis(1000)) << "the stop waited";
    shutdown(s);
    shutdown(s);  // a second call (the failed scan's own) adds nothing
    const auto log = f.log_messages();
    ASSERT_FALSE(log.empty());
    const std::string stopped = "SHOPLINK stopped (Mode menu / Exit)";
    EXPECT_EQ(log.back(), stopped) << ::testing::PrintToString(log);
    EXPECT_EQ(std::count(log.begin(), log.end(), stopped), 1);
    EXPECT_FALSE(s.exit_status.has_value()) << "the probe was judged after the stop";
    for (const auto& l : log) EXPECT_EQ(l.find("transmitted"), std::string::npos) << l;
  }
}

}  // namespace
}  // namespace shoplink
