// shoplink history, diff, restore and transfers against a station directory whose journal
// an upload rig has filled: what they print, and a one-line error with status 1.
#include "journal_commands.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "journal/journal.hpp"
#include "journal/journal_rig.hpp"
#include "receive/upload_rig.hpp"
#include "support/station_fixture.hpp"

namespace shoplink {
namespace {

namespace fs = std::filesystem;

struct JournalCommands : ::testing::Test {
  testing::UploadRig rig;
  Journal journal{rig.s, {}};
  fs::path program = rig.dir.path() / "UP" / "O1.NC";
  std::ostringstream out, err;

  void SetUp() override {
    std::vector<std::string> blocks(8, "9600\n0\n\n\n");
    blocks[0] = "9600 (MILL1)\n0\nUP\nNC\n,+.NC";
    rig.dir.write("DNCDATA", testing::make_dncdata("COM1:9600", "", "SHOPLINK.LOG", blocks));
    rig.port().extension = ".NC";
    rig.port().machine_name = "MILL1";
    rig.dir.write("UP/O1.NC", "O1\r\nG0 X0\r\nM30\r\n");
    for (const char* text : {"O1\r\nG0 X1\r\nM30\r\n", "O1\r\nG0 X2\r\nM30\r\n"}) {
      rig.stay_on_port();
      rig.command("RO1");
      rig.upload(text);
      rig.run_ms(2500);
    }
  }
  JournalCommand command(std::string program_text = {}) {
    JournalCommand c;
    c.station_dir = rig.dir.path().string();
    c.program = std::move(program_text);
    return c;
  }
  std::vector<std::string> out_lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
};

TEST_F(JournalCommands, HistoryListsTheRevisionsNewestFirst) {
  ASSERT_EQ(history_command(command("UP/O1.NC"), out, err), 0) << err.str();
  const auto lines = out_lines();
  ASSERT_EQ(lines.size(), 5u) << out.str();
  EXPECT_EQ(lines[0], program.string());
  EXPECT_EQ(lines[1].substr(0, 10), " REV  TIME");
  EXPECT_EQ(lines[2], "   3  2026-12-07 06:45:46     1  MILL1                16  upload");
  EXPECT_EQ(lines[4], "   1  2026-12-07 06:45:36     -  -                    16  found");
}

TEST_F(JournalCommands, AProgramIsFoundByTheNameItsMachineGives) {
  JournalCommand c = command("O1");
  c.port = 1;
  ASSERT_EQ(history_command(c, out, err), 0) << err.str();
  EXPECT_EQ(out_lines().at(0), program.string());
  // And by its file name alone, as it has a history.
  out.str("");
  ASSERT_EQ(history_command(command("o1.nc"), out, err), 0) << err.str();
  EXPECT_EQ(out_lines().at(0), program.string());
}

TEST_F(JournalCommands, DiffComparesThePreviousRevisionWithTheCurrentFile) {
  ASSERT_EQ(diff_command(command(program.string()), out, err), 0) << err.str();
  EXPECT_EQ(out.str(), "--- " + program.string() + " revision 2 (2026-12-07 06:45:36, upload)\n" +
                           "+++ " + program.string() + " (current file)\n" +
                           "@@ -1,3 +1,3 @@\n O1\n-G0 X1\n+G0 X2\n M30\n");
}

TEST_F(JournalCommands, RestorePutsARevisionBackAndKeepsItAsTheNext) {
  JournalCommand c = command(program.string());
  c.revisions = {1};
  ASSERT_EQ(restore_command(c, out, err), 0) << err.str();
  EXPECT_EQ(rig.read("UP/O1.NC"), "O1\r\nG0 X0\r\nM30\r\n");
  EXPECT_EQ(out.str(),
            "Program " + program.string() + " restored from revision 1 (now revision 4)\n");
  EXPECT_EQ(testing::revision_rows(rig.dir.path(), program).front(),
            "4 restore O1\r\nG0 X0\r\nM30\r\n");
  EXPECT_NE(rig.log().find("Program " + program.string() + " restored from revision 1"),
            std::string::npos);
}

TEST_F(JournalCommands, TransfersAsCsvForOnePortSinceADay) {
  JournalCommand c = command();
  c.csv = true;
  c.port = 1;
  c.since = "2026-12-07";
  ASSERT_EQ(transfers_command(c, out, err), 0) << err.str();
  const auto lines = out_lines();
  ASSERT_EQ(lines.size(), 3u) << out.str();
  EXPECT_EQ(lines[0], "started,ended,port,machine,kind,program,characters,result,reason");
  EXPECT_EQ(lines[1], "2026-12-07 06:45:30,2026-12-07 06:45:36,1,MILL1,upload," + program.string() +
                          ",16,received,");
  c.since = "2026-12-08";
  out.str("");
  ASSERT_EQ(transfers_command(c, out, err), 0);
  EXPECT_EQ(out_lines().size(), 1u);
}

struct ErrorCase {
  const char* name;
  int (*run)(const JournalCommand&, std::ostream&, std::ostream&);
  const char* program;
  std::vector<int> revisions;
  const char* since;
  const char* error;  // the start of the one line
};
void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CommandErrors, AreOneLineAndStatusOne) {
  const ErrorCase& e = GetParam();
  testing::UploadRig rig;
  rig.dir.write("UP/O9", "O9\r\n");
  Journal journal(rig.s, {});
  ASSERT_TRUE(journal.ready());
  JournalCommand c;
  c.station_dir = rig.dir.path().string();
  c.program = e.program;
  c.revisions = e.revisions;
  c.since = e.since;
  std::ostringstream out, err;
  EXPECT_EQ(e.run(c, out, err), 1);
  const std::string text = err.str();
  EXPECT_EQ(text.find(e.error), 0u) << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Journal, CommandErrors,
    ::testing::Values(
        ErrorCase{
            "NoSuchProgram", history_command, "NOPE", {}, "", "shoplink history: no program NOPE"},
        ErrorCase{"NoSuchRevision",
                  restore_command,
                  "UP/O9",
                  {7},
                  "",
                  "shoplink restore: no revision 7 of "},
        ErrorCase{"BadDate",
                  transfers_command,
                  "",
                  {},
                  "7.12.2026",
                  "shoplink transfers: --since 7.12.2026: expected YYYY-MM-DD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandsWithoutJournal, SayThereIsNone) {
  testing::TempDir dir;
  JournalCommand c;
  c.station_dir = dir.path().string();
  std::ostringstream out, err;
  EXPECT_EQ(transfers_command(c, out, err), 1);
  EXPECT_EQ(err.str(), "shoplink transfers: no journal in " + dir.path().string() +
                           " (the station has not run yet)\n");
}

}  // namespace
}  // namespace shoplink
