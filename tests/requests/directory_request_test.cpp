// Directory requests: the listing written to CONTENTS.DNC, on named and numbered ports.
#include "requests/directory_request.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "receive/upload_rig.hpp"
#include "support/file_size_limit.hpp"

namespace shoplink {
namespace {

using testing::UploadRig;

TEST(DirectoryRequest, FagorListingNumbersEveryLineAndIsSentLikeAProgram) {
  UploadRig rig;
  rig.port().code_line = "0 FAGOR";
  rig.port().extension = ".NC";
  rig.port().subdir = "RUN";
  rig.dir.write("NC/b.nc", "x");
  rig.dir.write("NC/{1.NC", "x");
  rig.dir.write("NC/C.TXT", "x");
  rig.send("P\r\n");
  rig.run_ms(200);
  const std::string dir = rig.s.station_file("NC");
  EXPECT_EQ(rig.read("NC/CONTENTS.DNC"),
            "RUN\r\nN1 (SHOPLINK DIRECTORY - " + dir + ")\r\nN2 (b.nc)\r\n");
  EXPECT_EQ(rig.s.Filename, dir + "\\CONTENTS.DNC");
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  EXPECT_EQ(rig.s.mode_after_purge, 1);
}

TEST(DirectoryRequest, AListingThatCannotBeWrittenWholeIsNotSent) {
  UploadRig rig;
  rig.dir.write("NC/O1", "x");
  {
    testing::FileSizeLimit limit(40);  // below the listing's header
    rig.send("P\r\n");
    rig.run_ms(200);
  }
  EXPECT_FALSE(rig.exists("NC/CONTENTS.DNC"));
  EXPECT_EQ(rig.s.Filename, rig.s.station_file("notfound.alm"));
  EXPECT_TRUE(
      std::any_of(rig.window.statuses.begin(), rig.window.statuses.end(), [](const std::string& t) {
        return t.find("CONTENTS.DNC could not be written") != std::string::npos;
      }));
}

TEST(DirectoryRequest, NumberOtherThanTwoListsTheReceiveDirectory) {
  UploadRig rig;
  rig.dir.write("UP/A.NC", "x");
  rig.send("P5\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.read("UP/CONTENTS.DNC"), "(SHOPLINK DIRECTORY - " + rig.s.station_file("UP") +
                                             ")\r\n(A.NC)\r\n(CONTENTS.DNC)\r\n");
}

TEST(DirectoryRequest, NumberedPortListsTheIndex) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.dir.write("UP/CONTENTS", "\"0007\",\"bracket\", 12\r\n\r\n\"0100\",\"HUB\", 3\r\n");
  rig.send("P1\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.read("UP/CONTENTS.DNC"), "(SHOPLINK DIRECTORY - " + rig.s.station_file("UP") +
                                             ")\r\n(0007   BRACKET   12)\r\n(0100   HUB   3)\r\n");
  EXPECT_NE(rig.log().find("Port 1: Request for directory"), std::string::npos);

  UploadRig numbers;  // a number above 1 asks for the numbers only
  numbers.s.config.default_file_type = DefaultFileType::PCNC;
  numbers.dir.write("UP/CONTENTS", "\"0007\",\"bracket\", 12\r\n\"0100\",\"HUB\", 3\r\n");
  numbers.send("P5\r\n");
  numbers.run_ms(200);
  EXPECT_EQ(numbers.read("UP/CONTENTS.DNC"), "P 0007\r\nP 0100\r\n");
}

TEST(DirectoryRequest, MissingIndexIsAnsweredAndLoggedAsNotFound) {
  UploadRig rig;
  rig.s.config.default_file_type = DefaultFileType::PCNC;
  rig.port().code_line = "0 FAGOR";
  rig.send("P1\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.read("UP/CONTENTS.DNC"), "N1 (NO CONTENTS FILE FOUND)\r\n");
  EXPECT_NE(rig.log().find("File not found"), std::string::npos);
}

TEST(DirectoryRequest, PlaceOutsideTheStationIsNotListed) {
  UploadRig rig;
  rig.send("P\\..\\..\\\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.s.Filename, rig.s.station_file("notfound.alm"));
  EXPECT_FALSE(std::filesystem::exists(rig.dir.path().parent_path() / "CONTENTS.DNC"));
}

}  // namespace
}  // namespace shoplink
