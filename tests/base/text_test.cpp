#include "base/text.hpp"

#include <gtest/gtest.h>

#include "base/clock.hpp"

namespace shoplink {
namespace {

TEST(Text, InstrIsOneBasedAndZeroWhenAbsent) {
  EXPECT_EQ(instr("TO1234", "O"), 2u);
  EXPECT_EQ(instr("TO1234", "X"), 0u);
  EXPECT_EQ(instr("ABAB", "AB", 2), 3u);
  EXPECT_EQ(instr("", "A"), 0u);
  EXPECT_EQ(instr("AB", "A", 5), 0u);
  EXPECT_EQ(instr("AB", "", 1), 1u);
}

TEST(Text, MidLeftRightTolerateEveryPosition) {
  EXPECT_EQ(mid("COM1:9600", 4, 1), "1");
  EXPECT_EQ(mid("COM1:9600", 6, 4), "9600");
  EXPECT_EQ(mid("COM1:115200", 6, 4), "1152");
  EXPECT_EQ(mid("ABC", 3), "C");
  EXPECT_EQ(mid("ABC", 4), "");
  EXPECT_EQ(mid("ABC", 10, 2), "");
  EXPECT_EQ(mid("", 1, 1), "");
  EXPECT_EQ(left("ABC", 0), "");
  EXPECT_EQ(left("ABC", 5), "ABC");
  EXPECT_EQ(right("ABC", 2), "BC");
  EXPECT_EQ(right("ABC", 9), "ABC");
}

TEST(Text, UcaseTouchesOnlyAsciiLetters) {
  std::string s = "ab\xE9z{";
  EXPECT_EQ(ucase(s), "AB\xE9Z{");
  EXPECT_EQ(lcase("O1234.NC"), "o1234.nc");
}

TEST(Text, ValReadsTheLeadingNumericPart) {
  EXPECT_EQ(val("  12abc"), 12);
  EXPECT_EQ(val("-3"), -3);
  EXPECT_DOUBLE_EQ(val(".5"), 0.5);
  EXPECT_DOUBLE_EQ(val("2.25 ms"), 2.25);
  EXPECT_EQ(val(""), 0);
  EXPECT_EQ(val("abc"), 0);
  EXPECT_EQ(val("-"), 0);
  EXPECT_EQ(val("3 EIA"), 3);
  EXPECT_EQ(val("+7"), 7);
}

TEST(Text, StrWritesTheSignPosition) {
  EXPECT_EQ(str(3), " 3");
  EXPECT_EQ(str(12), " 12");
  EXPECT_EQ(str(-3), "-3");
  EXPECT_EQ(str(0), " 0");
  EXPECT_EQ(str(2201.0), " 2201");
  EXPECT_EQ(str(1.5), " 1.5");
  EXPECT_EQ(str(0.5), " .5");
  EXPECT_EQ(str(25000000.0), " 25000000");
}

TEST(Text, RoundIntRoundsHalfToEven) {
  EXPECT_EQ(round_int(2.5), 2);
  EXPECT_EQ(round_int(3.5), 4);
  EXPECT_EQ(round_int(-1.4), -1);
}

TEST(Text, DateAndTimeForms) {
  LocalTime t{2026, 12, 7, 6, 5, 4};
  EXPECT_EQ(date_text(t), "12-07-2026");
  EXPECT_EQ(time_text(t), "06:05:04");
}

TEST(Text, VisibleShowsControlCharactersAsHexInAngleBrackets) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"TO1234", "TO1234"},
      {"TO12\a\x1b[2J34", "TO12<07><1B>[2J34"},
      {std::string("\0\r\n\x1f \x7f~", 7), "<00><0D><0A><1F> <7F>~"},
      {"<TO1234>", "<TO1234>"},  // brackets a machine sent stay as they are
      {"\x80\xff", "\x80\xff"},  // station text is bytes: only controls change
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(visible(c.in), c.out) << c.in;
  EXPECT_EQ(hex_form(0xAB), "<AB>");
}

TEST(Text, TrimTrailingBlanks) {
  EXPECT_EQ(trim_trailing_blanks("COM2:4800 \t "), "COM2:4800");
  EXPECT_EQ(trim_trailing_blanks(" \t"), "");
}

}  // namespace
}  // namespace shoplink
