// What an upload may never do: replace the station's own files, destroy the old program
// without storing a line of the new one, report a failed or discarded upload as received,
// or leave its temporary behind where requests would find it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "receive/upload_file.hpp"
#include "receive/upload_rig.hpp"
#include "support/file_size_limit.hpp"

namespace shoplink {
namespace {

namespace fs = std::filesystem;
using testing::FileSizeLimit;
using testing::UploadRig;

bool logged(const UploadRig& rig, const std::string& text) {
  return rig.log().find(text) != std::string::npos;
}

int entries_in(const fs::path& dir) {
  return static_cast<int>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

bool status_shown(const UploadRig& rig, const std::string& part) {
  return std::any_of(rig.window.statuses.begin(), rig.window.statuses.end(),
                     [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

// A port whose receive line is empty stores into the station directory itself.
struct OwnFileCase {
  const char* command;
  const char* file;  // as it stands in the station directory ("" = must not be created)
  const char* created;
};
void PrintTo(const OwnFileCase& c, std::ostream* os) {
  *os << c.command;
}

class StationOwnFiles : public ::testing::TestWithParam<OwnFileCase> {};

TEST_P(StationOwnFiles, UploadGoesToTrashAndTheFileIsUntouched) {
  const OwnFileCase c = GetParam();
  UploadRig rig;
  rig.port().receive_dir = rig.s.station_dir();
  if (*c.file) rig.dir.write(c.file, "ORIGINAL\r\n");
  rig.command(c.command);
  rig.upload("C:=/\r\n");
  if (*c.file) {
    EXPECT_EQ(rig.read(c.file), "ORIGINAL\r\n");
  } else {
    EXPECT_FALSE(rig.exists(c.created));
  }
  EXPECT_EQ(rig.read("TRASH"), "C:=/\r\n");
  EXPECT_TRUE(logged(rig, "Storing data as file " + rig.s.station_dir() + "/TRASH"));
}

INSTANTIATE_TEST_SUITE_P(
    Reception, StationOwnFiles,
    ::testing::Values(
        OwnFileCase{"RDNCDATA", "DNCDATA", ""}, OwnFileCase{"Rdncdata.8", "DNCDATA.8", ""},
        OwnFileCase{"RHOSTMAP", "", "HOSTMAP"}, OwnFileCase{"Rhostmap", "", "hostmap"},
        OwnFileCase{"RCUSTOMER", "CUSTOMER", ""}, OwnFileCase{"RXREF", "XREF", ""},
        OwnFileCase{"RPROGXREF", "", "PROGXREF"}, OwnFileCase{"RSCANRATE", "Scanrate", ""},
        OwnFileCase{"RTEMPFILE.LOG", "", "TEMPFILE.LOG"},
        OwnFileCase{"RLEADER.003", "LEADER.003", ""},
        OwnFileCase{"RTRAILER.008", "", "TRAILER.008"},
        OwnFileCase{"RNOTFOUND.ALM", "notfound.alm", ""}, OwnFileCase{"RCONTENTS", "CONTENTS", ""},
        OwnFileCase{"RTEMPFILE", "", "TEMPFILE"},
        OwnFileCase{"R\\JOURNAL\\journal.sqlite", "JOURNAL/journal.sqlite", ""},
        OwnFileCase{"R\\journal\\NEW", "", "JOURNAL/NEW"}));

TEST(StationOwnFiles, SystemLogAndQueueFilesAreTheStationsWhateverPathReachesThem) {
  UploadRig rig;
  // The station directory reached through a drive mapping.
  rig.paths.map("C:", rig.dir.path().string());
  rig.port().receive_dir = "C:\\";
  rig.command("Rshoplink.log");
  rig.upload("C:=/\r\n");
  EXPECT_EQ(rig.log().find("C:=/"), std::string::npos);
  EXPECT_EQ(rig.read("TRASH"), "C:=/\r\n");

  rig.s.config.queue_dir = rig.s.station_file("Q");
  fs::create_directories(rig.dir.path() / "Q");
  EXPECT_TRUE(station_own_file(rig.s, "C:\\Q\\shoplink queue command 3"));
  EXPECT_TRUE(station_own_file(rig.s, "C:\\SCREEN\\..\\SHOPLINK SCREEN STATUS"));
  EXPECT_FALSE(station_own_file(rig.s, "C:\\UP\\DNCDATA"));  // a program may have that name
  EXPECT_FALSE(station_own_file(rig.s, "C:\\O1234"));
}

// Uploads whose every line is dropped or only shown store nothing.
struct NothingStoredCase {
  const char* customer;
  const char* code_line;
  const char* program;  // where the old program is
  const char* command;
  const char* upload;
};
void PrintTo(const NothingStoredCase& c, std::ostream* os) {
  *os << c.customer << " " << c.code_line << " " << c.command;
}

class NothingStored : public ::testing::TestWithParam<NothingStoredCase> {};

TEST_P(NothingStored, OldProgramStaysAndNothingIsReceived) {
  const NothingStoredCase c = GetParam();
  UploadRig rig;
  rig.s.Customer_name = c.customer;
  rig.port().code_line = c.code_line;
  rig.dir.write(c.program, "OLD PROGRAM\r\n");
  // Twice: a second empty upload must not touch what the first left either (nor a backup).
  for (int round = 0; round < 2; ++round) {
    rig.stay_on_port();
    rig.command(c.command);
    rig.upload(c.upload);
    rig.run_ms(30000);  // HADLEY TOOL keeps the first time-out
    rig.run_ms(3000);
  }
  EXPECT_EQ(rig.read(c.program), "OLD PROGRAM\r\n");
  EXPECT_EQ(entries_in(rig.dir.path() / "UP"), 1);
  EXPECT_FALSE(logged(rig, " received  "));
  EXPECT_FALSE(logged(rig, "backup"));
  EXPECT_TRUE(logged(rig, "No data received"));
}

INSTANTIATE_TEST_SUITE_P(
    Reception, NothingStored,
    ::testing::Values(NothingStoredCase{"", "0", "UP/O1", "RO1", "&HE:1\r\n\r\n"},
                      NothingStoredCase{"", "0 OKUMA", "UP/O1", "RO1", "$O1.MIN%\r\n"},
                      NothingStoredCase{"HADLEY TOOL", "0", "UP/O1.NC", "R1", "$1\r\n"},
                      NothingStoredCase{"MAPLEGATE TECHNOLOGIES", "0", "UP/O1", "RO1", "%\r\n"},
                      NothingStoredCase{"", "0 /BAK", "UP/O888", "RO888", "&HE:1\r\n"},
                      NothingStoredCase{"", "0 /BAK", "UP/O888", "RO888", "\r\n"}));

TEST(UploadSafety, OneLineStoreWithIdReplacesTheProgram) {
  UploadRig rig;
  rig.port().name_chars = "O";
  rig.dir.write("UP/1234", "OLD\r\n");
  rig.send("O1234 (NEW)\r\n");
  rig.run_ms(200);
  ASSERT_EQ(rig.s.mode, Mode::Receiving);
  rig.run_ms(6000);
  EXPECT_EQ(rig.read("UP/1234"), "O1234 (NEW)\r\n");
  EXPECT_TRUE(logged(rig, "File " + rig.s.station_dir() + "/UP/1234 received "));
}

std::string program_of(std::size_t bytes) {
  std::string text;
  for (int n = 1; text.size() < bytes; ++n) text += "N" + std::to_string(n) + " G01 X1. Y2.\r\n";
  return text;
}

TEST(UploadSafety, FailedWriteKeepsTheOldProgramAndIsReportedNotReceived) {
  UploadRig rig;
  rig.port().code_line = "0 REPLY=O9999";
  rig.dir.write("UP/O1", "OLD PROGRAM\r\n");
  {
    FileSizeLimit limit(48 * 1024);
    rig.command("RO1");
    // In batches below the flow control's stop level, as a held machine would send.
    const std::string program = program_of(100 * 1024);
    for (std::size_t at = 0; at < program.size(); at += 1500) {
      rig.send(program.substr(at, 1500));
      rig.run_ms(160);
    }
    rig.run_ms(6000);
  }
  EXPECT_EQ(rig.read("UP/O1"), "OLD PROGRAM\r\n");
  EXPECT_EQ(entries_in(rig.dir.path() / "UP"), 1);  // the partial temporary is gone
  EXPECT_TRUE(logged(rig, "Error number 27 occurred "));
  EXPECT_FALSE(logged(rig, " received  "));
  EXPECT_TRUE(status_shown(rig, "not stored"));
  EXPECT_TRUE(rig.s.reply_buffer[1].empty());

  // The station goes on serving: the next upload is stored.
  rig.run_ms(2500);
  ASSERT_EQ(rig.s.mode, Mode::Scanning);
  rig.stay_on_port();
  rig.command("RO1");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/O1"), "N1\r\n");
}

TEST(UploadSafety, FailedWriteOnABakPortPutsTheOldProgramBack) {
  UploadRig rig;
  rig.port().code_line = "0 /BAK";
  rig.dir.write("UP/O1", "OLD PROGRAM\r\n");
  {
    FileSizeLimit limit(1024);
    rig.command("RO1");
    rig.upload(program_of(4000));
  }
  EXPECT_EQ(rig.read("UP/O1"), "OLD PROGRAM\r\n");
  EXPECT_TRUE(logged(rig, "Error number 27 occurred "));
}

TEST(UploadSafety, FailedRenameKeepsWhatStandsThereAndRemovesTheTemporary) {
  UploadRig rig;
  rig.dir.write("UP/O1/PART", "x");  // the program's name is taken by a folder
  rig.command("RO1");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/O1/PART"), "x");
  EXPECT_EQ(entries_in(rig.dir.path() / "UP"), 1);
  EXPECT_TRUE(logged(rig, "Error number 21 occurred "));
  EXPECT_FALSE(logged(rig, " received  "));
}

TEST(UploadSafety, AnUploadTemporaryIsNotServed) {
  UploadRig rig;
  rig.port().code_line = "0 WINDOWS";  // long names, as they are
  rig.dir.write("NC/~O6.upload", "HALF\r\n");
  rig.command("T~O6.upload");
  rig.send("\x11");
  rig.run_ms(30000);
  std::string sent = rig.line.written;
  for (auto& c : sent) c = static_cast<char>(c & 127);
  EXPECT_EQ(sent.find("HALF"), std::string::npos);
  EXPECT_TRUE(logged(rig, "File not found"));
}

// Links planted in the program folders (often shares many people can write) never lead a
// machine's request outside the station's directories, nor make the station write through
// them; a link from one place inside to another still works.
struct LinkCase {
  const char* name;
  const char* link;    // under the station directory
  const char* target;  // "@/" = the outside folder, "#/" = the station directory
  const char* command;
  const char* upload;  // "" = none: the request's reply is sent
  const char* sent;    // what the machine must receive ("" = nothing in particular)
  const char* stored;  // the file the upload must be in ("" = none)
};
void PrintTo(const LinkCase& c, std::ostream* os) {
  *os << c.name;
}

class PlantedLinks : public ::testing::TestWithParam<LinkCase> {};

TEST_P(PlantedLinks, NeverLeadOutside) {
  const LinkCase& c = GetParam();
  UploadRig rig;
  testing::TempDir outside;
  const std::map<std::string, std::string> secrets = {
      {"SECRET", "TOP SECRET\r\n"}, {"victim", "VICTIM\r\n"}, {"victim3", "VICTIM3\r\n"}};
  for (const auto& [name, text] : secrets) outside.write(name, text);
  rig.dir.write("DNCDATA", "COM1:9600\r\n");
  rig.dir.write("NC/SUB/O7", "INSIDE\r\n");
  std::string target = c.target;
  if (starts_with(target, "@/")) target = (outside.path() / target.substr(2)).string();
  if (starts_with(target, "#/")) target = (rig.dir.path() / target.substr(2)).string();
  fs::create_symlink(target, rig.dir.path() / c.link);

  rig.command(c.command);
  if (*c.upload) {
    rig.upload(c.upload);
  } else {
    rig.send("\x11");
    rig.run_ms(30000);
  }
  std::string sent = rig.line.written;
  for (auto& ch : sent) ch = static_cast<char>(ch & 127);
  EXPECT_NE(sent.find(c.sent), std::string::npos) << sent;
  for (const auto& [name, text] : secrets) {
    EXPECT_EQ(outside.read(name), text);
    EXPECT_EQ(sent.find(text.substr(0, text.size() - 2)), std::string::npos);
  }
  EXPECT_EQ(entries_in(outside.path()), 3);
  EXPECT_EQ(rig.read("DNCDATA"), "COM1:9600\r\n");
  if (*c.stored) {
    EXPECT_EQ(rig.read(c.stored), "N1\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reception, PlantedLinks,
    ::testing::Values(
        LinkCase{"FolderOutside", "NC/LINKDIR", "@/", "T\\LINKDIR\\SECRET", "", "NOT FOUND", ""},
        LinkCase{"FileOutside", "NC/O6666", "@/SECRET", "TO6666", "", "NOT FOUND", ""},
        LinkCase{"ListingOutside", "UP/LINKDIR", "@/", "P\\LINKDIR\\", "", "NOT FOUND", ""},
        LinkCase{"StoreOutside", "UP/LINKDIR", "@/", "R\\LINKDIR\\EVIL1", "N1\r\n", "", "TRASH"},
        LinkCase{"PlantedTemporary", "UP/~O5000.upload", "@/victim", "RO5000", "N1\r\n", "",
                 "UP/O5000"},
        LinkCase{"ListingFileOutside", "NC/CONTENTS.DNC", "@/victim3", "P", "",
                 "SHOPLINK DIRECTORY", ""},
        LinkCase{"ListingFileOnDncdata", "NC/CONTENTS.DNC", "#/DNCDATA", "P", "",
                 "SHOPLINK DIRECTORY", ""},
        LinkCase{"InsideStaysUsable", "NC/O7", "#/NC/SUB/O7", "TO7", "", "INSIDE", ""}));

// What the station keeps for itself (HOSTMAP's passwords, the journal) is not sent, even
// from a port whose send directory is the station directory.
TEST(StationOwnFiles, PrivateFilesAreNeverSent) {
  for (const char* name : {"HOSTMAP", "JOURNAL/REV1.TXT"}) {
    UploadRig rig;
    rig.port().send_dir = rig.s.station_dir();
    rig.dir.write(name, "WEB_PASSWORD=hunter2\r\n");
    std::string command = std::string("T\\") + name;
    std::replace(command.begin(), command.end(), '/', '\\');
    rig.command(command);
    rig.send("\x11");
    rig.run_ms(30000);
    EXPECT_EQ(rig.line.written.find("hunter2"), std::string::npos) << name;
    EXPECT_TRUE(
        logged(rig, "Not sent: " + rig.s.station_dir() + "/" + name + " is the station's own"));
    EXPECT_TRUE(logged(rig, "File not found"));
  }
}

}  // namespace
}  // namespace shoplink
