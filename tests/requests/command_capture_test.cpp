#include "requests/command_capture.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "requests/request_station.hpp"
#include "requests/scanning_poll.hpp"

namespace shoplink::testing {
namespace {

// The byte with even parity in bit 7, as most controls send.
std::string even(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    out += static_cast<char>(__builtin_popcount(b) % 2 ? b | 0x80 : b);
  }
  return out;
}

struct Capture : RequestStation {
  void SetUp() override { s.mode = Mode::Receiving; }  // capture only: nothing interpreted
  void capture(const std::string& arrived) {
    s.rx_string += arrived;
    capture_command(s, arrived.size());
  }
};

TEST_F(Capture, AnAsciiBlockIsDecodedShownAndLogged) {
  capture(even("TO1\x11"
               "2\x13"
               "34\x12\x14") +
          "\r\nNEXT");
  EXPECT_EQ(s.rx_line, "TO1234");  // DC1..DC4 dropped
  EXPECT_EQ(s.rx_code, 0);
  EXPECT_EQ(s.rx_code_unknown, 0);
  EXPECT_EQ(s.rx_string, "\nNEXT");  // the rest waits for the next call
  EXPECT_EQ(s.inputtext, "(Receiving ASCII command:)\r\n<TO1234>\r\n");
  EXPECT_EQ(log_messages(), std::vector<std::string>{"Port 1 - ASCII command received: <TO1234>"});
  EXPECT_TRUE(s.Timer13.enabled());
}

TEST_F(Capture, AnEiaBlockEndsWithTheEndOfBlockByte) {
  std::string block;
  for (char c : std::string("TO1234")) block += static_cast<char>(s.codes.send[3][c]);
  capture(block + "\x80");
  EXPECT_EQ(s.rx_code, 1);
  EXPECT_EQ(s.rx_line, "TO1234");
  EXPECT_EQ(s.inputtext, "(Receiving EIA command:)\r\n<TO1234>\r\n");
  EXPECT_EQ(log_messages(), std::vector<std::string>{"Port 1 - EIA command received: <TO1234>"});
}

TEST_F(Capture, AnUnfinishedBlockWaitsAndABareEndOnlyRearmsTheTimers) {
  capture("TO12");
  EXPECT_EQ(s.rx_string, "TO12");
  EXPECT_TRUE(s.rx_line.empty());
  EXPECT_TRUE(s.Timer13.enabled());
  s.rx_string = "\n";
  s.Timer6.stop();
  capture("");
  EXPECT_TRUE(s.rx_string.empty());
  EXPECT_TRUE(s.Timer6.enabled());
  EXPECT_TRUE(log_messages().empty());
  s.showdata = 0;
  capture("X\r");
  EXPECT_TRUE(log_messages().empty());  // shown and logged only with showdata
  EXPECT_EQ(s.rx_line, "X");
}

TEST_F(Capture, TheBurnyEnquiryIsAnsweredOnce) {
  capture("\x1b\x05");
  EXPECT_EQ(line.written, "\x06");
  EXPECT_EQ(s.WEID, 2);
  capture("");  // the same characters walked again on the next poll
  capture("\x05");
  EXPECT_EQ(line.written, "\x06");
  capture("\x03");
  EXPECT_EQ(s.WEID, 3);
  capture("\x1b\x05");
  EXPECT_EQ(line.written, "\x06\x06");
}

TEST_F(Capture, AnEnquiryAfterAnIgnoredCommandIsAnsweredAtOnce) {
  s.mode = Mode::Scanning;
  capture("Q1\r\x1b\x05");
  EXPECT_EQ(log_messages().back(), "Command ignored");
  EXPECT_EQ(line.written, "\x06");
  capture("");
  EXPECT_EQ(line.written, "\x06");
}

TEST_F(Capture, TheLynxPromptOnLynxPortsOnly) {
  capture("!S");
  EXPECT_EQ(line.written, "");
  EXPECT_EQ(s.rx_string, "!S");

  s.rx_string.clear();
  port().code_line = "0 LYNX";
  capture("!S");
  EXPECT_EQ(line.written, "ENTER FILE NAME:\x03");
  EXPECT_TRUE(s.Lynx_request);
  EXPECT_TRUE(s.rx_string.empty());
  EXPECT_TRUE(s.rx_line.empty());
  EXPECT_TRUE(s.Timer6.enabled());
  EXPECT_EQ(s.Timer6.interval(), 30000);
  port().delay_ms = 45000;
  capture("!S");
  EXPECT_EQ(s.Timer6.interval(), 45000);
  capture("!SX");  // three characters: an ordinary text
  EXPECT_EQ(s.rx_string, "!SX");
}

TEST_F(Capture, FilterInputReadsLinesWithoutCarriageReturns) {
  dir.write("P", std::string("AB\x01"
                             "C\tD\xC5\x7f\r\nEF"));
  ASSERT_TRUE(s.files.open(1, dir.path() / "P", FileMode::Read));
  s.Openfile = 1;
  EXPECT_EQ(filter_input(s),
            "AB"
            "C\tDE\x7f");
  EXPECT_EQ(filter_input(s), "EF");
  EXPECT_EQ(filter_input(s), "");
  s.Openfile = 0;
  EXPECT_EQ(filter_input(s), "");
}

struct ScanningPoll : RequestStation {
  void SetUp() override {
    s.mode = Mode::Scanning;
    s.port = 3;
    s.Timer2.start();
  }
};

TEST_F(ScanningPoll, ALoneDc2IsAnsweredWithXon) {
  for (const std::string& got : {std::string("\x12"), std::string("\x92"), std::string("  \x12"),
                                 std::string("\xA0\xA0\x92")}) {
    line.written.clear();
    s.receiving = 0;
    receive_poll_scanning(s, got);
    EXPECT_EQ(line.written, "\x11");
  }
  line.written.clear();
  s.receiving = 0;
  receive_poll_scanning(s, "A\x12");
  EXPECT_EQ(line.written, "");
}

TEST_F(ScanningPoll, XonSendsThePendingReportEachTime) {
  s.reply_buffer[3] = "(REPORT)\r\n";
  receive_poll_scanning(s, "\x11");
  receive_poll_scanning(s, "\x91");
  EXPECT_EQ(line.written, "(REPORT)\r\n(REPORT)\r\n");
  line.written.clear();
  port().code_line = "0 AB";
  receive_poll_scanning(s, "\x11");
  EXPECT_EQ(line.written, "");
}

TEST_F(ScanningPoll, TheFirstCharactersHoldTheScanOnThisPort) {
  s.rx_string = "stale";
  receive_poll_scanning(s, "XO");
  EXPECT_FALSE(s.Timer2.enabled());
  EXPECT_EQ(s.receiving, 1);
  EXPECT_EQ(s.rx_code_unknown, 1);
  EXPECT_EQ(s.rx_string, "XO");
  EXPECT_TRUE(s.Timer6.enabled());
  EXPECT_EQ(window.text(Field::MachineEntry), "MILL3");
  EXPECT_FALSE(window.menu_enabled(Menu::mode_scan));
  EXPECT_FALSE(window.visible(Element::PortSelector));
  receive_poll_scanning(s, "1\r\n");  // the rest of the block on a later poll
  EXPECT_EQ(log_messages().front(), "Port 3 - ASCII command received: <XO1>");
}

}  // namespace
}  // namespace shoplink::testing
