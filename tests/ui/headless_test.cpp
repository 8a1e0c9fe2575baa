// The headless service's standard output: what a machine sent is shown, never obeyed by
// the terminal that shows it.
#include "ui/headless.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace shoplink {
namespace {

struct Headless : ::testing::Test {
  VirtualClock clock{{2026, 12, 7, 6, 45, 30}};
  std::ostringstream out, err;
  HeadlessWindow window{clock, out, err};
};

TEST_F(Headless, StatusAndInputLinesShowControlCharactersVisibly) {
  struct Case {
    Field field;  // Field::PortDisplay stands for the status line here
    std::string text, shown;
  } cases[] = {
      {Field::PortDisplay, "TO12\a\x1b[2J34", "06:45:30 status: TO12<07><1B>[2J34\n"},
      {Field::Input, "<TO12\a\x1b[2J34>\r\n", "06:45:30 input: <TO12<07><1B>[2J34>\n"},
      {Field::Input, "x\xC5\x7f\r\n", "06:45:30 input: x<C5><7F>\n"},
      {Field::Terminal, "^C<esc>\x1b", "06:45:30 terminal: ^C<esc><1B>\n"},
  };
  for (const auto& c : cases) {
    out.str("");
    window.set_text(Field::Input, "");
    if (c.field == Field::PortDisplay) {
      window.set_status(c.text);
    } else {
      window.set_text(c.field, c.text);
    }
    EXPECT_EQ(out.str(), c.shown) << c.text;
  }
  EXPECT_EQ(window.status(), "TO12<07><1B>[2J34");
}

TEST_F(Headless, UnderJournaldTheLinesCarryNoTimeOfTheirOwn) {
  std::ostringstream journal;
  HeadlessWindow unstamped{clock, journal, err, false, false};
  unstamped.set_status("Port 1 O1: 50% 10 of 20 characters, 960 cps, 0:01 left");
  unstamped.set_text(Field::Input, "TO1\r\n");
  EXPECT_EQ(journal.str(),
            "status: Port 1 O1: 50% 10 of 20 characters, 960 cps, 0:01 left\ninput: TO1\n");
}

}  // namespace
}  // namespace shoplink
