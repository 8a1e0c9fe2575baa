#include "config/dncdata.hpp"

#include <gtest/gtest.h>

#include <string>

#include "config/test_station.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

// A shop of eight machines as an installer would write it (CR LF line ends).
const char* const kShopLines[] = {
    "COM1:9600,QUEUE            ' host port, remote queue",
    "PCNC =25",
    "SHOPLOG.TXT,20000",
    // port 1: a Fanuc lathe
    "9600 (LATHE1) /E",
    "0 DELAY=2.5",
    "E",
    "E:",
    "O0001(),IGNORE=%",
    // port 2: EIA mill with its own characters
    "2400 (MILL2)",
    "3 /X",
    "D:\\NC\\RX",
    "D:\\NC\\TX",
    "O,X=T,Y=R,+.NC ,DIR=RUN,EOB=13,10,MASK=32",
    // port 3: left mostly empty
    "",
    "",
    "",
    "",
    "",
    // port 4
    "4800\t\t",
    "1 OKUMA",
    "",
    "",
    "O,DIR=TAPE",
    // port 5
    "1200",
    "2 MHP DELAY=",
    "",
    "",
    "P,Q =S,EOB=13,10 MASK=32",
    // port 6
    "300",
    "4",
    "",
    "",
    ":,EOB=300,,",
    // port 7
    "110",
    "5",
    "",
    "",
    "X,IGNORE=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789,+.TXTLONG",
    // port 8
    "19200 (LAST)  ' the newest machine",
    "2 HAAS",
    "F:\\RECEIVE",
    "F:\\SEND",
    "O,Z =\\,MASK=0,",
};

std::string shop_file() {
  std::string text;
  for (const char* line : kShopLines) text += std::string(line) + "\r\n";
  return text;
}

struct DncdataTest : ::testing::Test {
  TestStation t;
  Station& s = t.s;
  const PortSettings& port(int k) const { return s.ports[static_cast<std::size_t>(k)]; }
  std::string dir() const { return s.station_dir(); }
  void expect_failure(const std::string& text = "SHOPLINK\nDNCDATA file\nnot found\n") {
    ASSERT_EQ(t.dialogs.boxes.size(), 1u);
    EXPECT_EQ(t.dialogs.boxes[0].title, "SHOPLINK error message");
    EXPECT_EQ(t.dialogs.boxes[0].text, text);
    EXPECT_EQ(t.dialogs.boxes[0].icon, Icon::Exclamation);
    EXPECT_EQ(s.exit_status, 2);
    EXPECT_TRUE(t.loop.quit_requested());
  }
};

TEST_F(DncdataTest, AFullShopFile) {
  std::filesystem::create_directory(t.file("QUEUE"));
  for (int i = 1; i <= 9; ++i)
    t.write("QUEUE/SHOPLINK Queue command " + std::to_string(i), "TO1\r\n");
  t.write("DNCDATA", shop_file());
  s.Customer_name = "Acme Tool";

  ASSERT_TRUE(read_dncdata(s));
  EXPECT_TRUE(t.dialogs.boxes.empty());
  EXPECT_FALSE(s.exit_status);

  const auto& c = s.config;
  EXPECT_EQ(c.dncdata_name, "DNCDATA");
  EXPECT_EQ(c.dncdata_path, dir() + "\\DNCDATA");
  EXPECT_EQ(c.host_port, "COM1:9600");
  EXPECT_EQ(c.queue_dir, "QUEUE");
  EXPECT_EQ(t.read("QUEUE/DNCDATA"), shop_file());
  // 43 lines: eight blocks, so eight leftover queue files go and a ninth stays.
  for (int i = 1; i <= 8; ++i)
    EXPECT_FALSE(t.exists("QUEUE/SHOPLINK Queue command " + std::to_string(i))) << i;
  EXPECT_TRUE(t.exists("QUEUE/SHOPLINK Queue command 9"));
  EXPECT_EQ(c.default_file_type, DefaultFileType::PCNC);
  EXPECT_EQ(c.response_timeout_ms, 25000);
  EXPECT_EQ(c.log_path, dir() + "\\SHOPLOG.TXT");
  EXPECT_EQ(c.log_limit, 20000);

  EXPECT_EQ(port(1).line_settings, "9600 (LATHE1) /E");
  EXPECT_EQ(port(1).code_line, "0 DELAY=2.5");
  EXPECT_EQ(port(1).code_type, 0);
  EXPECT_DOUBLE_EQ(port(1).delay_ms, 2500);
  EXPECT_EQ(port(1).receive_dir, "E:\\");
  EXPECT_EQ(port(1).send_dir, "E:\\");
  EXPECT_EQ(port(1).name_chars, "O0001()");
  EXPECT_TRUE(port(1).paren_flag);
  EXPECT_EQ(port(1).ignore, "%");
  EXPECT_EQ(port(1).command_chars, "TRPSFD:\\N");

  EXPECT_EQ(port(2).code_type, 3);
  EXPECT_DOUBLE_EQ(port(2).delay_ms, 5000);
  EXPECT_EQ(port(2).receive_dir, "D:\\NC\\RX");
  EXPECT_EQ(port(2).send_dir, "D:\\NC\\TX");
  EXPECT_EQ(port(2).name_chars, "O");
  EXPECT_FALSE(port(2).paren_flag);
  EXPECT_EQ(port(2).command_chars, "XYPSFD:\\N");
  EXPECT_EQ(port(2).extension, ".NC");
  EXPECT_EQ(port(2).subdir, "RUN");
  EXPECT_EQ(port(2).eob, "\r\n");
  EXPECT_EQ(port(2).mask, " ");

  EXPECT_EQ(port(3).line_settings, "4800");
  EXPECT_EQ(port(3).code_line, "");
  EXPECT_EQ(port(3).receive_dir, dir());
  EXPECT_EQ(port(3).send_dir, dir());
  EXPECT_EQ(port(3).command_chars, "TRPSFD:\\N");

  EXPECT_EQ(port(4).line_settings, "4800");  // trailing tabs go
  EXPECT_EQ(port(4).code_type, 1);
  // DIR=TAPE holds "=T": the R before it becomes the T command character.
  EXPECT_EQ(port(4).T(), 'R');
  EXPECT_EQ(port(4).subdir, "TAPE");

  EXPECT_DOUBLE_EQ(port(5).delay_ms, 0);
  EXPECT_EQ(port(5).S(), 'Q');   // "Q =S": the character before the space
  EXPECT_EQ(port(5).eob, "\r");  // the pending 10 is dropped at the space
  EXPECT_EQ(port(5).mask, " ");

  EXPECT_EQ(port(6).code_type, 4);
  EXPECT_EQ(port(6).name_chars, ":");
  EXPECT_EQ(port(6).eob, std::string(",\0", 2));  // 300 AND 255 = 44, then an empty number

  EXPECT_EQ(port(7).code_type, 5);
  EXPECT_EQ(port(7).ignore, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
  EXPECT_EQ(port(7).extension, ".TXT");

  EXPECT_EQ(port(8).line_settings, "19200 (LAST)");
  EXPECT_EQ(port(8).receive_dir, "F:\\RECEIVE");
  EXPECT_EQ(port(8).path_char(), 'Z');  // "Z =\": the character before the space
  EXPECT_EQ(port(8).mask, std::string(1, '\0'));

  // Start and customer name, in that order, in the configured log.
  const std::string log = t.read("SHOPLOG.TXT");
  EXPECT_EQ(log.substr(0, 16), "SHOPLINK started");
  EXPECT_NE(log.find("\r\nCustomer name: Acme Tool "), std::string::npos);
}

TEST_F(DncdataTest, OnlyTheThreeStationLinesGiveDefaultPorts) {
  t.write("DNCDATA", "COM2:4800    ' the shop's host line\r\nWINDOWS\r\nLOG\r\n");
  ASSERT_TRUE(read_dncdata(s));
  EXPECT_EQ(s.config.host_port, "COM2:4800");
  EXPECT_EQ(s.config.queue_dir, dir());
  EXPECT_EQ(s.config.default_file_type, DefaultFileType::WINDOWS);
  EXPECT_EQ(s.config.response_timeout_ms, 20000);
  EXPECT_EQ(s.config.log_path, dir() + "\\LOG");
  EXPECT_EQ(s.config.log_limit, 50000);
  for (int k = 1; k <= NumPorts; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(port(k).line_settings, "4800");
    EXPECT_EQ(port(k).code_type, 0);
    EXPECT_DOUBLE_EQ(port(k).delay_ms, 5000);
    EXPECT_EQ(port(k).receive_dir, dir());
    EXPECT_EQ(port(k).send_dir, dir());
    EXPECT_EQ(port(k).command_chars, "TRPSFD:\\N");
    EXPECT_EQ(port(k).eob, "");
  }
}

TEST_F(DncdataTest, StationLineWords) {
  struct Case {
    const char* line2;
    DefaultFileType type;
    int timeout;
  };
  const Case cases[] = {
      {"pcnc ascii =30", DefaultFileType::ASCII, 30000},
      {"ASCII PCNC", DefaultFileType::ASCII, 20000},  // tested in a fixed order
      {"PCNC DOS", DefaultFileType::None, 20000},
      {"WINDOWS PCNC", DefaultFileType::PCNC, 20000},
      {"X=1234", DefaultFileType::None, 123000},
      // A time-out that is not above 0 would never fire: the default holds.
      {"=", DefaultFileType::None, 20000},
      {"=0", DefaultFileType::None, 20000},
      {"=-5", DefaultFileType::None, 20000},
      {"=abc", DefaultFileType::None, 20000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line2);
    TestStation u;
    u.write("DNCDATA", std::string("COM1:9600\r\n") + c.line2 + "\r\nLOG\r\n");
    ASSERT_TRUE(read_dncdata(u.s));
    EXPECT_EQ(u.s.config.default_file_type, c.type);
    EXPECT_EQ(u.s.config.response_timeout_ms, c.timeout);
  }
}

// Values that would switch a safety off or overflow a timer are replaced or clamped.
TEST_F(DncdataTest, SettingsThatWouldSwitchASafetyOff) {
  struct Case {
    const char* log_line;
    const char* code_line;
    std::int32_t log_limit;
    double delay_ms;
  };
  const Case cases[] = {
      {"LOG,1000", "0 DELAY=2.5", 1000, 2500},
      {"LOG,0", "0 DELAY=0", 50000, 0},  // the default applies where it is used
      {"LOG,-20", "0 DELAY=-3", 50000, -3000},
      {"LOG,abc", "0 DELAY=2147484", 50000, 24.0 * 3600 * 1000},
      {"LOG", "0 DELAY=4294968", 50000, 24.0 * 3600 * 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_line);
    TestStation u;
    u.write("DNCDATA",
            std::string("COM1:9600\r\n\r\n") + c.log_line + "\r\n9600\r\n" + c.code_line + "\r\n");
    ASSERT_TRUE(read_dncdata(u.s));
    EXPECT_EQ(u.s.config.log_limit, c.log_limit);
    EXPECT_EQ(u.s.ports[1].delay_ms, c.delay_ms);
  }
}

// "COM1:9600," names no queue directory: the station directory serves, nothing is copied
// to or deleted from the host's root.
TEST_F(DncdataTest, AnEmptyQueueDirectoryIsNone) {
  for (const char* line1 : {"COM1:9600,", "COM1:9600,  "}) {
    TestStation u;
    u.write("DNCDATA", std::string(line1) + "\r\n\r\nLOG\r\n9600\r\n");
    ASSERT_TRUE(read_dncdata(u.s));
    EXPECT_EQ(u.s.config.queue_dir, u.s.station_dir()) << line1;
    EXPECT_EQ(u.s.config.host_port, "COM1:9600");
  }
}

TEST_F(DncdataTest, NumberedFileIsPreferred) {
  t.write("DNCDATA", "COM1:9600\r\n\r\nPLAIN.LOG\r\n");
  t.write("DNCDATA.8", "COM3:9600\r\n\r\nEIGHT.LOG\r\n");
  ASSERT_TRUE(read_dncdata(s));
  EXPECT_EQ(s.config.host_port, "COM3:9600");
  EXPECT_EQ(s.config.dncdata_name, "DNCDATA.8");
  EXPECT_EQ(s.config.dncdata_path, dir() + "\\DNCDATA.8");
  EXPECT_TRUE(t.exists("EIGHT.LOG"));
}

TEST_F(DncdataTest, AMissingFileEndsTheProgramWithoutLogging) {
  EXPECT_FALSE(read_dncdata(s));
  expect_failure();
  EXPECT_TRUE(std::filesystem::is_empty(t.dir.path()));
}

TEST_F(DncdataTest, MoreThan350LinesIsABrokenFile) {
  std::string text = "COM1:9600\r\n\r\nLOG\r\n";
  for (int i = 4; i <= 350; ++i) text += "\r\n";
  t.write("DNCDATA", text);
  EXPECT_TRUE(read_dncdata(s));

  TestStation u;
  u.write("DNCDATA", text + "' one line too many\r\n");
  EXPECT_FALSE(read_dncdata(u.s));
  ASSERT_EQ(u.dialogs.boxes.size(), 1u);
  EXPECT_EQ(u.dialogs.boxes[0].text, "SHOPLINK\nDNCDATA file\nnot found\n");
  EXPECT_EQ(u.s.exit_status, 2);
  EXPECT_FALSE(u.exists("LOG"));
}

TEST_F(DncdataTest, OptionAreaThatBeginsWithACommandCharacterAssignment) {
  for (const char* fifth : {"O,=T", "O, =R", "O,=\\"}) {
    SCOPED_TRACE(fifth);
    TestStation u;
    u.write("DNCDATA",
            std::string("COM1:9600\r\n\r\nLOG\r\n9600\r\n0\r\n\r\n\r\n") + fifth + "\r\n");
    EXPECT_FALSE(read_dncdata(u.s));
    ASSERT_EQ(u.dialogs.boxes.size(), 1u);
    EXPECT_EQ(u.dialogs.boxes[0].text, "SHOPLINK\nDNCDATA file\nnot found\n");
    EXPECT_FALSE(u.exists("LOG"));
  }
}

TEST_F(DncdataTest, OptionAreaExamples) {
  struct Case {
    const char* fifth;
    const char* chars;
    const char* subdir;
  };
  const Case cases[] = {
      {"O,  =T", " RPSFD:\\N", ""},     // a space before "=": the one before it, a space too
      {"O,A=T,B=T", "ARPSFD:\\N", ""},  // the first occurrence counts
      {"O,1=T,2=R,3=P,4=S,5=F,6=D,7=:,8=\\,9=N", "123456789", ""},
      {"O,DIR=ABCDEFGHIJ", "TRPSFD:\\N", "ABCDEFGH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fifth);
    TestStation u;
    u.write("DNCDATA", std::string("COM1:9600\r\n\r\nLOG\r\n\r\n\r\n\r\n\r\n") + c.fifth + "\r\n");
    ASSERT_TRUE(read_dncdata(u.s));
    EXPECT_EQ(u.s.ports[1].command_chars, c.chars);
    EXPECT_EQ(u.s.ports[1].subdir, c.subdir);
  }
}

TEST_F(DncdataTest, CodeTypeOutsideTheTablesIsRefusedNamingThePort) {
  t.write("DNCDATA", "COM1:9600\r\n\r\nLOG\r\n\r\n0\r\n\r\n\r\n\r\n\r\n7 AB\r\n");
  EXPECT_FALSE(read_dncdata(s));
  expect_failure("SHOPLINK\nDNCDATA file\nPort 2: code type 7 is not one of 0 to 5\n");
  EXPECT_FALSE(t.exists("LOG"));

  TestStation u;
  u.write("DNCDATA", "COM1:9600\r\n\r\nLOG\r\n\r\n-1\r\n");
  EXPECT_FALSE(read_dncdata(u.s));
  ASSERT_EQ(u.dialogs.boxes.size(), 1u);
  EXPECT_EQ(u.dialogs.boxes[0].text,
            "SHOPLINK\nDNCDATA file\nPort 1: code type -1 is not one of 0 to 5\n");
}

TEST_F(DncdataTest, UnreachableQueueDirectoryFallsBackToTheStationDirectory) {
  t.write("SHOPLINK Queue command 1", "TO1\r\n");
  t.write("DNCDATA", "COM1:9600,NOWHERE\\AT\\ALL\r\n\r\nLOG\r\n9600\r\n");
  ASSERT_TRUE(read_dncdata(s));
  EXPECT_EQ(s.config.queue_dir, dir());
  // The file read is its own copy there: it must survive.
  EXPECT_EQ(t.read("DNCDATA"), "COM1:9600,NOWHERE\\AT\\ALL\r\n\r\nLOG\r\n9600\r\n");
  // 4 lines: (4 - 2) / 5 rounds to 0 blocks, so nothing is deleted.
  EXPECT_TRUE(t.exists("SHOPLINK Queue command 1"));
}

// A NUL in the queue directory's name must not end the name early on the host: the copy
// and the clean-up would replace, then delete, the program the name's first part names.
TEST_F(DncdataTest, ANulInTheQueueDirectoryDoesNotShortenIt) {
  t.write("QUEUE/O1234", "%\r\nO1234\r\n");
  std::string text = std::string("COM1:9600,QUEUE\\O1234\0X", 23) + "\r\n\r\nLOG\r\n";
  for (int i = 4; i <= 10; ++i) text += "\r\n";
  t.write("DNCDATA", text);
  ASSERT_TRUE(read_dncdata(s));
  EXPECT_EQ(t.read("QUEUE/O1234"), "%\r\nO1234\r\n");
}

TEST_F(DncdataTest, LeftoverQueueFilesAreDeletedByRoundedBlockCount) {
  t.write("SHOPLINK Queue command 1", "TO1\r\n");
  t.write("SHOPLINK Queue command 2", "TO2\r\n");
  std::string text = "COM1:9600\r\n\r\nLOG\r\n";
  for (int i = 4; i <= 10; ++i) text += "\r\n";  // 10 lines: 8 / 5 = 1.6, two blocks
  t.write("DNCDATA", text);
  ASSERT_TRUE(read_dncdata(s));
  EXPECT_FALSE(t.exists("SHOPLINK Queue command 1"));
  EXPECT_FALSE(t.exists("SHOPLINK Queue command 2"));
}

TEST(CharList, NumbersEndedByCommas) {
  EXPECT_EQ(char_list(",65"), std::string("\0A", 2));
  EXPECT_EQ(char_list("256,511"), std::string("\0\xFF", 2));
  EXPECT_EQ(char_list("99999999999999999999999,"), std::string(1, '\xFF'));
  EXPECT_EQ(char_list("X"), "");
  // Only 32 characters are read: a number pending at the 32nd still counts, the rest is cut.
  EXPECT_EQ(char_list("1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,12,3"), std::string(15, '\x01') + "\x0C");
}

}  // namespace
}  // namespace shoplink
