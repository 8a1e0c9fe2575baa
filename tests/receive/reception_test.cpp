// Uploads through the whole road: the machine's store command, the settling pause, the
// program, the silence that ends it; what lands on disk, in the log and back on the line.
#include "receive/reception.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "receive/upload_rig.hpp"

namespace shoplink {
namespace {

using testing::UploadRig;

std::string seven_bit(const std::string& bytes) {
  std::string out(bytes);
  for (auto& c : out) c = static_cast<char>(c & 127);
  return out;
}

class LineEnds : public ::testing::TestWithParam<std::string> {};

TEST_P(LineEnds, EveryLineEndAndBlankLinesGiveTheSameFile) {
  UploadRig rig;
  const std::string e = GetParam();
  rig.command("RO1234");
  ASSERT_EQ(rig.s.mode, Mode::Receiving);
  rig.upload("O1234" + e + "N10G0X1." + e + e + e + "N20M30" + e + "%" + e);
  EXPECT_EQ(rig.read("UP/O1234"), "O1234\r\nN10G0X1.\r\nN20M30\r\n%\r\n");
  EXPECT_EQ(rig.s.char_count, 7 + 10 + 8 + 3);
  EXPECT_NE(rig.log().find("File " + rig.s.station_dir() + "/UP/O1234 received "),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Reception, LineEnds, ::testing::Values("\r\n", "\r", "\n", "\n\r"));

TEST(Reception, ProgramThatArrivesInPiecesAcrossPollsIsJoinedCorrectly) {
  UploadRig rig;
  rig.command("RO1");
  rig.send("O1\rN1");
  rig.run_ms(200);
  rig.send("0G1\r");
  rig.run_ms(200);
  rig.upload("N20\rLAST");  // the last line never ends: it is not stored
  EXPECT_EQ(rig.read("UP/O1"), "O1\r\nN10G1\r\nN20\r\n");
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  rig.run_ms(2100);
  EXPECT_EQ(rig.s.mode, Mode::Scanning);
}

TEST(Reception, BinaryPortStoresEveryByteUnchanged) {
  UploadRig rig;
  rig.port().code_line = "0 BINARY";
  rig.command("RO77");
  std::string bytes("\0\r\n\x12\xff\x80 %\r\0", 10);
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  rig.send(bytes.substr(0, 5));
  rig.run_ms(300);
  rig.send(std::string(1, '\x12'));  // DC2 is data here
  rig.run_ms(300);
  rig.upload(bytes.substr(5));
  EXPECT_EQ(rig.read("UP/O77"), bytes.substr(0, 5) + "\x12" + bytes.substr(5));
  EXPECT_TRUE(rig.line.option_flag());  // text traffic again after the upload
}

TEST(Reception, ControllerLineRules) {
  {
    UploadRig rig;  // OKUMA: the "$" name line is shown, not stored
    rig.port().code_line = "0 okuma";
    rig.command("RO1");
    rig.upload("$O1.MIN%\r\nN10G0\r\n&HE:1\r\n");
    EXPECT_EQ(rig.read("UP/O1"), "N10G0\r\n");
    EXPECT_NE(rig.s.inputtext.find("$O1.MIN%\r\n"), std::string::npos);
  }
  {
    UploadRig rig;  // ... unless the port's name characters use "$"
    rig.port().code_line = "0 OKUMA";
    rig.port().name_chars = "$";
    rig.command("RO1");
    rig.upload("$O1.MIN%\r\nN10\r\n");
    EXPECT_EQ(rig.read("UP/O1"), "$O1.MIN%\r\nN10\r\n");
  }
  {
    UploadRig rig;  // TOSNUC: "$" becomes "O"
    rig.port().code_line = "0 TOSNUC";
    rig.command("RO1");
    rig.upload("$1234 (PART)\r\nN1$\r\n");
    EXPECT_EQ(rig.read("UP/O1"), "O1234 (PART)\r\nN1$\r\n");
  }
  {
    UploadRig rig;  // IGNORE= characters never reach the file
    rig.port().ignore = "%";
    rig.command("RO1");
    rig.upload("%\r\nN1%0\r\n");
    EXPECT_EQ(rig.read("UP/O1"), "N10\r\n");
  }
}

// Bit 7 set where it makes the number of ones even (or odd).
std::string with_parity(const std::string& text, bool even) {
  std::string out;
  for (char c : text) {
    const bool ones_even = std::popcount(static_cast<unsigned char>(c & 127)) % 2 == 0;
    out += static_cast<char>(ones_even == even ? c & 127 : (c & 127) | 128);
  }
  return out;
}

TEST(Reception, IgnoredCharactersAreMatchedWithoutTheParityBit) {
  for (bool even : {true, false}) {
    UploadRig rig;
    rig.port().ignore = "%";
    rig.command("RO1");
    rig.upload(with_parity("%\r\nN1%0\r\n", even));
    EXPECT_EQ(rig.read("UP/O1"), "N10\r\n") << (even ? "even" : "odd");
  }
}

TEST(Reception, EiaBlankTapeIsFeedNotData) {
  UploadRig rig;
  rig.port().code_line = "3";
  auto eia = [&](const std::string& text) {
    std::string out;
    for (char c : text)
      out += static_cast<char>(rig.s.codes.send[3][static_cast<unsigned char>(c)]);
    return out + "\x80";
  };
  rig.send(eia("RO1"));
  rig.run_ms(1300);
  ASSERT_EQ(rig.s.mode, Mode::Receiving);
  const std::string blank(20, '\0');
  rig.upload(blank + eia("O1") + blank + eia("N10 G0 X1.") + eia("M30") + blank);
  EXPECT_EQ(rig.read("UP/O1"), "O1\r\nN10 G0 X1.\r\nM30\r\n");
}

TEST(Reception, Dc4ThatStartsTheUploadDuringSettlingIsNotStored) {
  UploadRig rig;
  rig.send("RO1\r\n");
  rig.run_ms(300);
  ASSERT_EQ(rig.s.mode, Mode::Settling);
  rig.upload("\x14O1\r\nN1\r\n");
  EXPECT_EQ(rig.read("UP/O1"), "O1\r\nN1\r\n");
}

TEST(Reception, OverLongLinesAreStoredInPieces) {
  UploadRig rig;
  rig.command("RO1");
  const std::size_t n = 2 * kMaxUploadLine + 100;
  for (std::size_t at = 0; at < n; at += 1000) {
    rig.send(std::string(std::min<std::size_t>(1000, n - at), 'X'));
    rig.run_ms(160);
  }
  rig.upload("\r\nN2\r\n");
  const std::string piece(kMaxUploadLine, 'X');
  EXPECT_EQ(rig.read("UP/O1"),
            piece + "\r\n" + piece + "\r\n" + std::string(100, 'X') + "\r\nN2\r\n");
  EXPECT_LT(rig.s.rx_line.capacity(), 2 * kMaxUploadLine);
}

TEST(Reception, Dc2DuringTheUploadIsAnsweredWithDc1AndNotStored) {
  UploadRig rig;
  rig.command("RO1");
  rig.send("N1\r\n");
  rig.run_ms(300);
  rig.line.written.clear();
  rig.send("\x12");
  rig.run_ms(300);
  EXPECT_EQ(rig.line.written, "\x11");
  rig.upload("N2\r\n");
  EXPECT_EQ(rig.read("UP/O1"), "N1\r\nN2\r\n");
}

TEST(Reception, NonAbReportWaitsForTheMachinesNextXon) {
  UploadRig rig;
  rig.port().code_line = "0 REPLY=O9999";
  rig.command("RO1");
  rig.upload("O1\r\nN10\r\n");
  const std::string& report = rig.s.reply_buffer[1];
  ASSERT_FALSE(report.empty());
  const std::string plain = seven_bit(report);
  const std::string name = [&] {
    std::string n = rig.s.station_file("UP") + "/O1";
    for (auto& c : n) c = (c == '\\') ? '/' : static_cast<char>(std::toupper(c));
    return n;
  }();
  EXPECT_NE(plain.find("O9999"), std::string::npos);
  EXPECT_NE(plain.find("(SHOPLINK ACTIVITY REPORT)"), std::string::npos);
  EXPECT_NE(plain.find("(PROGRAM " + name + " RECEIVED)"), std::string::npos);
  EXPECT_NE(plain.find("(FILE SIZE = 9)"), std::string::npos);
  EXPECT_NE(plain.find("(DATE = 12-07-2026)"), std::string::npos);
  EXPECT_NE(plain.find("(LAST LINE RECEIVED: N10)"), std::string::npos);
  EXPECT_TRUE(rig.s.Last_RX_line.empty());

  rig.run_ms(2500);  // back to scanning
  ASSERT_EQ(rig.s.mode, Mode::Scanning);
  rig.line.written.clear();
  rig.send("\x11");
  rig.run_ms(200);
  EXPECT_NE(rig.line.written.find(report), std::string::npos);
}

TEST(Reception, EmptyUploadPreparesNoReport) {
  UploadRig rig;
  rig.port().code_line = "0 REPLY=O9999";
  rig.command("RO1");
  rig.run_ms(31000);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  EXPECT_TRUE(rig.s.reply_buffer[1].empty());
}

TEST(Reception, AbReportWithoutAckIsLogged23AndDropped) {
  UploadRig rig;
  rig.port().code_line = "0 AB REPLY=123";
  rig.command("RO1");
  rig.line.written.clear();
  rig.upload("O1\r\nN10\r\n");
  rig.run_ms(21000);
  EXPECT_NE(seven_bit(rig.line.written).find("%COP,/TY0,PAT123"), std::string::npos);
  EXPECT_EQ(seven_bit(rig.line.written).find("DNC report"), std::string::npos);
  EXPECT_NE(rig.log().find("AK not received from CNC within 20 sec."), std::string::npos);
  EXPECT_NE(std::find(rig.window.statuses.begin(), rig.window.statuses.end(), "AK not received .."),
            rig.window.statuses.end());
  EXPECT_TRUE(rig.s.reply_buffer[1].empty());
}

TEST(Reception, AbReportIsSentAfterTheAck) {
  UploadRig rig;
  rig.port().code_line = "0 AB REPLY=123";
  rig.command("RO1");
  // The control acknowledges the header half a second after the upload has ended.
  rig.loop.post_after(millis(5700), [&rig] { rig.send("\x06"); });
  rig.upload("O1\r\nN10\r\n");
  rig.run_ms(8000);
  const std::string sent = seven_bit(rig.line.written);
  EXPECT_NE(sent.find(";(PAT123 DNC report)"), std::string::npos);
  EXPECT_NE(sent.find("(Last line received: N10)"), std::string::npos);
  // The report ends its program and its text: ";(@" line, then ETX, last.
  const auto end = sent.find(";(@ Program end)");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(sent.substr(end, 19), ";(@ Program end)\r\n\x03");
  EXPECT_EQ(rig.log().find("AK not received"), std::string::npos);
}

}  // namespace
}  // namespace shoplink
