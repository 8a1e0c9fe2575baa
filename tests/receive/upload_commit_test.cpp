// Where an upload ends up: its own file when the station numbers it, aside in TRASH when it
// cannot safely replace the program (a refused name, a broken line), and a program that is
// whole after a stop at any step of the commit.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "receive/trash_files.hpp"
#include "receive/upload_file.hpp"
#include "receive/upload_rig.hpp"

namespace shoplink {
namespace {

namespace fs = std::filesystem;
using testing::UploadRig;

bool logged(const UploadRig& rig, const std::string& text) {
  return rig.log().find(text) != std::string::npos;
}

// One store after another on the same port, each with its upload.
void store(UploadRig& rig, const std::string& command, const std::string& program) {
  rig.stay_on_port();
  rig.send(command + "\r\n");
  rig.run_ms(1300);
  rig.upload(program);
  rig.run_ms(3000);  // back to scanning
}

// The station numbers the upload: every upload gets the file the search found free, in the
// form the port writes, and a request for its name finds it again.
struct OwnNumberCase {
  const char* name;
  const char* customer;
  const char* code_line;
  const char* commands[2];
  const char* files[2];
  const char* contents;  // the CONTENTS index afterwards ("" = none)
  const char* request;   // finds files[0] again
};
void PrintTo(const OwnNumberCase& c, std::ostream* os) {
  *os << c.name;
}

class OwnNumber : public ::testing::TestWithParam<OwnNumberCase> {};

TEST_P(OwnNumber, EachUploadGetsItsOwnFile) {
  const OwnNumberCase& c = GetParam();
  UploadRig rig;
  rig.s.Customer_name = c.customer;
  rig.port().code_line = c.code_line;
  rig.port().name_chars = "O";
  rig.port().extension = ".NC";
  rig.port().send_dir = rig.port().receive_dir;  // programs are asked for where they are stored
  store(rig, c.commands[0], "N1\r\n");
  store(rig, c.commands[1], "N2\r\n");
  for (int i = 0; i < 2; ++i) {
    const std::string text = rig.read(c.files[i]);
    EXPECT_NE(text.find(i == 0 ? "N1" : "N2"), std::string::npos) << c.files[i];
    EXPECT_TRUE(logged(
        rig, "SHOPLINK assigns 1st unused number of " + rig.s.station_dir() + "/" + c.files[i]));
  }
  EXPECT_EQ(rig.read("UP/CONTENTS"), c.contents);
  rig.stay_on_port();
  rig.command(c.request);
  EXPECT_TRUE(logged(rig, "Request for file " + rig.s.station_dir() + "/" + c.files[0]));
}

INSTANTIATE_TEST_SUITE_P(
    Upload, OwnNumber,
    ::testing::Values(OwnNumberCase{"BeaconNamedForm",
                                    "BEACON MANUFACTURING",
                                    "0",
                                    {"O1234 (SHAFT)", "O5678 (FLANGE)"},
                                    {"UP/0001.NC", "UP/0002.NC"},
                                    "",
                                    "T0001"},
                      OwnNumberCase{"LongNamesNamedForm",
                                    "",
                                    "0 /32",
                                    {"RBRACKET", "RHOUSING"},
                                    {"UP/PROG0001", "UP/PROG0002"},
                                    "\"0001\",\"BRACKET\", 4\r\n\"0002\",\"HOUSING\", 4\r\n",
                                    "TBRACKET"}));

// WESTBROOK finds a requested program by "O" & name anywhere in a file's name; an upload
// never replaces another program that way, only the file of exactly that name.
TEST(Upload, WestbrookStoresUnderTheExactName) {
  struct Row {
    const char* present;
    const char* stored;
  };
  for (const Row& row : {Row{"UP/O1234.NC", "UP/12.NC"}, Row{"UP/O12.NC", "UP/O12.NC"}}) {
    UploadRig rig;
    rig.s.Customer_name = "WESTBROOK";
    rig.port().extension = ".NC";
    rig.dir.write("UP/O1234.NC", "O1234 OLD\r\n");
    rig.dir.write(row.present, "OLD\r\n");
    store(rig, "R12", "O12 NEW\r\n");
    EXPECT_EQ(rig.read(row.stored), "O12 NEW\r\n") << row.present;
    EXPECT_EQ(rig.read("UP/O1234.NC"),
              row.present == std::string("UP/O1234.NC") ? "OLD\r\n" : "O1234 OLD\r\n");
  }
}

// Every upload the station refuses to name goes to TRASH; the earlier ones are kept beside
// it, the oldest removed beyond the bound, and the log says where each one is.
TEST(Upload, TrashKeepsEarlierFailures) {
  UploadRig rig;
  for (int n = 1; n <= kTrashKeep; ++n) {
    std::string number = std::to_string(n);
    rig.dir.write("TRASH." + std::string(3 - number.size(), '0') + number, "OLD " + number);
  }
  store(rig, "R..\\X1", "FIRST\r\n");
  store(rig, "R..\\X2", "SECOND\r\n");
  const std::string dir = rig.s.station_dir();
  EXPECT_EQ(rig.read("TRASH"), "SECOND\r\n");
  EXPECT_EQ(rig.read("TRASH.051"), "FIRST\r\n");
  EXPECT_FALSE(rig.exists("TRASH.001"));
  EXPECT_EQ(rig.read("TRASH.002"), "OLD 2");
  EXPECT_TRUE(logged(rig, "Earlier TRASH kept as " + dir + "/TRASH.051"));
  EXPECT_TRUE(logged(rig, "Deleting oldest TRASH file " + dir + "/TRASH.001"));
  EXPECT_FALSE(logged(rig, "Deleting oldest TRASH file " + dir + "/TRASH.002"));
}

// Names a store must not write under: the upload is kept in TRASH with the reason logged,
// the named file (where there is one) is untouched, and no file of that name is made.
struct RefusedCase {
  const char* command;
  const char* reason;
  const char* untouched;  // a file that must keep its content ("" = none)
};
void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << visible(c.command);
}

class RefusedName : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedName, UploadGoesToTrash) {
  const RefusedCase& c = GetParam();
  UploadRig rig;
  if (*c.untouched) rig.dir.write(c.untouched, "ORIGINAL\r\n");
  store(rig, c.command, "N1\r\n");
  EXPECT_EQ(rig.read("TRASH"), "N1\r\n");
  EXPECT_TRUE(logged(rig, std::string("Name refused (") + c.reason)) << rig.log();
  EXPECT_TRUE(logged(rig, "Storing data as file " + rig.s.station_dir() + "/TRASH"));
  if (*c.untouched) {
    EXPECT_EQ(rig.read(c.untouched), "ORIGINAL\r\n");
  }
  int in_up = 0;
  for (const auto& e : fs::directory_iterator(rig.dir.path() / "UP")) {
    ++in_up;
    EXPECT_EQ(e.path().filename().string(), fs::path(c.untouched).filename().string());
  }
  EXPECT_EQ(in_up, *c.untouched ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Upload, RefusedName,
    ::testing::Values(RefusedCase{"R(O4321)", "no program name", ""},
                      RefusedCase{"R/O4321", "no program name", ""},
                      RefusedCase{"RO12\x1b[2J", "control characters", ""},
                      RefusedCase{"RO\x07"
                                  "12",
                                  "control characters", ""},
                      RefusedCase{"RACTIVITY.01", "one of the station's own", "UP/ACTIVITY.01"},
                      RefusedCase{"Ractivity.02", "one of the station's own", "UP/ACTIVITY.02"}));

TEST(Upload, ControlBytesAreLoggedVisibly) {
  UploadRig rig;
  store(rig, "RO12\x1b[2J", "N1\r\n");
  EXPECT_TRUE(logged(rig, "O12<1B>[2J")) << rig.log();
  EXPECT_EQ(rig.log().find('\x1b'), std::string::npos);
}

// The host line broke (a network drop, the port controller restarting) while the upload
// was on its way: what came may have a hole, so it never replaces the program and is never
// "received"; it is kept in TRASH and the log says so.
TEST(Upload, LineBrokenDuringTheUploadKeepsTheProgram) {
  enum class Break { LineDrop, ControllerRestart };
  struct Row {
    const char* code_line;
    Break how;
  };
  for (const Row& row : {Row{"0", Break::LineDrop}, Row{"0 /BAK REPLY=O9999", Break::LineDrop},
                         Row{"0", Break::ControllerRestart}}) {
    UploadRig rig;
    rig.port().code_line = row.code_line;
    rig.dir.write("UP/O1", "OLD PROGRAM\r\n");
    rig.command("RO1");
    rig.send("N1\r\n");
    rig.run_ms(200);
    if (row.how == Break::LineDrop) {
      ++rig.line.breaks;
    } else {
      ++rig.s.controller_restarts;
    }
    rig.upload("N3\r\nM30\r\n");
    EXPECT_EQ(rig.read("UP/O1"), "OLD PROGRAM\r\n") << row.code_line;
    EXPECT_FALSE(rig.exists("UP/O1.BAK"));
    EXPECT_EQ(rig.read("TRASH"), "N1\r\nN3\r\nM30\r\n");
    EXPECT_TRUE(logged(
        rig, "Host line lost during the upload - data kept in " + rig.s.station_dir() + "/TRASH"));
    EXPECT_FALSE(logged(rig, " received  "));
    EXPECT_TRUE(rig.s.reply_buffer[1].empty());
  }
}

// A stop at each step of the commit, then the start-up's repair: the program is whole (the
// old one or the new), its backup and its index entry agree with it.
struct StepCase {
  const char* step;
  bool program_replaced;
};
void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.step;
}

struct StopHere {};
const char* g_stop_at = nullptr;
void stop_at_step(const char* step) {
  if (std::string(step) == g_stop_at) throw StopHere{};
}

class StopDuringCommit : public ::testing::TestWithParam<StepCase> {};

TEST_P(StopDuringCommit, StartUpLeavesAWholeProgramAndAMatchingIndex) {
  const StepCase& c = GetParam();
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().code_line = "0 /BAK";
  rig.s.filetype = 3;
  const std::string old_program = "\":0005 (OLD)\"\r\n\"N1 OLD\"\r\n";
  rig.dir.write("UP/PROG0005", old_program);
  rig.dir.write("UP/PROG0005.BAK", "OLDER\r\n");
  rig.dir.write("UP/CONTENTS", "\"0005\",\"OLD\", 8\r\n");
  g_stop_at = c.step;
  g_upload_commit_step = stop_at_step;
  rig.command("R5 (NEW)");
  rig.send("N1 NEW\r\nN2\r\n");
  rig.run_ms(200);
  bool stopped = false;
  try {
    rig.run_ms(6000);
  } catch (const StopHere&) {
    stopped = true;
  }
  g_upload_commit_step = nullptr;
  ASSERT_TRUE(stopped);

  finish_interrupted_uploads(rig.s);
  const std::string program = rig.read("UP/PROG0005");
  if (c.program_replaced) {
    EXPECT_EQ(program, "\":0005 (NEW)\"\r\n\"N1 NEW\"\r\n\"N2\"\r\n");
    EXPECT_EQ(rig.read("UP/PROG0005.BAK"), old_program);
    EXPECT_EQ(rig.read("UP/CONTENTS"), "\"0005\",\"NEW\", 12\r\n");
  } else {
    EXPECT_EQ(program, old_program);
    EXPECT_EQ(rig.read("UP/CONTENTS"), "\"0005\",\"OLD\", 8\r\n");
  }
  for (const auto& e : fs::directory_iterator(rig.dir.path() / "UP")) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "PROG0005" || name == "PROG0005.BAK" || name == "CONTENTS") << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Upload, StopDuringCommit,
                         ::testing::Values(StepCase{"index written", false},
                                           StepCase{"old backup deleted", false},
                                           StepCase{"backup made", false},
                                           StepCase{"program replaced", true},
                                           StepCase{"index replaced", true}));

}  // namespace
}  // namespace shoplink
