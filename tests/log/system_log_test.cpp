#include "log/system_log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.hpp"
#include "config/test_station.hpp"
#include "support/file_size_limit.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

// Every message, with the state its fields read from filled in.
struct Message {
  int code;
  const char* text;
};
const Message kMessages[] = {
    {0, "Port 3 Request for file O1234.NC"},
    {1, "File O1234.NC transmitted"},
    {2, "CTS Handshake timeout .. File not sent"},
    {3, "Xoff Handshake timeout ... File not sent"},
    {4, "No Xon received ... File not sent"},
    {5, "Port 3 File O1234.NC manually sent"},
    {6, "SEND NOW  button pressed"},
    {7, "STOP  button pressed - transmission aborted"},
    {8, "Port 3 Request to store file O1234.NC with R-command"},
    {9, "File O1234.NC received "},
    {10, "No data received - RX timout"},
    {11, "Port 3: Request to store file O1234.NC with ID"},
    {12, "STOP  button pressed - reception aborted"},
    {13, "Port 3: Request for directory"},
    {14, "Directory transmitted"},
    {15, "SHOPLINK started"},
    {16, "SHOPLINK stopped (Mode menu / Exit)"},
    {17, "File not found"},
    {18, "Xon received - sending file "},
    {19, "Xon not received - sending after timeout"},
    {20, "Port 3 - EIA command received: <TO1234>"},
    {21, "Port 3 - ASCII command received: <TO1234>"},
    {22, "Command ignored"},
    {23, "AK not received from CNC within 20 sec."},
    {24, "Attempt to store file O1234.NC"},
    {25, "Error number 53 occurred "},
    {26, "Storing data as file @/TRASH"},  // @ = the station directory
    {27, "Port 3 - Beginning of cycle :"},
    {28, "Port 3 - Finish of cycle    :"},
    {29, "Port 3 - Probed dimension 1.2345  "},
    {30, "Port 3 Converting file O1234.NC for Vision CNC"},
    {31, "Autopath/Vision file conversion error"},
    {32, "Autopath/Vision file conversion successful"},
    {33, "Customer name: Acme Tool & Die"},
    {34, "File not found - adding \"MO\" to file name"},
    {35, "No CRs found in file - using auto filter function"},
    {36, "File not found - adding \"M0\" to file name"},
    {37, "Port 3 - Stop for tool change:"},
    {38, "Port 3 - Resume from tool change:"},
    {39, "Lynx controller request for file O1234.NC"},
    {40, "SHOPLINK assigns 1st unused number of O1234.NC"},
    {41, "Creating backup file O1234.BAK"},
    {42, "Deleting old .BAK file"},
};

struct SystemLogTest : ::testing::Test {
  TestStation t;
  Station& s = t.s;
  const std::string stamp = "03-09-2026 @ 14:05:07";
  void SetUp() override {
    s.port = 3;
    s.Filename = "O1234.NC";
    s.rx_line = "TO1234";
    s.error_number = 53;
    s.probe = "1.2345";
    s.Customer_name = "Acme Tool & Die";
    s.BAK_name = "o1234.bak";
    s.config.log_path = s.station_file("SHOPLINK.LOG");
    s.config.log_limit = 50000;
  }
  std::string log() const { return t.read("SHOPLINK.LOG"); }
  std::string entry(const std::string& message) const {
    std::string m = message;
    m.resize(55, ' ');
    return m + stamp + "\r\n";
  }
};

TEST_F(SystemLogTest, EveryMessageText) {
  int covered = 0;
  for (const auto& m : kMessages) {
    std::string want = m.text;
    if (auto at = want.find('@'); at != std::string::npos) want.replace(at, 1, s.station_dir());
    EXPECT_EQ(log_message(s, m.code), want) << "code " << m.code;
    EXPECT_EQ(covered++, m.code);
  }
  EXPECT_EQ(covered, 43);
  EXPECT_EQ(log_message(s, 43), "");
  EXPECT_EQ(log_message(s, -1), "");
  s.port = 12;
  EXPECT_EQ(log_message(s, 13), "Port 12: Request for directory");
}

TEST_F(SystemLogTest, LineLayoutPadsTo55ColumnsOrAddsTwoSpaces) {
  const LocalTime when{2026, 1, 2, 3, 4, 5};
  EXPECT_EQ(log_line(std::string(54, 'x'), when), std::string(54, 'x') + " 01-02-2026 @ 03:04:05");
  EXPECT_EQ(log_line(std::string(55, 'x'), when), std::string(55, 'x') + "  01-02-2026 @ 03:04:05");
  EXPECT_EQ(log_line(std::string(70, 'x'), when), std::string(70, 'x') + "  01-02-2026 @ 03:04:05");
  EXPECT_EQ(log_line("", when), std::string(55, ' ') + "01-02-2026 @ 03:04:05");
  // A reception of a five-character name: 20 characters, 35 spaces, the date in column 56.
  s.Filename = "O1234";
  const std::string line = log_line(log_message(s, 9), when);
  EXPECT_EQ(line, "File O1234 received " + std::string(35, ' ') + "01-02-2026 @ 03:04:05");
  EXPECT_EQ(instr(line, "01-02"), 56u);
}

TEST_F(SystemLogTest, EntriesAreAppendedWithTheClocksDateAndTime) {
  t.write("SHOPLINK.LOG", "earlier run\r\n");
  log_event(s, 15);
  t.clock.set_local({2026, 12, 31, 23, 59, 58});
  log_event(s, 43);
  EXPECT_EQ(log(), "earlier run\r\n" + entry("SHOPLINK started") + std::string(55, ' ') +
                       "12-31-2026 @ 23:59:58\r\n");
}

// What a machine sends can neither break a line of the log nor reach a terminal that
// shows the log as control characters; the message's own angle brackets stay literal.
TEST_F(SystemLogTest, ControlCharactersInFieldsAreWrittenVisibly) {
  struct Case {
    std::string rx_line, message;
  } cases[] = {
      {"A\r\nB", "Port 3 - ASCII command received: <A<0D><0A>B>"},
      {"TO12\a\x1b[2J34", "Port 3 - ASCII command received: <TO12<07><1B>[2J34>"},
      {std::string("X\0\x7f\x1fY", 5), "Port 3 - ASCII command received: <X<00><7F><1F>Y>"},
      {"<TO1234>", "Port 3 - ASCII command received: <<TO1234>>"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(t.file("SHOPLINK.LOG"));
    s.rx_line = c.rx_line;
    log_event(s, 21);
    EXPECT_EQ(log(), entry(c.message));
  }
}

// Paths read as this host writes them: one separator, a mapped drive as its host folder.
TEST_F(SystemLogTest, PathsAreLoggedInTheHostsForm) {
  s.paths.map("C:", "/srv/nc");
  struct Case {
    std::string filename, message;
  } cases[] = {
      {"/srv/nc/progs\\O1234", "File /srv/nc/progs/O1234 transmitted"},
      {"C:\\NC\\O1", "File /srv/nc/NC/O1 transmitted"},
      {"D:\\NC\\O1", "File D:/NC/O1 transmitted"},
      {"NC3\\O1234.NC", "File NC3/O1234.NC transmitted"},
  };
  for (const auto& c : cases) {
    s.Filename = c.filename;
    EXPECT_EQ(log_message(s, 1), c.message);
  }
  s.BAK_name = "c:\\nc\\o1.bak";
  EXPECT_EQ(log_message(s, 41), "Creating backup file /srv/nc/nc/O1.BAK");
}

TEST_F(SystemLogTest, NoLogIsWrittenBeforeDncdataNamesIt) {
  s.config.log_path.clear();
  log_event(s, 15);
  EXPECT_FALSE(t.exists("SHOPLINK.LOG"));
  EXPECT_TRUE(t.window.statuses.empty());
}

// Nine lines of 100 bytes and one of 22, so that one entry (78 bytes) makes exactly 1000.
std::string filled_log() {
  std::string text;
  for (char c = 'a'; c < 'a' + 9; ++c) text += std::string(98, c) + "\r\n";
  return text + std::string(20, 'z') + "\r\n";
}

TEST_F(SystemLogTest, ALogExactlyAtTheLimitIsKept) {
  s.config.log_limit = 1000;
  t.write("SHOPLINK.LOG", filled_log());
  log_event(s, 15);
  EXPECT_EQ(log(), filled_log() + entry("SHOPLINK started"));
  EXPECT_EQ(log().size(), 1000u);
}

TEST_F(SystemLogTest, OneByteOverTheLimitDropsAFifthOfItInWholeLines) {
  s.config.log_limit = 999;
  t.write("SHOPLINK.LOG", filled_log());
  log_event(s, 15);
  // A fifth of 999 is 199.8: the first two lines (200 bytes) go.
  EXPECT_EQ(log(), filled_log().substr(200) + entry("SHOPLINK started"));
  EXPECT_FALSE(t.exists("tempfile.log"));
}

TEST_F(SystemLogTest, TrimmingStopsAtTheFirstLineEndAtOrBeyondAFifth) {
  s.config.log_limit = 1000;
  t.write("SHOPLINK.LOG", filled_log());
  log_event(s, 15);  // 1000: kept
  log_event(s, 22);  // 1078: a fifth is exactly 200, two lines
  EXPECT_EQ(log(), filled_log().substr(200) + entry("SHOPLINK started") + entry("Command ignored"));

  t.write("SHOPLINK.LOG", filled_log());
  s.config.log_limit = 1004;  // a fifth is 200.8: a third line goes too
  log_event(s, 15);
  log_event(s, 22);
  EXPECT_EQ(log(), filled_log().substr(300) + entry("SHOPLINK started") + entry("Command ignored"));
}

TEST_F(SystemLogTest, TrimmingEndsEveryKeptLineWithCrLf) {
  s.config.log_limit = 100;
  t.write("SHOPLINK.LOG", std::string(30, 'a') + "\n" + std::string(10, 'b') + "\nc\r\n");
  log_event(s, 22);
  // The first line, counted as 32 bytes, passes a fifth (20); the LF-only lines are mended.
  EXPECT_EQ(log(), std::string(10, 'b') + "\r\nc\r\n" + entry("Command ignored"));
}

TEST_F(SystemLogTest, AnOldTempFileIsReplacedNotAppendedTo) {
  s.config.log_limit = 999;
  t.write("tempfile.log", "stale\r\n");
  t.write("SHOPLINK.LOG", filled_log());
  log_event(s, 15);
  EXPECT_EQ(log(), filled_log().substr(200) + entry("SHOPLINK started"));
}

TEST_F(SystemLogTest, TheOpenViewerGetsEachLineAndTheWholeLogAfterATrim) {
  log_event(s, 17);
  EXPECT_EQ(t.window.viewer, "");
  t.window.set_menu_checked(Menu::View_Log, true);
  log_event(s, 22);
  EXPECT_EQ(t.window.viewer, entry("Command ignored"));
  EXPECT_EQ(t.window.loads, 0);

  s.config.log_limit = 200;
  log_event(s, 15);  // 234 bytes: the first entry goes
  EXPECT_EQ(t.window.loads, 1);
  EXPECT_EQ(t.window.viewer, entry("Command ignored") + entry("SHOPLINK started"));
  EXPECT_EQ(t.window.viewer, log());
}

TEST_F(SystemLogTest, AnUnwritableLogIsReportedOnceAndTheStationGoesOn) {
  s.config.log_path = s.station_file("missing\\SHOPLINK.LOG");
  log_event(s, 15);
  log_event(s, 22);
  ASSERT_EQ(t.window.statuses.size(), 1u);
  EXPECT_EQ(t.window.statuses[0], " System log " + s.config.log_path + " cannot be written ");

  std::filesystem::create_directory(t.file("missing"));
  log_event(s, 17);
  EXPECT_EQ(t.read("missing/SHOPLINK.LOG"), entry("File not found"));
  EXPECT_EQ(t.window.statuses.size(), 1u);

  // It works again, so a new failure is news.
  std::filesystem::remove_all(t.file("missing"));
  log_event(s, 17);
  EXPECT_EQ(t.window.statuses.size(), 2u);
}

// A full disk in the middle of an entry: the entry is not left in part, so the next one
// starts a line of its own.
TEST_F(SystemLogTest, AnEntryIsWholeOrAbsent) {
  log_event(s, 15);
  const std::string before = log();
  {
    testing::FileSizeLimit full(before.size() + 30);
    log_event(s, 21);
  }
  EXPECT_EQ(log(), before);
  log_event(s, 16);
  EXPECT_EQ(log(), before + entry("SHOPLINK stopped (Mode menu / Exit)"));
}

// Found by fuzzing: the set of failing logs was shared by every station in the process, so
// a second station with the same log path never said that its log could not be written.
TEST_F(SystemLogTest, EachStationReportsItsOwnUnwritableLog) {
  s.config.log_path = s.station_file("missing\\SHOPLINK.LOG");
  log_event(s, 15);
  WiredStation second({t.loop, t.line, t.window, t.dialogs, t.platform, t.paths});
  second.config = s.config;
  log_event(second, 15);
  EXPECT_EQ(t.window.statuses, std::vector<std::string>(
                                   2, " System log " + s.config.log_path + " cannot be written "));
}

TEST_F(SystemLogTest, AFailedTrimSaysSoAndIsTriedAgainOnlyAfterAMinute) {
  s.config.log_limit = 999;
  t.write("SHOPLINK.LOG", filled_log());
  std::filesystem::create_directory(t.file("tempfile.log"));  // the trim cannot make it
  log_event(s, 15);
  log_event(s, 22);
  EXPECT_EQ(log(), filled_log() + entry("SHOPLINK started") + entry("Command ignored"));
  EXPECT_EQ(t.window.statuses, std::vector<std::string>{" SHOPLINK log could not be trimmed "});

  std::filesystem::remove(t.file("tempfile.log"));
  t.loop.advance_ms(59000);
  log_event(s, 17);
  EXPECT_EQ(log().substr(0, 200), filled_log().substr(0, 200));  // not tried yet
  t.loop.advance_ms(1000);
  log_event(s, 17);
  EXPECT_NE(log().substr(0, 200), filled_log().substr(0, 200));
  EXPECT_EQ(t.window.statuses.size(), 1u);
}

TEST_F(SystemLogTest, TheLogFileIsFoundWhateverTheCaseOfItsName) {
  t.write("shoplink.log", "old\r\n");
  log_event(s, 15);
  EXPECT_EQ(t.read("shoplink.log"), "old\r\n" + entry("SHOPLINK started"));
  EXPECT_FALSE(t.exists("SHOPLINK.LOG"));
}

}  // namespace
}  // namespace shoplink
