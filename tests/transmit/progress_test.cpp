// A long transfer shows its progress on the status line at most every 2 s: port, program,
// percent, characters, characters per second and time left.
#include "transmit/progress.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "base/text.hpp"
#include "transmit/transmit_story.hpp"

namespace shoplink {
namespace {

using testing::port1_dncdata;
using testing::TransmitStory;

TEST(TransferProgress, TheLineReadsAsTheOperatorNeedsIt) {
  struct Case {
    int port;
    const char* program;
    double done, total;
    int elapsed_ms;
    const char* text;
  } cases[] = {
      {1, "O1234", 1920, 9600, 2000,
       "Port 1 O1234: 20% 1920 of 9600 characters, 960 cps, 0:08 left"},
      {3, "NC3\\O1234.NC", 480, 100000, 2000,
       "Port 3 O1234.NC: 0% 480 of 100000 characters, 240 cps, 6:55 left"},
      {8, "C:\\NC\\P7", 300, 300, 4000, "Port 8 P7: 100% 300 of 300 characters, 75 cps, 0:00 left"},
      // A file that grew under the transfer: never beyond 100%.
      {2, "O5", 500, 400, 2000, "Port 2 O5: 100% 500 of 500 characters, 250 cps, 0:00 left"},
      {4, "O6", 0, 400, 2000, "Port 4 O6: 0% 0 of 400 characters, 0 cps, time left unknown"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(progress_text(c.port, c.program, c.done, c.total, millis(c.elapsed_ms)), c.text);
}

std::vector<std::string> progress_lines(const std::vector<std::string>& statuses) {
  std::vector<std::string> out;
  for (const auto& st : statuses)
    if (starts_with(st, "Port 1 O1234: ")) out.push_back(st);
  return out;
}

TEST(TransferProgress, ALongProgramShowsALineEveryTwoSecondsOfVirtualTime) {
  TransmitStory t(port1_dncdata("0"));
  std::string program = "%\r\nO1234\r\n";
  for (int i = 0; i < 800; ++i) program += "G01X1.0Y2.0\r\n";  // 13 characters a line
  program += "M30\r\n%\r\n";
  t.f.write_file("O1234", program);
  t.request("TO1234");
  const TimePoint start = t.f.loop.now();
  t.xon_and_finish();
  const double seconds = std::chrono::duration<double>(t.f.loop.now() - start).count();

  const auto lines = progress_lines(t.f.window.statuses);
  // The Xon wait, about 10.9 s of program at 960 characters a second and the closing: a line
  // at 2, 4, 6, 8 and 10 s of the program.
  ASSERT_GT(seconds, 11.0);
  ASSERT_LT(seconds, 14.0);
  ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
  const std::regex form(
      R"(Port 1 O1234: (\d+)% (\d+) of 10418 characters, (\d+) cps, 0:(\d\d) left)");
  int last_percent = 0;
  long last_done = 0;
  for (const auto& l : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, form)) << l;
    const int percent = std::stoi(m[1]);
    const long done = std::stol(m[2]);
    EXPECT_GT(percent, last_percent) << l;
    EXPECT_GT(done, last_done + 1500) << l;  // two seconds apart at least
    EXPECT_NEAR(std::stoi(m[3]), 940, 40) << l;
    EXPECT_NEAR(std::stoi(m[4]), (10418 - done) / 940.0, 1.5) << l;
    last_percent = percent;
    last_done = done;
  }
  EXPECT_EQ(t.f.window.statuses.back(), " Scanning... ");
  EXPECT_TRUE(t.status_shown("File sent..."));
}

TEST(TransferProgress, AShortProgramShowsNone) {
  TransmitStory t(port1_dncdata("0"));
  t.f.write_file("O1234", "%\r\nO1234\r\nG01X1.0\r\nM30\r\n%\r\n");
  t.request("TO1234");
  t.xon_and_finish();
  EXPECT_TRUE(progress_lines(t.f.window.statuses).empty());
}

}  // namespace
}  // namespace shoplink
