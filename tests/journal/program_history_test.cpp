// Every program the station replaces keeps its old content and its new one as revisions;
// what never became the program is a revision of TRASH; the history is pruned as set, and
// a replace cut short by a kill is settled against the program when the journal opens.
#include <gtest/gtest.h>

#include <filesystem>

#include "journal/journal.hpp"
#include "journal/journal_rig.hpp"
#include "receive/manual_receive.hpp"
#include "receive/upload_rig.hpp"
#include "station/program_restore.hpp"
#include "support/file_size_limit.hpp"

namespace shoplink {
namespace {

namespace fs = std::filesystem;
using testing::FileSizeLimit;
using testing::revision_rows;
using testing::UploadRig;

struct HistoryRig : UploadRig {
  explicit HistoryRig(JournalSettings settings = {}) : journal(s, settings) {}
  Journal journal;
  fs::path program() const { return dir.path() / "UP" / "O1"; }
  std::vector<std::string> revisions() const { return revision_rows(dir.path(), program()); }
  void upload_o1(const std::string& text) {
    stay_on_port();
    command("RO1");
    upload(text);
    run_ms(2500);  // back to scanning
  }
  void manual_receive_o1(const std::string& text) {
    stay_on_port();
    dialogs.file_answers.push_back(program().string());
    dialogs.yes_no_answers.push_back(true);
    mode_receive_Click(s);
    upload(text);
    run_ms(2500);
  }
  int log_count(const std::string& part) const {
    const std::string text = log();
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

// One step on UP/O1: U upload, M manual receive, E edit outside the station, R restore.
struct Step {
  char what;
  const char* text;  // the content, or for R the revision number
};

struct HistoryCase {
  const char* name;
  const char* before;  // the program before the first step (nullptr: none)
  std::vector<Step> steps;
  std::vector<std::string> revisions;  // "number origin content", newest first
  int keep = 50;
};
void PrintTo(const HistoryCase& c, std::ostream* os) {
  *os << c.name;
}

class History : public ::testing::TestWithParam<HistoryCase> {};

TEST_P(History, RevisionsFollowTheReplaces) {
  const HistoryCase& c = GetParam();
  JournalSettings settings;
  settings.history_keep = c.keep;
  HistoryRig rig(settings);
  if (c.before) rig.dir.write("UP/O1", c.before);
  std::string last;
  for (const Step& step : c.steps) {
    switch (step.what) {
      case 'U':
        rig.upload_o1(step.text);
        break;
      case 'M':
        rig.manual_receive_o1(step.text);
        break;
      case 'E':
        rig.dir.write("UP/O1", step.text);
        break;
      case 'R': {
        const RestoreOutcome r =
            restore_revision(rig.s, rig.journal, rig.program(), std::stoi(step.text));
        ASSERT_TRUE(r.ok) << r.message;
        break;
      }
    }
  }
  EXPECT_EQ(rig.revisions(), c.revisions);
  // The newest revision is what the program holds.
  ASSERT_FALSE(c.revisions.empty());
  const std::string& newest = c.revisions.front();
  EXPECT_TRUE(newest.ends_with(" " + rig.read("UP/O1"))) << newest;
}

INSTANTIATE_TEST_SUITE_P(
    Journal, History,
    ::testing::Values(HistoryCase{"OverAnExistingProgram",
                                  "OLD\r\n",
                                  {{'U', "NEW\r\n"}},
                                  {"2 upload NEW\r\n", "1 found OLD\r\n"}},
                      HistoryCase{"ANewProgram", nullptr, {{'U', "A\r\n"}}, {"1 upload A\r\n"}},
                      HistoryCase{"TwoUploads",
                                  nullptr,
                                  {{'U', "A\r\n"}, {'U', "B\r\n"}},
                                  {"2 upload B\r\n", "1 upload A\r\n"}},
                      HistoryCase{"EditedBetween",
                                  nullptr,
                                  {{'U', "A\r\n"}, {'E', "X\r\n"}, {'U', "B\r\n"}},
                                  {"3 upload B\r\n", "2 changed outside X\r\n", "1 upload A\r\n"}},
                      HistoryCase{"TheSameAgain",
                                  nullptr,
                                  {{'U', "A\r\n"}, {'U', "A\r\n"}},
                                  {"2 upload A\r\n", "1 upload A\r\n"}},
                      HistoryCase{"ManualReceive",
                                  "OLD\r\n",
                                  {{'M', "NEW\r\n"}},
                                  {"2 manual receive NEW\r\n", "1 found OLD\r\n"}},
                      HistoryCase{"Restore",
                                  nullptr,
                                  {{'U', "A\r\n"}, {'U', "B\r\n"}, {'R', "1"}},
                                  {"3 restore A\r\n", "2 upload B\r\n", "1 upload A\r\n"}},
                      HistoryCase{"KeepsTheLastTwo",
                                  nullptr,
                                  {{'U', "A\r\n"}, {'U', "B\r\n"}, {'U', "C\r\n"}},
                                  {"3 upload C\r\n", "2 upload B\r\n"},
                                  2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistoryPruning, EveryPruningIsLogged) {
  JournalSettings settings;
  settings.history_keep = 2;
  HistoryRig rig(settings);
  for (const char* text : {"A\r\n", "B\r\n", "C\r\n", "D\r\n"}) rig.upload_o1(text);
  EXPECT_EQ(rig.log_count("History: 1 old revision of " + rig.program().string() +
                          " removed (HISTORY_KEEP=2)"),
            2);
}

TEST(HistoryPruning, TheSizeBoundRemovesTheOldestButNeverAProgramsNewest) {
  JournalSettings settings;
  settings.history_bytes = 25;  // room for two of the 12-byte programs
  HistoryRig rig(settings);
  rig.upload_o1("PROGRAM A1\r\n");
  rig.upload_o1("PROGRAM A2\r\n");
  rig.upload_o1("PROGRAM A3\r\n");
  EXPECT_EQ(rig.revisions(),
            (std::vector<std::string>{"3 upload PROGRAM A3\r\n", "2 upload PROGRAM A2\r\n"}));
  EXPECT_EQ(rig.log_count("History: 1 revision removed to keep the history under 0 MB"), 1);
}

TEST(HistoryTrash, AnUploadThatGoesToTrashIsARevisionOfTrash) {
  HistoryRig rig;
  rig.dir.write("UP/O1", "OLD\r\n");
  rig.command("RC:O1");  // an unmapped drive: outside the station's directories
  rig.upload("INTRUDER\r\n");
  EXPECT_EQ(rig.read("UP/O1"), "OLD\r\n");
  EXPECT_TRUE(rig.revisions().empty());
  EXPECT_EQ(revision_rows(rig.dir.path(), rig.dir.path() / "TRASH"),
            (std::vector<std::string>{"1 discarded upload INTRUDER\r\n"}));
}

TEST(HistoryTrash, AnUploadWhoseWriteFailedIsKeptAsARevisionOfTrash) {
  HistoryRig rig;
  rig.dir.write("UP/O1", "OLD\r\n");
  std::string program;
  // More than stdio's buffer, so that its write fails while the limit stands.
  for (int i = 0; i < 1000; ++i) program += "G1 X" + std::to_string(i) + "\r\n";
  {
    FileSizeLimit limit(512);
    rig.command("RO1");
    rig.send(program);
    rig.run_ms(200);
  }
  rig.run_ms(6000);
  EXPECT_EQ(rig.read("UP/O1"), "OLD\r\n");
  EXPECT_TRUE(rig.revisions().empty());
  auto db = open_journal_reader(rig.dir.path());
  ProgramHistory h(*db);
  const auto trash = h.revisions((rig.dir.path() / "TRASH").string());
  ASSERT_EQ(trash.size(), 1u);
  EXPECT_EQ(trash[0].origin, "discarded upload");
  EXPECT_EQ(trash[0].note, "meant for " + rig.program().string());
  EXPECT_EQ(h.content(trash[0]), program.substr(0, 512));
}

// A kill between the history's write and the rename, or between the rename and the
// history's last word, leaves a pending revision; the journal's next opening settles it by
// what the program holds.
class CutShort : public ::testing::TestWithParam<bool> {};

TEST_P(CutShort, APendingRevisionIsSettledByTheProgram) {
  const bool renamed = GetParam();
  UploadRig rig;
  rig.dir.write("UP/O1", "OLD\r\n");
  rig.dir.write("UP/~O1.upload", "NEW\r\n");
  const fs::path program = rig.dir.path() / "UP" / "O1";
  {
    auto db = open_journal_writer(rig.dir.path());
    ProgramHistory h(*db);
    ProgramChange c;
    c.program = program;
    c.incoming = rig.dir.path() / "UP" / "~O1.upload";
    c.previous = program;
    c.port = 1;
    h.keep_before_replace(c, "2026-12-07 06:45:30");
    if (renamed) fs::rename(c.incoming, program);
    // Readers already see the history as the program stands.
    EXPECT_EQ(revision_rows(rig.dir.path(), program).front(),
              renamed ? "2 upload NEW\r\n" : "1 found OLD\r\n");
  }
  Journal journal(rig.s, {});
  ASSERT_TRUE(journal.ready());
  const std::vector<std::string> settled =
      renamed ? std::vector<std::string>{"2 upload NEW\r\n", "1 found OLD\r\n"}
              : std::vector<std::string>{"1 found OLD\r\n"};
  EXPECT_EQ(revision_rows(rig.dir.path(), program), settled);
  auto db = open_journal_reader(rig.dir.path());
  Statement pending = db->prepare("SELECT count(*) FROM revisions WHERE pending = 1");
  ASSERT_TRUE(pending.step());
  EXPECT_EQ(pending.integer(0), 0);
  EXPECT_NE(rig.log().find("History: 1 revision of a replace cut short by the last stop settled"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Journal, CutShort, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Renamed" : "NotRenamed"; });

TEST(JournalFailure, AJournalThatCannotBeWrittenIsLoggedOnceAndUploadsGoOn) {
  HistoryRig rig;
  rig.dir.write("JOURNAL", "a file where the folder should be");
  rig.upload_o1("A\r\n");
  rig.upload_o1("B\r\n");
  EXPECT_EQ(rig.read("UP/O1"), "B\r\n");
  EXPECT_EQ(rig.log_count("Journal: cannot write"), 1);
  EXPECT_EQ(rig.log_count("File " + rig.program().string() + " received"), 2);

  // Once the folder can be made, the journal works again, and says so once.
  fs::remove(rig.dir.path() / "JOURNAL");
  rig.run_ms(std::chrono::duration_cast<std::chrono::milliseconds>(kJournalReopenAfter).count());
  rig.upload_o1("C\r\n");
  EXPECT_EQ(rig.log_count("Journal: writing again"), 1);
  EXPECT_EQ(rig.revisions(), (std::vector<std::string>{"2 upload C\r\n", "1 found B\r\n"}));
}

}  // namespace
}  // namespace shoplink
