// A machine asks for a program and receives exactly the right bytes: the opening, each line
// with its end of block, the trailer; the station then returns to scanning.
#include <gtest/gtest.h>

#include "base/text.hpp"
#include "transmit/transmit_story.hpp"

namespace shoplink {
namespace {

using testing::even;
using testing::even_default_trailer;
using testing::port1_dncdata;
using testing::TransmitStory;

const char* kProgram = "%\r\nO1234\r\nG01X1.0\r\nM30\r\n%\r\n";

TEST(TransmitScenario, PlainEvenParityPortGetsOpeningLinesAndDefaultTrailer) {
  TransmitStory t(port1_dncdata("0"));
  t.f.write_file("O1234", kProgram);
  t.request("TO1234");
  t.xon_and_finish();
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even(kProgram) + even_default_trailer());
  EXPECT_TRUE(t.logged("Xon received - sending file "));
  EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/O1234 transmitted"));
  EXPECT_TRUE(t.status_shown("File sent..."));
  EXPECT_EQ(t.f.window.statuses.back(), " Scanning... ");
  EXPECT_TRUE(t.s().Filename.empty());
  // Closing: the controller's buffer of the port is cleared after the last program byte.
  const std::string sent = t.from_host();
  const auto end_of_program = sent.rfind("\x84\x14\x14");
  ASSERT_NE(end_of_program, std::string::npos);
  EXPECT_EQ(sent.substr(end_of_program + 3, 2), "\x14Q");
  EXPECT_TRUE(t.f.window.menu_enabled(Menu::mode_scan));
}

// Only a numbered program's first line is a quoted header that stays at home; a named
// program whose first line happens to begin with a quote is sent whole.
TEST(TransmitScenario, ANamedProgramWhoseFirstLineIsQuotedIsSentWhole) {
  TransmitStory t(port1_dncdata("0"));
  const char* program = "\"SETUP 4\"\r\nO1234\r\nM30\r\n";
  t.f.write_file("O1234", program);
  t.request("TO1234");
  t.xon_and_finish();
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even(program) + even_default_trailer());
}

TEST(TransmitScenario, EiaPortOpensWithTheEiaEndOfBlock) {
  TransmitStory t(port1_dncdata("3"));
  sim::MachineConfig eia;
  eia.code = sim::MachineCode::Eia;
  t.machine().configure(eia);
  t.f.write_file("O12", "O12\r\nG1\r\n");
  t.request("TO12");
  t.xon_and_finish();
  const std::string expected = std::string("\x80") + "\x46\x01\x02\x80" + "\x67\x01\x80" +
                               // ten blank NULs, "%", end of block, EOT (no EIA code) and DC4 twice
                               std::string(10, '\x10') + "\x0B\x80" + std::string(1, '\0') +
                               "\x2F\x2F";
  EXPECT_EQ(t.machine().received_bytes(), expected);
}

TEST(TransmitScenario, LeaderFileReplacesTheOpeningEndOfBlock) {
  TransmitStory t(port1_dncdata("0"));
  t.f.write_file("LEADER.001", std::string(200, '\0'));
  t.f.write_file("O1234", kProgram);
  t.request("TO1234");
  t.xon_and_finish();
  EXPECT_EQ(t.machine().received_bytes(),
            std::string(200, '\0') + even(kProgram) + even_default_trailer());
}

TEST(TransmitScenario, ConfiguredEobEndsEveryLineUnconverted) {
  TransmitStory t(port1_dncdata("0", ",EOB=13,10,10,"));
  t.f.write_file("O1", "O1\r\nG01X1.0\r\n%*\r\nM30\r\n");
  t.request("TO1");
  ASSERT_EQ(t.s().ports[1].eob, "\r\n\n");
  t.xon_and_finish();
  const std::string eob = "\r\n\n";
  const std::string expected = even("\r\n\n") +  // the opening end of block is converted
                               even("O1") + eob + even("G01X1.0") + eob +
                               even("%") +  // "%*": the "%" alone, no end of block
                               even("M30") + eob + even(std::string(10, '\0') + "%") + eob +
                               even("\x04") + "\x14";
  EXPECT_EQ(t.machine().received_bytes(), expected);
}

TEST(TransmitScenario, FileWithoutCarriageReturnsGoesThroughTheLineFilter) {
  TransmitStory t(port1_dncdata("0"));
  t.f.write_file("O7", "O7\nG1\tX2\n\x01M30\n");
  t.request("TO7");
  t.xon_and_finish();
  EXPECT_TRUE(t.logged("No CRs found in file - using auto filter function"));
  EXPECT_EQ(t.machine().received_bytes(),
            even("\r\n") + even("O7\r\nG1\tX2\r\nM30\r\n") + even_default_trailer());
}

TEST(TransmitScenario, NoXonSendsAfterTheTimeOut) {
  TransmitStory t(port1_dncdata("0"));
  t.f.write_file("O1234", kProgram);
  t.request("TO1234");
  const TimePoint waiting_since = t.f.loop.now();
  t.finish();
  EXPECT_TRUE(t.logged("Xon not received - sending after timeout"));
  EXPECT_FALSE(t.logged("Xon received - sending file "));
  EXPECT_TRUE(t.terminal_shown("(Xon not received ...)\r\n(sending " + t.s().station_file("O1234") +
                               " after timeout)\r\n"));
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even(kProgram) + even_default_trailer());
  // The "=5" of DNCDATA line 2: five seconds, then Timer20's 200 ms.
  EXPECT_GE(t.first_station_byte_after(waiting_since + millis(5000)) - waiting_since, millis(5200));
  EXPECT_EQ(t.bytes_from_host_between(waiting_since + millis(300), waiting_since + millis(5000)),
            0);
}

TEST(TransmitScenario, SlashXIgnoresTheXonAndSendsAfterTheTimeOut) {
  TransmitStory t(port1_dncdata("0 /X"));
  t.f.write_file("O1234", kProgram);
  t.request("TO1234");
  const TimePoint waiting_since = t.f.loop.now();
  t.machine().send_xon();
  t.f.advance_ms(4000);
  EXPECT_EQ(t.s().sending, 0);
  EXPECT_EQ(t.s().xoff, 0);  // the Xon still counts as Xon
  t.finish();
  EXPECT_FALSE(t.logged("Xon received - sending file "));
  EXPECT_TRUE(t.logged("Xon not received - sending after timeout"));
  EXPECT_GE(t.first_station_byte_after(waiting_since + millis(300)) - waiting_since, millis(5200));
  EXPECT_EQ(t.machine().received_bytes(), even("\r\n") + even(kProgram) + even_default_trailer());
}

std::string numbered_lines(int n) {
  std::string out;
  for (int i = 1; i <= n; ++i)
    out += "N" + std::to_string(i * 10) + "G01X" + std::to_string(i) + "\r\n";
  return out;
}

TEST(TransmitScenario, XoffMidProgramStopsOutputWithinOneCharacterUntilXon) {
  TransmitStory t(port1_dncdata("0"));
  const std::string program = numbered_lines(40);
  t.f.write_file("O5", program);
  t.machine().on_receive("N200G01X20\r\n", "\x93", true);  // Xoff, even parity
  // The machine holds the line for three seconds.
  t.when([&] { return t.s().xoff == 1 && t.s().sending == 1; },
         [&] { t.f.loop.post_after(millis(3000), [&] { t.machine().send_xon(); }); });
  t.request("TO5");
  t.xon_and_finish();
  const TimePoint xoff_at = t.to_host_time(19, t.f.shop.start() + millis(1));
  ASSERT_NE(xoff_at, TimePoint::max());
  const TimePoint xon_at = t.to_host_time(17, xoff_at);
  ASSERT_NE(xon_at, TimePoint::max());
  EXPECT_GE(xon_at - xoff_at, millis(3000));
  const Duration ct = sim::byte_time(9600);
  // What the station wrote once the Xoff had reached it, until the Xon.
  EXPECT_LE(t.bytes_from_host_between(xoff_at + 2 * ct, xon_at), 1);
  // Output resumes 500 ms after the Xon.
  EXPECT_GE(t.first_station_byte_after(xon_at) - xon_at, millis(500));
  std::string got = t.machine().received_bytes();
  EXPECT_EQ(got, even("\r\n") + even(program) + even_default_trailer());
  EXPECT_TRUE(t.logged("File " + t.s().station_dir() + "/O5 transmitted"));
}

TEST(TransmitScenario, MachineHoldingXoffPastTheTimeOutAbortsWithLog3) {
  TransmitStory t(port1_dncdata("0"));
  const std::string program = numbered_lines(40);
  t.f.write_file("O5", program);
  t.machine().on_receive("N200G01X20\r\n", "\x93", true);
  t.request("TO5");
  t.xon_and_finish();
  EXPECT_TRUE(t.logged("Xoff Handshake timeout ... File not sent"));
  EXPECT_TRUE(t.status_shown("CNC won't accept"));
  EXPECT_FALSE(t.logged("File " + t.s().station_dir() + "/O5 transmitted"));
  EXPECT_FALSE(t.status_shown("File sent..."));
  const std::string& got = t.machine().received_bytes();
  EXPECT_EQ(got.find('\x84'), std::string::npos);  // no trailer
  EXPECT_LT(got.size(), (even("\r\n") + even(program)).size());
  EXPECT_EQ(t.s().send_aborted, 0);
  EXPECT_EQ(t.s().xoff, 0);
}

TEST(TransmitScenario, StopDuringTheLastLineSendsNoTrailerButClosesTheTransfer) {
  TransmitStory t(port1_dncdata("0"));
  const std::string last = "(LAST LINE " + std::string(120, 'X') + ")";
  t.f.write_file("O9", "O9\r\nG1\r\n" + last + "\r\n");
  std::size_t sent_before = 0;
  t.when([&] { return contains(t.machine().received_bytes(), even("(LAST LINE XXXX")); },
         [&] {
           t.s().send_aborted = 1;  // the operator's Stop
           t.s().Timer4.start();
           sent_before = t.from_host().size();
         });
  t.request("TO9");
  t.xon_and_finish();
  EXPECT_FALSE(t.status_shown("File sent..."));
  EXPECT_FALSE(t.logged("File " + t.s().station_file("O9") + " transmitted"));
  const std::string& got = t.machine().received_bytes();
  EXPECT_EQ(got.find('\x84'), std::string::npos);
  EXPECT_LT(got.size(), (even("\r\nO9\r\nG1\r\n") + even(last)).size());
  // The closing steps ran: the controller's buffer was cleared right away.
  EXPECT_EQ(t.from_host().substr(sent_before, 2), "\x14Q");
  EXPECT_EQ(t.s().send_aborted, 0);
}

TEST(TransmitScenario, MhdPortSendsOnlyTheFirstOfTwoPercentLines) {
  TransmitStory t(port1_dncdata("0 MHD"));
  t.f.write_file("O1", "%\r\n%\r\nO1\r\nM30\r\n%\r\n");
  t.request("TO1");
  t.xon_and_finish();
  EXPECT_EQ(t.machine().received_bytes(),
            even("\r\n") + even("%\r\nO1\r\nM30\r\n%\r\n") + even_default_trailer());
}

TEST(TransmitScenario, FileRemovedBeforeTheXonIsNotFoundAndScanningResumes) {
  TransmitStory t(port1_dncdata("0"));
  t.f.write_file("O1234", kProgram);
  t.request("TO1234");
  std::filesystem::remove(t.f.dir.path() / "O1234");
  t.xon_and_finish();
  EXPECT_TRUE(t.logged("Xon received - sending file "));
  EXPECT_TRUE(t.logged("File not found"));
  EXPECT_EQ(t.machine().received_bytes(), "");
}

}  // namespace
}  // namespace shoplink
