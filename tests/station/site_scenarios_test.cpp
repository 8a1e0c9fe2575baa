// Each customer site on the whole station: a CUSTOMER file names the site, machine 3 asks for
// a program or uploads one, and the row is shown by what the machine gets or what is stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "support/station_fixture.hpp"

namespace shoplink::testing {
namespace {

struct SiteLayout {
  const char* customer;
  const char* city = "";
  const char* code_line = "0";
  const char* receive_dir = "C:\\UP";
  const char* send_dir = "C:\\NC";
  const char* xref = "";  // XREF file; empty: none
  const char* station_defaults = "";
};

struct SiteStation {
  explicit SiteStation(const SiteLayout& l) {
    std::vector<std::string> blocks;
    for (int k = 1; k <= 8; ++k) blocks.push_back("9600 (MILL" + std::to_string(k) + ")\n0\n\n\n");
    blocks[2] = std::string("9600 (MILL3)\n") + l.code_line + "\n" + l.receive_dir + "\n" +
                l.send_dir + "\n,+.NC";
    f = std::make_unique<StationFixture>(
        make_dncdata("COM1:9600", l.station_defaults, "SYSTEM.LOG", blocks));
    f->write_file("CUSTOMER", std::string(l.customer) + "\r\n" + l.city + "\r\n");
    if (*l.xref) f->write_file("XREF", l.xref);
    for (const char* d : {"c/UP", "c/NC", "g/NC", "g/UP"})
      f->write_file(std::string(d) + "/keep", "");
    f->paths.map("C:", (f->dir.path() / "c").string());
    f->paths.map("G:", (f->dir.path() / "g").string());
  }
  sim::Machine& mill() { return f->shop.machine(3); }
  bool scanning() const {
    Station& s = f->s();
    return s.mode == Mode::Scanning && s.Timer2.enabled() && s.receiving == 0 && s.sending == 0;
  }
  // The machine asks; returns what it has received once the station scans again.
  std::string fetch(const std::string& command) {
    f->start();
    mill().send_command(command);
    EXPECT_TRUE(
        f->run_until([&] { return contains(mill().received_text(), ")") && scanning(); }, 60000));
    return mill().received_text();
  }
  // The machine announces an upload and sends `program`.
  void store(const std::string& command, const std::string& program) {
    f->start();
    mill().send_command(command);
    ASSERT_TRUE(f->run_until([&] { return f->s().mode == Mode::Receiving; }, 20000));
    mill().upload(program);
    ASSERT_TRUE(f->run_until([&] { return mill().uploads_done() == 1 && scanning(); }, 60000));
  }
  std::unique_ptr<StationFixture> f;
};

// A program file that names itself, so that the machine's copy shows which file was sent.
std::string program_at(const std::string& rel) {
  return "%\r\n(" + rel + ")\r\nM30\r\n%\r\n";
}

struct FetchRow {
  const char* row;
  SiteLayout layout;
  std::vector<std::string> files;  // under the station directory; c/ and g/ are drives C: and G:
  const char* command;
  const char* gets;           // the file whose program arrives, or the not-found reply's line
  const char* contents = "";  // the CONTENTS index of C:\NC, when the row needs one
};

class SiteFetch : public ::testing::TestWithParam<FetchRow> {};

TEST_P(SiteFetch, TheMachineGetsTheSitesFile) {
  const FetchRow& r = GetParam();
  SiteStation st(r.layout);
  for (const std::string& rel : r.files) st.f->write_file(rel, program_at(rel));
  if (*r.contents) st.f->write_file("c/NC/CONTENTS", r.contents);
  const std::string got = st.fetch(r.command);
  const std::string expected =
      starts_with(r.gets, "(FILE") ? r.gets : "(" + std::string(r.gets) + ")";
  EXPECT_TRUE(contains(got, expected)) << r.row << " got: " << got;
}

// Decoys make a wrong choice visible: the plain file where the site rule names another.
const FetchRow kFetchRows[] = {
    {"HadleyToolNamesOWithNC",
     {"HADLEY TOOL"},
     {"c/NC/1234.NC", "c/NC/O1234.NC"},
     "T1234",
     "c/NC/O1234.NC"},
    {"KelBranSpacesAreRemoved", {"KEL-BRAN"}, {"c/NC/PF12.NC"}, "TPF 12", "c/NC/PF12.NC"},
    {"KelBranSecondTryWithPfSpace",
     {"Kel-Bran Corp"},
     {"c/NC/PF 12.NC"},
     "TPF 12",
     "c/NC/PF 12.NC"},
    {"KelBranPfInTheDirectoryIsNotTheNames",
     {"KEL-BRAN", "", "0", "C:\\UP", "C:\\PFX"},
     {"c/PFX/PF 12.NC"},
     "TPF12",
     "c/PFX/PF 12.NC"},
    {"KelBranSecondTryMissing", {"KEL-BRAN"}, {}, "TPF12", "(FILE PF 12.NC NOT FOUND)"},
    {"CorriganFirstTryMO",
     {"CORRIGAN"},
     {"c/NC/MO123.NC", "c/NC/M0123.NC"},
     "T123",
     "c/NC/MO123.NC"},
    {"CorriganSecondTryM0", {"CORRIGAN"}, {"c/NC/M0123.NC"}, "T123", "c/NC/M0123.NC"},
    {"CorriganNeitherFound", {"CORRIGAN"}, {}, "T123", "(FILE M0123.NC NOT FOUND)"},
    {"CorriganMOAskedGoesToM0", {"CORRIGAN"}, {"c/NC/M0123.NC"}, "TMO123", "c/NC/M0123.NC"},
    {"SableCarbonTempSecondTry", {"SABLE CARBON"}, {"c/TEMP/NC/O1.NC"}, "TO1", "c/TEMP/NC/O1.NC"},
    {"SableCarbonTempMissing", {"SABLE CARBON"}, {}, "TO1", "(FILE O1.NC NOT FOUND)"},
    {"DunVarleyLetterFolderOnXrefDrive",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "NC=G\r\n"},
     {"c/NC/O/O1234.NC", "g/NC/O/O1234.NC"},
     "TO1234",
     "g/NC/O/O1234.NC"},
    {"DunVarleySpacedMixedCase",
     {"Dun Varley Ltd", "", "0", "C:\\UP", "C:\\NC", "NC=G\r\n"},
     {"g/NC/O/O1234.NC"},
     "TO1234",
     "g/NC/O/O1234.NC"},
    {"DunVarleyLeadingNDropped",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "NC=G\r\n"},
     {"g/NC/7/77.NC"},
     "TN77",
     "g/NC/7/77.NC"},
    {"DunVarleyRetryInSavedDirectory",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "NC=G\r\n"},
     {"g/NC/O1234.NC"},
     "TO1234",
     "g/NC/O1234.NC"},
    {"DunVarleyRetryMissing",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "NC=G\r\n"},
     {"c/NC/O1234.NC"},
     "TO1234",
     "(FILE O1234.NC NOT FOUND)"},
    {"DunVarleyUnmappedDriveIsNeverRead",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "NC=Q\r\n"},
     {"Q:/NC/O/O1234.NC", "Q:/NC/O1234.NC"},
     "TO1234",
     "(FILE O1234.NC NOT FOUND)"},
    {"DunVarleyWithoutXrefEntry",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "JOBS=G\r\n"},
     {"c/NC/O/O1234.NC", "g/NC/O/O1234.NC"},
     "TO1234",
     "c/NC/O/O1234.NC"},
    {"GarnetParenthesesName",
     {"GARNET MANUFACTURING", "", "0 /32", "C:\\UP", "C:\\NC", "", "PCNC"},
     {"c/NC/PROG0007"},
     "T(HUB)",
     "c/NC/PROG0007",
     "\"0007\",\"HUB\", 10\r\n"},
    {"GarnetNoMatchByBeginning",
     {"GARNET MANUFACTURING", "", "0 /32", "C:\\UP", "C:\\NC", "", "PCNC"},
     {"c/NC/PROG0007"},
     "T(HU)",
     "(FILE HU NOT FOUND)",
     "\"0007\",\"HUB\", 10\r\n"},
    {"OtherSitesMatchByBeginning",
     {"ACME", "", "0 /32", "C:\\UP", "C:\\NC", "", "PCNC"},
     {"c/NC/PROG0007"},
     "THU",
     "c/NC/PROG0007",
     "\"0007\",\"HUB\", 10\r\n"},
    {"WestbrookNameFoundByListing", {"WESTBROOK"}, {"c/NC/O1234-A.NC"}, "T1234", "c/NC/O1234-A.NC"},
    {"Holloway1",
     {"HOLLOWAY ENGINEERING"},
     {"c/NC/1.NC", "c/NC/0500/1.NC"},
     "T1",
     "c/NC/0500/1.NC"},
    {"Holloway500", {"HOLLOWAY ENGINEERING"}, {"c/NC/0500/500.NC"}, "T500", "c/NC/0500/500.NC"},
    {"Holloway501", {"HOLLOWAY ENGINEERING"}, {"c/NC/1000/501.NC"}, "T501", "c/NC/1000/501.NC"},
    {"Holloway0", {"HOLLOWAY ENGINEERING"}, {"c/NC/0500/0.NC"}, "T0", "c/NC/0500/0.NC"},
    {"HollowayMixedCaseAmongWords",
     {"The holloway engineering co."},
     {"c/NC/0500/1.NC"},
     "T1",
     "c/NC/0500/1.NC"},
    {"EmptyNameSelectsNoSite", {""}, {"c/NC/1.NC", "c/NC/0500/1.NC"}, "T1", "c/NC/1.NC"},
    {"Fenwick1000", {"FENWICK", "MARLOW, KY"}, {"c/NC/1000/1000.NC"}, "T1000", "c/NC/1000/1000.NC"},
    {"Fenwick1001", {"FENWICK", "Marlow"}, {"c/NC/2000/1001.NC"}, "T1001", "c/NC/2000/1001.NC"},
    {"Fenwick9500", {"FENWICK", "MARLOW"}, {"c/NC/10000/9500.NC"}, "T9500", "c/NC/10000/9500.NC"},
    {"FenwickElsewhereNoFolder", {"FENWICK", "DENTON"}, {"c/NC/1000.NC"}, "T1000", "c/NC/1000.NC"},
    {"FenwickPathInCommand",
     {"FENWICK", "MARLOW"},
     {"c/NC/SUB/1000.NC"},
     "T\\SUB\\1000",
     "c/NC/SUB/1000.NC"},
    {"Kzv5512InVA50",
     {"KZV COMPANY", "ASHBOURNE"},
     {"c/VA50/5500/5512.NC"},
     "T5512",
     "c/VA50/5500/5512.NC"},
    {"Kzv123InVA50",
     {"KZV COMPANY", "ASHBOURNE"},
     {"c/VA50/0000/123.NC"},
     "T123",
     "c/VA50/0000/123.NC"},
    {"KzvElsewhereNoFolder", {"KZV COMPANY", "LEEDS"}, {"c/VA50/123.NC"}, "T123", "c/VA50/123.NC"},
};

// KZV rows read programs from C:\VA50.
FetchRow kzv(FetchRow r) {
  if (contains(r.row, "Kzv")) r.layout.send_dir = "C:\\VA50";
  return r;
}

INSTANTIATE_TEST_SUITE_P(Sites, SiteFetch, ::testing::ValuesIn([] {
                           std::vector<FetchRow> rows;
                           for (const FetchRow& r : kFetchRows) rows.push_back(kzv(r));
                           return rows;
                         }()),
                         [](const auto& info) { return std::string(info.param.row); });

struct StoreRow {
  const char* row;
  SiteLayout layout;
  const char* command;
  const char* stored;   // file under the station directory
  const char* content;  // its content begins so
};

class SiteStore : public ::testing::TestWithParam<StoreRow> {};

TEST_P(SiteStore, TheUploadIsStoredAsTheSiteWants) {
  const StoreRow& r = GetParam();
  SiteStation st(r.layout);
  for (const char* d : {"c/UP/HC630/0000", "c/UP/2000", "c/UP/B", "c/UP/D", "c/NEWLTHB", "g/UP/O"})
    st.f->write_file(std::string(d) + "/keep", "");
  st.store(r.command, "G1X1\nM30\nCLOSE FILE\n");
  ASSERT_TRUE(st.f->dir.exists(r.stored)) << r.row;
  EXPECT_TRUE(starts_with(st.f->read_file(r.stored), r.content))
      << r.row << ": " << st.f->read_file(r.stored);
}

const StoreRow kStoreRows[] = {
    {"AshcroftMurataHead2",
     {"ASHCROFT SCREW", "", "0 MURATA", "C:\\UP,C:\\UP\\B,C:\\UP\\C,C:\\UP\\D"},
     "RO5 (HEAD 2)",
     "c/UP/D/O5.NC",
     "G1X1"},
    {"AshcroftMurataOp22",
     {"ASHCROFT SCREW", "", "0 MURATA", "C:\\UP,C:\\UP\\B,C:\\UP\\C,C:\\UP\\D"},
     "RO5 (OP 2/2)",
     "c/UP/B/O5.NC",
     "G1X1"},
    {"AshcroftOtherPortFirstDir",
     {"ASHCROFT SCREW", "", "0", "C:\\UP,C:\\UP\\B,C:\\UP\\C,C:\\UP\\D"},
     "RO5 (HEAD2)",
     "c/UP/O5.NC",
     "G1X1"},
    {"CorriganShortName", {"CORRIGAN"}, "R123", "c/UP/M0123.NC", "G1X1"},
    {"LakesideCommentLetter", {"LAKESIDE ROLL"}, "RO5 (bracket)", "c/NEWLTHB/O5.NC", "G1X1"},
    {"CadenceUploadLine",
     {"CADENCE PRODUCTIONS"},
     "RO5",
     "c/UP/O5.NC",
     "(UPLOAD FROM PORT 3 12-07-2026 "},
    {"HollowayStoresWithoutFolder", {"HOLLOWAY ENGINEERING"}, "R1", "c/UP/1.NC", "G1X1"},
    {"FenwickStoreFolder", {"FENWICK", "MARLOW"}, "R1500", "c/UP/2000/1500.NC", "G1X1"},
    {"KzvStoreFolder",
     {"KZV COMPANY", "ASHBOURNE", "0", "C:\\UP\\HC630"},
     "R12",
     "c/UP/HC630/0000/12.NC",
     "G1X1"},
    {"KesslerOpenFileIsItsFirstLine",
     {"KESSLER SUPPLY"},
     "OPEN FILE O55",
     "c/UP/O55.NC",
     "OPEN FILE O55\r\nG1X1\r\nM30\r\nCLOSE FILE"},
    {"GlenmoreProgForm",
     {"GLENMORE METAL"},
     "PROG,999999 PROG,   O55 ,(SHAFT)",
     "c/UP/O55.NC",
     "PROG,   O55 ,(SHAFT)\r\nG1X1"},
    {"DunVarleyStoreLetterFolder",
     {"DUN-VARLEY", "", "0", "C:\\UP", "C:\\NC", "UP=G\r\n"},
     "RO55",
     "g/UP/O/O55.NC",
     "G1X1"},
};

// The CORRIGAN tries are logged one by one, with the prefix each adds.
TEST(SiteLog, CorriganLogsBothPrefixes) {
  SiteStation st({"CORRIGAN"});
  st.f->write_file("c/NC/M0123.NC", program_at("M0123"));
  ASSERT_TRUE(contains(st.fetch("T123"), "(M0123)"));
  const auto log = st.f->log_messages();
  const std::string nc = st.f->paths.display("C:\\NC\\");
  const std::vector<std::string> expected{
      "Port 3 Request for file " + nc + "123.NC",   "File not found - adding \"MO\" to file name",
      "Port 3 Request for file " + nc + "MO123.NC", "File not found - adding \"M0\" to file name",
      "Port 3 Request for file " + nc + "M0123.NC",
  };
  auto first = std::find(log.begin(), log.end(), expected[0]);
  ASSERT_NE(first, log.end());
  EXPECT_EQ(std::vector<std::string>(first, first + 5), expected);
}

// SKYLARK machines report tool changes with E and C.
TEST(SiteLog, SkylarkToolChangeLetters) {
  for (const char* customer : {"SKYLARK", "ACME"}) {
    SiteStation st({customer});
    st.f->start();
    st.mill().send_command("E");
    st.f->advance_ms(5000);
    const bool recorded = st.f->dir.exists("c/UP/ACTIVITY.03") &&
                          contains(st.f->read_file("c/UP/ACTIVITY.03"), "Stop for tool change: ");
    EXPECT_EQ(recorded, std::string(customer) == "SKYLARK") << customer;
  }
}

INSTANTIATE_TEST_SUITE_P(Sites, SiteStore, ::testing::ValuesIn(kStoreRows),
                         [](const auto& info) { return std::string(info.param.row); });

}  // namespace
}  // namespace shoplink::testing
