// One program line turned into the machine's bytes, and the HADLEY TOOL line rewrite.
#include "transmit/prepare.hpp"

#include <gtest/gtest.h>

#include "config/test_station.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/engine.hpp"
#include "transmit/send_file.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

class PrepareTest : public ::testing::Test {
 protected:
  PrepareTest() {
    build_code_tables(t.s.codes);
    t.s.port = 1;
  }
  PortSettings& port() { return t.s.ports[1]; }
  void code(const std::string& code_line) {
    port().code_line = code_line;
    port().code_type = code_type_of(code_line);
  }
  std::string prep(const std::string& line) { return prepare2send(t.s, line); }
  TestStation t;
};

TEST_F(PrepareTest, EmptyEobAddsTheLineEndOfTheCodeBeforeConversion) {
  code("0");
  // G 0 1 X 1 . 0 CR LF with even parity: 1, X and CR have an odd number of bits.
  EXPECT_EQ(prep("G01X1.0"), "\x47\x30\xB1\xD8\xB1\x2E\x30\x8D\x0A");
  code("2");
  EXPECT_EQ(prep("G01X1.0"), "G01X1.0\r\n");
  code("3");  // EIA: LF only, as the end-of-block code 0x80
  EXPECT_EQ(prep("G1"), "\x67\x01\x80");
}

TEST_F(PrepareTest, ConfiguredEobFollowsTheConvertedLineUnconverted) {
  code("0");
  port().eob = "\r\n\n";
  EXPECT_EQ(prep("G01X1.0"), "\x47\x30\xB1\xD8\xB1\x2E\x30\r\n\n");
}

TEST_F(PrepareTest, SynEndedLinesAndPercentStarGoOutWithoutEndOfBlock) {
  code("0");
  port().eob = "\r\n";
  EXPECT_EQ(prep("%*"), "\xA5");
  EXPECT_EQ(prep(std::string("AB") + '\x16'), "\x41\x42");
  // Only a line that is exactly "%*".
  EXPECT_EQ(prep("%*X"), "\xA5\xAA\xD8\r\n");
}

TEST_F(PrepareTest, QrtEngineeringProgramNamesBecomeComments) {
  code("2");
  EXPECT_EQ(prep(":O1000~PART A"), ":O1000~PART A\r\n");  // other sites: unchanged
  t.s.Customer_name = "Qrt Engineering Ltd";
  EXPECT_EQ(prep(":O1000~PART A"), "(O1000)PART A\r\n");
  EXPECT_EQ(prep("/:O1~X~Y"), "/(O1)X~Y\r\n");
  EXPECT_EQ(prep(":O1000"), ":O1000\r\n");  // no "~": unchanged
}

TEST_F(PrepareTest, OkumaAndMhpNulRuns) {
  code("2 OLD_OKUMA");
  EXPECT_EQ(prep("$O1%"), "$O1" + std::string(30, '\0') + "%\r\n");
  EXPECT_EQ(prep("O1%"), "O1%\r\n");  // only with "$" as well
  code("2 MHP");
  // Thirty NULs here and thirty more from the conversion, both after the first "%".
  EXPECT_EQ(prep("%O1234%"), "%" + std::string(60, '\0') + "O1234%\r\n");
}

TEST_F(PrepareTest, HadleyOffsetLinesBecomeG10) {
  EXPECT_EQ(convert4Hadley(t.s, "H12X-0.5"), "G90G10P12R-0.5");
  EXPECT_EQ(convert4Hadley(t.s, "H7  X.25"), "G90G10P7R.25");
  EXPECT_EQ(convert4Hadley(t.s, "G01X5"), "G01X5");
  EXPECT_EQ(convert4Hadley(t.s, "H12"), "H12");
  EXPECT_FALSE(t.s.Hadley_M2);
  convert4Hadley(t.s, "M30");
  EXPECT_FALSE(t.s.Hadley_M2);
  convert4Hadley(t.s, "N90M02");
  EXPECT_TRUE(t.s.Hadley_M2);
}

TEST_F(PrepareTest, TrailerByControllerFirstRuleWins) {
  code("0");
  const std::string dflt = std::string(10, '\0') + "\xA5\x8D\x0A" + "\x84\x14" + "\x14";
  EXPECT_EQ(trailer_text(t.s, "M30"), dflt);
  code("0 /T");
  EXPECT_EQ(trailer_text(t.s, "M30"), "");
  code("0 FAGOR");
  EXPECT_EQ(trailer_text(t.s, "M30"), "\x1B");
  port().trailer = std::string("%\r\n\0", 4);  // a TRAILER file wins over FAGOR, unconverted
  EXPECT_EQ(trailer_text(t.s, "M30"), std::string("%\r\n\0", 4));
  t.s.BURNY = 1;  // Burny wins over the trailer file
  EXPECT_EQ(trailer_text(t.s, "M30"), "\x9A\x8D\x0A");
  code("2 OLD_OKUMA");  // OKUMA wins over all
  EXPECT_EQ(trailer_text(t.s, "%"), std::string(100, '\0'));
  EXPECT_EQ(trailer_text(t.s, "M30"), "%\r\n" + std::string(100, '\0'));
  t.s.BURNY = 0;
  port().trailer.clear();
  code("0");
  t.s.Lynx_request = true;
  EXPECT_EQ(trailer_text(t.s, "M30"), "\x1A");
}

TEST(DisplayBuffer, CutToTheRecentLinesAbove1024Characters) {
  std::string d(1024, 'x');
  cut_display_buffer(d);
  EXPECT_EQ(d.size(), 1024u);
  d = std::string(600, 'a') + "\r\n" + std::string(400, 'b') + "\r\nLAST\r\n" +
      std::string(200, 'c');
  cut_display_buffer(d);
  // The last 512 characters begin inside the b's; the cut starts after their line end.
  EXPECT_EQ(d, "LAST\r\n" + std::string(200, 'c'));
  d = std::string(1100, 'z');
  cut_display_buffer(d);
  EXPECT_EQ(d, "");
}

TEST(LineEndTest, FilesWithoutCrOrWithControlsAreFiltered) {
  const std::string plain = "O1\r\nG1\r\n";
  EXPECT_FALSE(needs_line_filter(plain.data(), plain.size()));
  const std::string unix_ends = "O1\nG1\n";
  EXPECT_TRUE(needs_line_filter(unix_ends.data(), unix_ends.size()));
  const std::string tab = "O1\r\nG1\tX1\r\n";
  EXPECT_TRUE(needs_line_filter(tab.data(), tab.size()));
  const std::string high = "O1\r\n\xB0\r\n";
  EXPECT_TRUE(needs_line_filter(high.data(), high.size()));
}

}  // namespace
}  // namespace shoplink
