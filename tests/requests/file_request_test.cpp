#include "requests/file_request.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "requests/request_station.hpp"
#include "support/file_size_limit.hpp"

namespace shoplink::testing {
namespace {

struct FileRequest : RequestStation {
  void SetUp() override {
    port().send_dir = "NC1,NC2,NC3";
    port().extension = ".NC";
    port().subdir = "TAPE";
    for (const char* d : {"NC1", "NC2", "NC3"}) std::filesystem::create_directory(dir.path() / d);
  }
  std::vector<std::string> requests_for(std::initializer_list<const char*> files) {
    std::vector<std::string> out;
    for (const char* f : files) out.push_back("Port 1 Request for file " + std::string(f));
    return out;
  }
  void expect_handed_over() {
    EXPECT_EQ(s.mode, Mode::Settling);
    EXPECT_EQ(s.mode_after_purge, 1);
    EXPECT_EQ(s.send_inhibit, 1);
    EXPECT_TRUE(s.Timer10.enabled());
    EXPECT_TRUE(s.rx_line.empty());
    EXPECT_TRUE(s.Timer13.enabled());
  }
  void expect_not_found(const std::string& name) {
    EXPECT_EQ(s.Filename, at_station("notfound.alm"));
    EXPECT_EQ(dir.read("notfound.alm"), "TAPE\r\n(FILE " + name + " NOT FOUND)\r\n");
    EXPECT_EQ(log_messages().back(), "File not found");
  }
};

TEST_F(FileRequest, MissingOrEmptyProgramsGetTheNotFoundReply) {
  dir.write("NC1/O1234.NC", "");                                       // empty counts as missing
  std::filesystem::create_directory(dir.path() / "NC2" / "O1234.NC");  // so does a folder
  command("TO1234");
  auto expected = requests_for({"NC1/O1234.NC", "NC2/O1234.NC", "NC3/O1234.NC"});
  expected.push_back("File not found");
  EXPECT_EQ(log_messages(), expected);
  expect_not_found("O1234.NC");
  expect_handed_over();  // the reply is sent like a program
}

TEST_F(FileRequest, AReplyThatCannotBeWrittenWholeIsNotLeftInPart) {
  dir.write("notfound.alm", "AN OLD REPLY\r\n");
  {
    FileSizeLimit limit(10);
    command("TO1234");
  }
  EXPECT_FALSE(dir.exists("notfound.alm"));
  EXPECT_TRUE(std::any_of(window.statuses.begin(), window.statuses.end(), [](const std::string& t) {
    return t.find("notfound.alm could not be written") != std::string::npos;
  }));
}

TEST_F(FileRequest, NamesMatchFilesRegardlessOfCase) {
  dir.write("NC1/o1234.nc", "O1234\r\n");
  command("TO1234");
  EXPECT_EQ(s.Filename, "NC1\\O1234.NC");
  EXPECT_EQ(log_messages().size(), 1u);
}

TEST_F(FileRequest, ANumberedDirectoryIsTheOnlyOneTried) {
  dir.write("NC1/O1234.NC", "O1234\r\n");
  command("TO1234 N2");
  expect_not_found("O1234.NC");
  EXPECT_EQ(log_messages().front(), "Port 1 Request for file NC3/O1234.NC");
  dir.write("NC3/O1234.NC", "O1234\r\n");
  command("TO1234 N2");
  EXPECT_EQ(s.Filename, "NC3\\O1234.NC");
}

TEST_F(FileRequest, ANameWithItsOwnPathIsNotFetchedFromTheSendDirectories) {
  TempDir drive;
  paths.map("C:", drive.path().string());
  dir.write("NC2/O66.NC", "O66\r\n");
  command("TC:\\NC\\O66");
  expect_not_found("O66.NC");
  EXPECT_EQ(log_messages().size(), 2u);
}

TEST_F(FileRequest, ContentsLookupWithoutAMatchDoesNotReuseAnEarlierFileName) {
  port().code_line = "0 /32";
  port().send_dir = "NC1";
  dir.write("NC1/CONTENTS", "\"0007\",\"BRACKET\", 2201\r\n");
  dir.write("NC1/PROG0007", "\"O7\"\r\n");
  command("TBRACK");
  EXPECT_EQ(s.Filename, "NC1\\PROG0007");
  s.Filename = "NC1\\PROG0007";  // as an aborted transfer leaves it
  command("TSHAFT");
  expect_not_found("SHAFT");
}

TEST_F(FileRequest, NamesThatWouldLeaveTheStationAreNotFound) {
  // A secret beside the station directory, reachable only by climbing out of it.
  TempDir outside;
  outside.write("secret.NC", "secret\r\n");
  const std::string up = std::filesystem::relative(outside.path(), dir.path() / "NC1").string();
  std::string climb = "T";
  for (char c : up) climb += c == '/' ? '\\' : c;
  climb += "\\secret";
  dir.write("Z:/x.NC", "not a drive\r\n");  // an unmapped drive is no folder of the station
  port().send_dir = "NC1";

  const std::string attacks[] = {
      climb,
      "T..\\..\\etc\\passwd",
      "TZ:\\x",
      "TZ:x",
      "T/etc/passwd",
      "TC:..\\secret",
      std::string("TO1\0..\\x", 9),
      "TO1\x07\x1b[2J",
      "T" + std::string(300, 'A'),
      "T\\..\\..\\..\\..\\..\\..\\..\\..\\etc\\hostname",
  };
  for (const auto& attack : attacks) {
    command(attack);
    EXPECT_EQ(s.Filename, at_station("notfound.alm")) << attack;
    expect_handed_over();
  }
}

TEST_F(FileRequest, NotFoundLineNamesTheFileUpperCased) {
  EXPECT_EQ(notfound_line("C:\\NC\\o1234.nc"), "(FILE O1234.NC NOT FOUND)");
  EXPECT_EQ(notfound_line("plain"), "(FILE PLAIN NOT FOUND)");
  port().subdir.clear();
  answer_not_found(s, "(FILE X NOT FOUND)");
  EXPECT_EQ(dir.read("notfound.alm"), "(FILE X NOT FOUND)\r\n");
}

}  // namespace
}  // namespace shoplink::testing
