#include "transmit/code_tables.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "config/test_station.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

struct CodeTablesTest : ::testing::Test {
  CodeTables t;
  void SetUp() override { build_code_tables(t); }
  int send(int type, int c) const { return t.send[type][static_cast<std::size_t>(c)]; }
  int recv(int row, int b) const { return t.receive[row][static_cast<std::size_t>(b)]; }
};

// RS-244-B and the station's own assignments, written out from the tape code chart.
struct EiaCode {
  int c;
  int code;
};
constexpr EiaCode kEiaChart[] = {
    {0, 0x10},   {8, 0x2A},   {9, 0x3E},   {10, 0x80},  {18, 0x4C},  {20, 0x2F},  {32, 0x10},
    {'$', 0x5B}, {'%', 0x0B}, {'&', 0x0E}, {'(', 0x1A}, {')', 0x4A}, {'+', 0x70}, {',', 0x3B},
    {'-', 0x40}, {'.', 0x6B}, {'/', 0x31}, {'0', 0x20}, {'1', 0x01}, {'2', 0x02}, {'3', 0x13},
    {'4', 0x04}, {'5', 0x15}, {'6', 0x16}, {'7', 0x07}, {'8', 0x08}, {'9', 0x19}, {':', 0x46},
    {'[', 0x2C}, {']', 0x7C}, {'{', 0x7C}, {'}', 0x7A}, {209, 0x3E}, {'A', 0x61}, {'B', 0x62},
    {'C', 0x73}, {'D', 0x64}, {'E', 0x75}, {'F', 0x76}, {'G', 0x67}, {'H', 0x68}, {'I', 0x79},
    {'J', 0x51}, {'K', 0x52}, {'L', 0x43}, {'M', 0x54}, {'N', 0x45}, {'O', 0x46}, {'P', 0x57},
    {'Q', 0x58}, {'R', 0x49}, {'S', 0x32}, {'T', 0x23}, {'U', 0x34}, {'V', 0x25}, {'W', 0x26},
    {'X', 0x37}, {'Y', 0x38}, {'Z', 0x29},
};

TEST_F(CodeTablesTest, ParityRowsPutEvenAndOddParityInBit7) {
  EXPECT_EQ(send(0, 'G'), 0x47);
  EXPECT_EQ(send(1, 'G'), 0xC7);
  EXPECT_EQ(send(2, 'G'), 0x47);
  EXPECT_EQ(send(0, 'C'), 0xC3);
  EXPECT_EQ(send(1, 'C'), 0x43);
  EXPECT_EQ(send(0, 0), 0x00);
  EXPECT_EQ(send(1, 0), 0x80);
  for (int c = 0; c < 128; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(std::popcount(static_cast<unsigned>(send(0, c))) % 2, 0);
    EXPECT_EQ(std::popcount(static_cast<unsigned>(send(1, c))) % 2, 1);
    EXPECT_EQ(send(0, c) & 0x7F, c);
    EXPECT_EQ(send(1, c) & 0x7F, c);
    EXPECT_EQ(send(2, c), c);
  }
  for (int c = 128; c < 256; ++c) {
    EXPECT_EQ(send(0, c), 0);
    EXPECT_EQ(send(1, c), 0);
    EXPECT_EQ(send(2, c), 0);
  }
}

TEST_F(CodeTablesTest, EiaRowFollowsTheChartWithLowerCaseAsUpperCase) {
  int charted = 0;
  for (const auto& e : kEiaChart) {
    SCOPED_TRACE(e.c);
    EXPECT_EQ(send(3, e.c), e.code);
    // The tape's parity track: every punched code has an odd number of holes.
    EXPECT_EQ(std::popcount(static_cast<unsigned>(e.code)) % 2, 1);
    ++charted;
  }
  EXPECT_EQ(charted, 59);
  for (int c = 'a'; c <= 'z'; ++c) EXPECT_EQ(send(3, c), send(3, c - 32)) << char(c);
  EXPECT_EQ(send(3, 'a'), 0x61);
  EXPECT_EQ(send(3, '\r'), 0);
  int nonzero = 0;
  for (int c = 0; c < 256; ++c)
    if (send(3, c)) ++nonzero;
  EXPECT_EQ(nonzero, 59 + 26);
  for (int c = 128; c < 256; ++c) EXPECT_EQ(send(3, c), c == 209 ? 0x3E : 0) << c;
}

TEST_F(CodeTablesTest, Type4ClearsTheParityTrackAndType5IsNumeric) {
  EXPECT_EQ(send(4, 'G'), 0x67);
  EXPECT_EQ(send(4, 'C'), 0x63);
  EXPECT_EQ(send(4, '3'), 0x03);
  EXPECT_EQ(send(4, ' '), 0x00);
  EXPECT_EQ(send(4, 'c'), 0x63);
  EXPECT_EQ(send(4, 209), 0x2E);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(send(4, c) & 0x10, 0) << c;

  for (int d = 0; d <= 9; ++d) EXPECT_EQ(send(5, '0' + d), d);
  EXPECT_EQ(send(5, 0), 0x4F);
  EXPECT_EQ(send(5, '\n'), 0x80);
  EXPECT_EQ(send(5, '%'), 0x4F);
  EXPECT_EQ(send(5, 'A'), 0);
  EXPECT_EQ(send(5, '\r'), 0);
}

TEST_F(CodeTablesTest, ReceiveRows) {
  for (int b = 0; b < 128; ++b) {
    EXPECT_EQ(recv(0, b), b);
    EXPECT_EQ(recv(0, b + 128), b);
  }
  // EIA back to ASCII, with and without the parity track.
  EXPECT_EQ(recv(1, 0x13), '3');
  EXPECT_EQ(recv(1, 0x03), '3');
  EXPECT_EQ(recv(1, 0x10), ' ');
  EXPECT_EQ(recv(1, 0x00), 255);
  EXPECT_EQ(recv(1, 0x46), 'O');
  EXPECT_EQ(recv(1, 0x7C), '{');
  EXPECT_EQ(recv(1, 0x3E), 209);
  EXPECT_EQ(recv(1, 0x80), '\n');
  EXPECT_EQ(recv(1, 0x61), 'A');  // upper case: the lower-case letters came later
  for (const char* p = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-./%(),"; *p; ++p) {
    const int c = static_cast<unsigned char>(*p);
    EXPECT_EQ(recv(1, send(3, c)), c) << *p;
    EXPECT_EQ(recv(1, send(4, c)), c) << *p;
  }
  for (int d = 0; d <= 9; ++d) EXPECT_EQ(recv(2, d), '0' + d);
  EXPECT_EQ(recv(2, 128), '\n');
  EXPECT_EQ(recv(2, 10), 0);
  EXPECT_EQ(recv(2, '0'), 0);
}

TEST_F(CodeTablesTest, ControllerCommandStrings) {
  const std::string DC4(1, '\x14');
  EXPECT_EQ(t.controller_codes[0], DC4 + "J" + DC4 + "K");
  for (int n = 1; n <= 8; ++n)
    EXPECT_EQ(t.controller_codes[n], DC4 + std::to_string(n) + DC4 + "Q");
  EXPECT_EQ(t.controller_codes[9], DC4 + "J");
  EXPECT_EQ(t.controller_codes[10], DC4 + "I");
  for (std::size_t i = 11; i < t.controller_codes.size(); ++i)
    EXPECT_TRUE(t.controller_codes[i].empty());
}

TEST(CodeType, LeadingNumberOfTheCodeLine) {
  EXPECT_EQ(code_type_of("AB DELAY=3"), 0);
  EXPECT_EQ(code_type_of("2.5"), 2);  // rounded half to even
  EXPECT_EQ(code_type_of("-1"), -1);
  EXPECT_EQ(code_type_of("99999999999999"), 1000000);
  EXPECT_EQ(code_type_name(0), "ISO/Ascii (even)");
  EXPECT_EQ(code_type_name(1), "ASCII (odd )");
  EXPECT_EQ(code_type_name(3), "EIA RS244-B");
}

struct CodeConvertTest : ::testing::Test {
  TestStation t;
  Station& s = t.s;
  void SetUp() override {
    build_code_tables(s);
    s.port = 3;
  }
  void set_code_line(const std::string& line) {
    s.ports[3].code_line = line;
    s.ports[3].code_type = code_type_of(line);
  }
};

TEST_F(CodeConvertTest, ConvertsInPlaceThroughTheCurrentPortsType) {
  set_code_line("1");
  std::string text = "GC";
  EXPECT_EQ(code_convert(s, text), "\xC7\x43");
  EXPECT_EQ(text, "\xC7\x43");

  set_code_line("3");
  text = "g1 \r\n";
  EXPECT_EQ(code_convert(s, text), std::string("\x67\x01\x10\x00\x80", 5));

  s.port = 4;  // another port, still type 0
  text = "C";
  EXPECT_EQ(code_convert(s, text), "\xC3");
}

TEST_F(CodeConvertTest, MhpControlsGetThirtyNulsAfterTheFirstPercent) {
  set_code_line("2 MHP");
  std::string text = "%O1234%";
  EXPECT_EQ(code_convert(s, text), "%" + std::string(30, '\0') + "O1234%");
  text = "O1234";
  EXPECT_EQ(code_convert(s, text), "O1234");

  set_code_line("2 MHD");
  text = "%O1";
  EXPECT_EQ(code_convert(s, text), "%O1");
}

TEST_F(CodeConvertTest, AnUnconfiguredTypeIsNeverLookedUpOutOfRange) {
  s.ports[3].code_type = 9;
  std::string text = "C";
  EXPECT_EQ(code_convert(s, text), "\xC3");
}

}  // namespace
}  // namespace shoplink
