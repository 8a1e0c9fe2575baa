// Store requests: which file an upload goes to, what happens to the program it replaces,
// the numbered form's header and number, and where a refused name ends up.
#include "requests/store_request.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "base/text.hpp"
#include "receive/upload_rig.hpp"

namespace shoplink {
namespace {

using testing::UploadRig;

bool logged(const UploadRig& rig, const std::string& text) {
  return rig.log().find(text) != std::string::npos;
}

TEST(StoreRequest, BackupNames) {
  EXPECT_EQ(backup_name("C:\\NC\\O1234.NC"), "C:\\NC\\O1234.BAK");
  EXPECT_EQ(backup_name("C:\\N.C\\A.B.C"), "C:\\N.C\\A.BAK");
  EXPECT_EQ(backup_name("C:\\N.C\\O1"), "C:\\N.C\\O1.BAK");
}

TEST(StoreRequest, OldProgramStaysUntilTheUploadsFirstData) {
  UploadRig rig;
  rig.port().extension = ".NC";
  rig.dir.write("UP/O1234.NC", "OLD PROGRAM\r\n");
  rig.command("RO1234");
  ASSERT_EQ(rig.s.mode, Mode::Receiving);
  EXPECT_EQ(rig.read("UP/O1234.NC"), "OLD PROGRAM\r\n");
  EXPECT_TRUE(logged(
      rig, "Port 1 Request to store file " + rig.s.station_dir() + "/UP/O1234.NC with R-command"));
  EXPECT_TRUE(logged(rig, "Attempt to store file "));

  // Nothing arrives: the time-out ends the upload and the old program is untouched.
  rig.run_ms(31000);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  EXPECT_EQ(rig.read("UP/O1234.NC"), "OLD PROGRAM\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.dir.path() / "UP"),
                          std::filesystem::directory_iterator()),
            1);

  // The next upload with data replaces it.
  rig.run_ms(3000);
  rig.stay_on_port();
  rig.command("RO1234");
  rig.upload("O1234\r\nG1X1\r\n");
  EXPECT_EQ(rig.read("UP/O1234.NC"), "O1234\r\nG1X1\r\n");
}

TEST(StoreRequest, BakTwiceKeepsTheLastTwoVersions) {
  UploadRig rig;
  rig.port().code_line = "0 /BAK";
  rig.port().extension = ".NC";
  rig.dir.write("UP/O1234.NC", "FIRST\r\n");
  rig.command("RO1234");
  rig.upload("SECOND\r\n");
  EXPECT_EQ(rig.read("UP/O1234.BAK"), "FIRST\r\n");
  EXPECT_EQ(rig.read("UP/O1234.NC"), "SECOND\r\n");
  EXPECT_TRUE(logged(rig, "Creating backup file " + rig.s.station_dir() + "/UP/O1234.BAK"));
  EXPECT_FALSE(logged(rig, "Deleting old .BAK file"));

  rig.run_ms(3000);
  rig.stay_on_port();
  rig.command("RO1234");
  rig.upload("THIRD\r\n");
  EXPECT_EQ(rig.read("UP/O1234.BAK"), "SECOND\r\n");
  EXPECT_EQ(rig.read("UP/O1234.NC"), "THIRD\r\n");
  EXPECT_TRUE(logged(rig, "Deleting old .BAK file"));
}

TEST(StoreRequest, FirstUnusedNumberOnA32Port) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().code_line = "0 /32";
  rig.dir.write("UP/PROG0001", "x");
  rig.dir.write("UP/PROG0002", "x");
  rig.command("RBRACKET");
  rig.upload("O3\r\nG1\r\n");
  EXPECT_EQ(rig.read("UP/PROG0003"), "\":0003 (BRACKET)\"\r\n\"O3\"\r\n\"G1\"\r\n");
  EXPECT_TRUE(
      logged(rig, "SHOPLINK assigns 1st unused number of " + rig.s.station_dir() + "/UP/PROG0003"));
  EXPECT_EQ(rig.read("UP/CONTENTS"), "\"0003\",\"BRACKET\", 8\r\n");
}

TEST(StoreRequest, SlashOReplacesTheProgramOfTheSameName) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().code_line = "0 /32/O";
  rig.dir.write("UP/CONTENTS", "\"0004\",\"BRACKET\", 5\r\n\"0007\",\"HUB\", 5\r\n");
  rig.dir.write("UP/PROG0004", "OLD\r\n");
  rig.command("RBRACKET");
  rig.upload("G2\r\n");
  EXPECT_EQ(rig.read("UP/PROG0004"), "\":0004 (BRACKET)\"\r\n\"G2\"\r\n");
  EXPECT_EQ(rig.read("UP/CONTENTS"), "\"0004\",\"BRACKET\", 4\r\n\"0007\",\"HUB\", 5\r\n");
}

TEST(StoreRequest, NumberedUploadIsEnteredInOrderInContents) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.dir.write("UP/CONTENTS",
                "\"0100\",\"HUB\", 10\r\n\"EXEC\",\"RUN\", 1\r\n\"0300\",\"ARM\", 30\r\n");
  rig.command("R200 (BRACKET)");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/PROG0200"), "\":0200 (BRACKET)\"\r\n\"N1\"\r\n");
  EXPECT_EQ(rig.read("UP/CONTENTS"),
            "\"0100\",\"HUB\", 10\r\n\"0200\",\"BRACKET\", 4\r\n\"0300\",\"ARM\", 30\r\n");
}

TEST(StoreRequest, AnIndexThatCannotBeUpdatedIsReported) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.dir.write("UP/CONTENTS", "\"0100\",\"HUB\", 10\r\n");
  std::filesystem::create_directories(rig.dir.path() / "UP" / "TEMPFILE");  // cannot be made
  rig.command("R200 (BRACKET)");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/PROG0200"), "\":0200 (BRACKET)\"\r\n\"N1\"\r\n");
  EXPECT_EQ(rig.read("UP/CONTENTS"), "\"0100\",\"HUB\", 10\r\n");
  EXPECT_TRUE(std::any_of(
      rig.window.statuses.begin(), rig.window.statuses.end(),
      [](const std::string& t) { return t.find("could not be updated") != std::string::npos; }));
}

TEST(StoreRequest, CommentDefaultsToTheDncLinkTextWithTheDate) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.command("R12");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/PROG0012"), "\":0012 (INPUT VIA DNC LINK ON 12-07-2026)\"\r\n\"N1\"\r\n");
}

// Only a TOSNUC control's "$" stands for "O"; elsewhere the first line is stored as sent.
TEST(StoreRequest, ADollarFirstLineBecomesOOnlyOnATosnucPort) {
  for (const auto& [code_line, first] :
       {std::pair<std::string, std::string>{"0 TOSNUC", "O55 (LEVER)"}, {"0", "$55 (LEVER)"}}) {
    UploadRig rig;
    rig.port().name_chars = "$O";
    rig.port().code_line = code_line;
    rig.send("$55 (LEVER)\r\nN1\r\n");
    rig.run_ms(200);
    ASSERT_EQ(rig.s.mode, Mode::Receiving) << code_line;
    rig.upload("N2\r\n");
    EXPECT_EQ(rig.read("UP/55"), first + "\r\nN1\r\nN2\r\n") << code_line;
  }
}

TEST(StoreRequest, ProgramThatAnnouncesItselfIsStoredWithItsFirstLine) {
  UploadRig rig;
  rig.port().name_chars = "$O";
  rig.port().code_line = "0 TOSNUC";
  rig.s.Stack = "%MPF1";
  rig.send("$55 (LEVER)\r\nN1\r\n");
  rig.run_ms(200);
  ASSERT_EQ(rig.s.mode, Mode::Receiving);
  rig.upload("N2\r\n");
  // The name character is the program's letter; the name is what follows it.
  EXPECT_EQ(rig.read("UP/55"), "%MPF1\r\nO55 (LEVER)\r\nN1\r\nN2\r\n");
  EXPECT_TRUE(
      logged(rig, "Port 1: Request to store file " + rig.s.station_dir() + "/UP/55 with ID"));
  EXPECT_TRUE(rig.s.Stack.empty());
}

TEST(StoreRequest, NamesOutsideTheStationGoToTrash) {
  UploadRig rig;
  rig.command("R\\..\\..\\EVIL");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("TRASH"), "N1\r\n");
  EXPECT_FALSE(std::filesystem::exists(rig.dir.path().parent_path().parent_path() / "EVIL"));
  EXPECT_TRUE(logged(rig, "Error number 13 occurred "));
  EXPECT_TRUE(logged(rig, "Storing data as file " + rig.s.station_dir() + "/TRASH"));
}

TEST(StoreRequest, UncreatableFileGoesToTrashWithTheErrorNumber) {
  UploadRig rig;
  rig.command("R\\NOSUCH\\O1");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("TRASH"), "N1\r\n");
  EXPECT_TRUE(logged(rig, "Error number 2 occurred "));
  EXPECT_FALSE(rig.exists("UP/CONTENTS"));
}

}  // namespace
}  // namespace shoplink

namespace shoplink {
namespace {

TEST(StoreRequestSites, CorriganPrefixesShortNames) {
  testing::UploadRig rig;
  rig.s.Customer_name = "CORRIGAN MACHINE";
  rig.port().extension = ".NC";
  rig.command("R123");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/M0123.NC"), "N1\r\n");
}

TEST(StoreRequestSites, BeaconNumbersTheUploadWhileHoldingTheMachine) {
  testing::UploadRig rig;
  rig.s.Customer_name = "BEACON MANUFACTURING";
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().name_chars = "O";
  rig.dir.write("UP/PROG0001", "x");
  rig.line.trace.clear();
  rig.send("O1234 (SHAFT)\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.line.trace.substr(0, 20), "[DTR off]\x13[DTR on]\x11");
  EXPECT_TRUE(rig.line.dtr());
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/PROG0002"), "\":0002 (SHAFT)\"\r\n\"O0002 (SHAFT)\"\r\n\"N1\"\r\n");
  EXPECT_NE(rig.log().find("SHOPLINK assigns 1st unused number of " + rig.s.station_dir() +
                           "/UP/PROG0002"),
            std::string::npos);
}

TEST(StoreRequestSites, CadenceMarksTheUploadAfterItsFirstLine) {
  testing::UploadRig rig;
  rig.s.Customer_name = "Cadence Productions";
  rig.port().name_chars = "O";
  rig.send("O7\r\n");
  rig.run_ms(200);
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/7"), "O7\r\n(UPLOAD FROM PORT 1 12-07-2026 06:45:30)\r\nN1\r\n");
}

TEST(StoreRequestSites, GarnetNamesLoseTheirParentheses) {
  testing::UploadRig rig;
  rig.s.Customer_name = "GARNET MANUFACTURING";
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().code_line = "0 /32";
  rig.command("R(HUB) ");
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/PROG0001"), "\":0001 (HUB)\"\r\n\"N1\"\r\n");
}

}  // namespace
}  // namespace shoplink

namespace shoplink {
namespace {

// Every four-digit number is taken: the machine is still released at once, no program is
// replaced, and the upload is kept in TRASH with the reason logged.
TEST(StoreRequestSites, BeaconWithEveryNumberTakenKeepsTheUploadInTrash) {
  testing::UploadRig rig;
  rig.s.Customer_name = "BEACON MANUFACTURING";
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().name_chars = "O";
  for (int n = 1; n <= 9999; ++n) {
    std::string number = std::to_string(n);
    number.insert(0, 4 - number.size(), '0');
    rig.dir.write("UP/PROG" + number, "OLD " + number);
  }
  rig.line.written.clear();
  rig.line.trace.clear();
  const auto began = std::chrono::steady_clock::now();
  rig.send("O1234 (SHAFT)\r\n");
  rig.run_ms(200);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  EXPECT_EQ(rig.line.trace.substr(0, 20), "[DTR off]\x13[DTR on]\x11");
  EXPECT_EQ(rig.s.mode, Mode::Receiving);
  rig.upload("N1\r\n");
  EXPECT_EQ(rig.read("UP/PROG1234"), "OLD 1234");
  EXPECT_FALSE(rig.exists("UP/PROG10000"));
  EXPECT_NE(rig.read("TRASH").find("\"N1\""), std::string::npos);
  EXPECT_EQ(rig.log().find("SHOPLINK assigns 1st unused number"), std::string::npos);
  EXPECT_NE(rig.log().find("Error number 28 occurred"), std::string::npos) << rig.log();
}

}  // namespace
}  // namespace shoplink
