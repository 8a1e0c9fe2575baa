#include "config/leader_trailer.hpp"

#include <gtest/gtest.h>

#include <string>

#include "config/test_station.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

struct LeaderTrailerTest : ::testing::Test {
  TestStation t;
  Station& s = t.s;
};

TEST_F(LeaderTrailerTest, FilesAreTakenOverByteForByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  t.write("LEADER.003", std::string(200, '\0'));
  t.write("TRAILER.003", all);
  t.write("trailer.008", "M30\r\n%\x1A");  // the name's case does not matter
  t.write("LEADER.3", "not a leader file name");
  read_leaders_trailers(s);
  EXPECT_EQ(s.ports[3].leader, std::string(200, '\0'));
  EXPECT_EQ(s.ports[3].trailer, all);
  EXPECT_EQ(s.ports[8].trailer, "M30\r\n%\x1A");
  for (int k : {1, 2, 4, 5, 6, 7}) {
    EXPECT_EQ(s.ports[k].leader, "") << k;
    EXPECT_EQ(s.ports[k].trailer, "") << k;
  }
  EXPECT_EQ(s.ports[8].leader, "");
}

TEST_F(LeaderTrailerTest, CrossReferenceLines) {
  t.write("XREF",
          "\"PART 7\" = \"G\"\r\n"
          "no equals sign here\r\n"
          "\r\n"
          "=F\r\n"
          "NAME=\r\n"
          "O1000=H:\r\n"
          "O1000 = K\r\n"
          "A=B=C\r\n"
          "last=L");
  read_xref(s);
  ASSERT_EQ(s.xref.size(), 5u);
  EXPECT_EQ(s.xref[0].xref_name, "PART7");
  EXPECT_EQ(s.xref[0].xref_drive, "G:");
  EXPECT_EQ(s.xref[3].xref_name, "A");
  EXPECT_EQ(s.xref[3].xref_drive, "B=C:");
  EXPECT_EQ(xref_drive(s, "PART7"), "G:");
  EXPECT_EQ(xref_drive(s, "O1000"), "K:");  // the later line wins
  EXPECT_EQ(xref_drive(s, "last"), "L:");
  EXPECT_EQ(xref_drive(s, "o1000"), std::nullopt);  // names compare exactly
  EXPECT_EQ(xref_drive(s, ""), std::nullopt);
}

TEST_F(LeaderTrailerTest, XrefIsPreferredToProgxref) {
  t.write("PROGXREF", "P1=P\n");
  read_xref(s);
  ASSERT_EQ(s.xref.size(), 1u);
  EXPECT_EQ(s.xref[0].xref_drive, "P:");

  t.write("XREF", "X1=X\n");
  read_xref(s);
  ASSERT_EQ(s.xref.size(), 1u);
  EXPECT_EQ(s.xref[0].xref_name, "X1");
}

TEST_F(LeaderTrailerTest, NoFileGivesAnEmptyTable) {
  read_xref(s);
  EXPECT_TRUE(s.xref.empty());
  EXPECT_EQ(apply_xref(s, "O1", "C:\\NC\\O1"), "C:\\NC\\O1");
}

TEST_F(LeaderTrailerTest, LargeTablesKeepEveryEntry) {
  std::string text;
  for (int i = 0; i < 1500; ++i) text += "N" + std::to_string(i) + "=" + char('D' + i % 3) + "\r\n";
  t.write("XREF", text);
  read_xref(s);
  EXPECT_EQ(s.xref.size(), 1500u);
  EXPECT_EQ(xref_drive(s, "N1000"), "E:");
  EXPECT_EQ(xref_drive(s, "N1499"), "F:");
}

TEST_F(LeaderTrailerTest, ApplyReplacesTheDriveOfTheProgramPath) {
  t.write("XREF", "PART7=G\r\nODD=:\r\n");
  read_xref(s);
  EXPECT_EQ(apply_xref(s, "PART7", "C:\\NC\\PART7.NC"), "G:\\NC\\PART7.NC");
  EXPECT_EQ(apply_xref(s, "PART8", "C:\\NC\\PART8.NC"), "C:\\NC\\PART8.NC");
  EXPECT_EQ(apply_xref(s, "ODD", "C:\\X"), "::\\X");  // only what the drive has is replaced
  EXPECT_EQ(apply_xref(s, "PART7", "C"), "G");
}

}  // namespace
}  // namespace shoplink
