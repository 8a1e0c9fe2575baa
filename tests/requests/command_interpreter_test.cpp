#include "requests/command_interpreter.hpp"

#include <gtest/gtest.h>

#include "requests/command_markers.hpp"
#include "requests/request_station.hpp"

namespace shoplink::testing {
namespace {

struct Interpreter : RequestStation {
  CommandParse p;
  // The set-up and the command characters of one call, without dispatch.
  void markers(const std::string& cmd) {
    s.rx_line = cmd;
    p = {};
    set_up_command(s, p);
    find_command_markers(s, p);
  }
  void expect_ignored(std::int16_t mode_after) {
    EXPECT_EQ(log_messages().back(), "Command ignored");
    EXPECT_EQ(s.mode, mode_after);
    EXPECT_TRUE(s.Timer6.enabled());  // the station does not stay on this port for ever
    EXPECT_TRUE(s.Timer13.enabled());
    EXPECT_TRUE(s.rx_line.empty());
    EXPECT_EQ(s.send_aborted, 0);
  }
};

TEST_F(Interpreter, SetUpReadsFileTypeAutoprintAndDirectories) {
  s.config.default_file_type = DefaultFileType::PCNC;
  port().code_line = "0 /p3 /32";
  port().send_dir = "A,B";
  markers("TX");
  EXPECT_EQ(s.filetype, 3);
  EXPECT_FALSE(p.long_names);
  EXPECT_TRUE(p.plain32);
  EXPECT_EQ(s.AUTOPRINT, 3);
  EXPECT_EQ(p.send_last, 1);
  EXPECT_EQ(p.send_dirs[1], "B");
  EXPECT_TRUE(p.multi_dir);
  EXPECT_EQ(s.BFD, "!FD");
  EXPECT_EQ(s.BQQ, "!QQ");

  port().code_line = "0 windows /P";
  markers("TX");
  EXPECT_EQ(s.filetype, 1);
  EXPECT_TRUE(p.long_names);
  EXPECT_EQ(s.AUTOPRINT, 1);
  port().code_line = "0 /P1";
  markers("TX");
  EXPECT_EQ(s.AUTOPRINT, 1);
  port().code_line = "0";
  markers("TX");
  EXPECT_EQ(s.AUTOPRINT, 0);
}

TEST_F(Interpreter, AtMostTwentyOneDirectories) {
  std::array<std::string, kMaxDirEntries> dirs;
  std::string many;
  for (int i = 0; i < 23; ++i) many += (i ? "," : "") + std::string("D") + std::to_string(i);
  EXPECT_EQ(split_directories(many, dirs), 20);
  EXPECT_EQ(dirs[20], "D20");
  EXPECT_EQ(split_directories("", dirs), 0);
  EXPECT_EQ(dirs[0], "");
}

TEST_F(Interpreter, FirstMarkerDecides) {
  markers("XTO1R");
  EXPECT_EQ(p.t_pos, 2u);
  EXPECT_EQ(p.r_pos, 0u);
  markers("PRT");
  EXPECT_EQ(p.p_pos, 1u);
  EXPECT_EQ(p.t_pos, 0u);
  port().command_chars = "QRPSFD:\\N";
  markers("TQ1");
  EXPECT_EQ(p.t_pos, 2u);
}

TEST_F(Interpreter, MarkersInsideParenthesesOrAPathDoNotCount) {
  markers("(T1234)");
  EXPECT_EQ(p.t_pos, 0u);
  markers("(COMMENT T");  // no ")" : to the end of the command
  EXPECT_EQ(p.t_pos, 0u);
  markers(")T(");
  EXPECT_EQ(p.t_pos, 2u);
  port().paren_flag = true;
  markers("(T1234)");
  EXPECT_EQ(p.t_pos, 2u);
  port().paren_flag = false;
  port().code_line = "0 /32";
  markers("(T1234)");
  EXPECT_EQ(p.t_pos, 2u);
  port().code_line = "0";
  markers("XC:\\T1");
  EXPECT_EQ(p.t_pos, 0u);
}

TEST_F(Interpreter, DirectoryNumberNeedsSeveralDirectories) {
  markers("TO1 N2");
  EXPECT_EQ(p.dir_number, 0);  // one directory: N is an ordinary character
  port().send_dir = "A,B,C";
  markers("TO1 N2");
  EXPECT_EQ(p.dir_number, 2);
  EXPECT_EQ(p.dir_index, 2);
  markers("TO1 N3");  // out of range
  EXPECT_EQ(p.dir_index, 0);
  markers("TO1 N99999999999999999999");
  EXPECT_EQ(p.dir_index, 0);
  markers("TN1 N2");  // the last N wins
  EXPECT_EQ(p.dir_number, 2);
}

TEST_F(Interpreter, NameCharactersMakeAStoreWithId) {
  port().name_chars = "O";
  markers("O1234 (BRACKET)");
  EXPECT_EQ(p.r_pos, 1u);
  EXPECT_TRUE(p.with_id);
  markers("(TO1) O1");  // a "(" ends the walk
  EXPECT_EQ(p.r_pos, 0u);
  port().name_chars = "(O";
  markers("(TO1) O1");
  EXPECT_EQ(p.r_pos, 1u);
  markers("O1\x12");
  EXPECT_EQ(p.r_pos, 0u);
  EXPECT_FALSE(p.with_id);
}

TEST_F(Interpreter, TheIgnoreTextIgnoresTheCommand) {
  port().ignore = "%";
  s.mode = Mode::Scanning;
  s.Timer6.stop();
  command("TO1%");
  expect_ignored(Mode::Scanning);
  EXPECT_FALSE(s.Timer10.enabled());
  EXPECT_EQ(log_messages().size(), 1u);
}

TEST_F(Interpreter, CommandsWithoutARequestAreNotUnderstood) {
  s.Filename = "old";
  command("(T1234)");
  expect_ignored(Mode::Scanning);
  EXPECT_EQ(s.Filename, "");
  command("XYZ");
  expect_ignored(Mode::Scanning);
}

TEST_F(Interpreter, AQueuedCommandIsAlwaysAFileRequest) {
  dir.write("X1.NC", "x\r\n");
  port().extension = ".NC";
  port().ignore = "X";
  s.remote_queue = true;
  command("TX1");
  EXPECT_FALSE(s.remote_queue);
  EXPECT_EQ(s.Filename, s.station_dir() + "\\X1.NC");
  EXPECT_EQ(s.mode, Mode::Settling);
  command("TX1");  // the same from a machine
  expect_ignored(Mode::Scanning);
}

TEST_F(Interpreter, EveryCallRetimesTheXonWait) {
  s.config.response_timeout_ms = 7000;
  s.send_aborted = 1;
  command("Q");
  EXPECT_EQ(s.Timer3.interval(), 7000);
  EXPECT_EQ(s.send_aborted, 0);
}

}  // namespace
}  // namespace shoplink::testing
