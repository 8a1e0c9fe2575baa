// Start-up reads the site's configuration in order and the log brackets the run.
#include <gtest/gtest.h>

#include <string>

#include "config/test_station.hpp"
#include "station/startup.hpp"

namespace shoplink {
namespace {

using testing::TestStation;

TEST(StartupConfiguration, ReadsTheSiteAndLogsStartAndStop) {
  TestStation t;
  t.write("CUSTOMER", "Dun-Varley Engineering\r\nLeeds\r\n");
  t.write("XREF", "O7=G\r\n");
  t.write("LEADER.001", std::string(20, '\0'));
  t.write("DNCDATA", "COM1:9600\r\n\r\nSYSTEM.LOG\r\n9600\r\n3\r\n");
  startup(t.s);
  EXPECT_FALSE(t.s.exit_status);
  EXPECT_TRUE(t.dialogs.boxes.empty());
  EXPECT_TRUE(t.s.Dun_Varley);
  EXPECT_EQ(t.s.xref.size(), 1u);
  EXPECT_EQ(t.s.ports[1].leader, std::string(20, '\0'));
  EXPECT_EQ(t.s.ports[1].code_type, 3);
  EXPECT_EQ(t.s.codes.send[3]['A'], 0x61);
  EXPECT_EQ(t.s.codes.controller_codes[1],
            "\x14"
            "1\x14Q");
  EXPECT_TRUE(t.s.Timer1.enabled());
  shutdown(t.s);

  auto entry = [](std::string m) {
    m.resize(55, ' ');
    return m + "03-09-2026 @ 14:05:07\r\n";
  };
  EXPECT_EQ(t.read("SYSTEM.LOG"), entry("SHOPLINK started") +
                                      entry("Customer name: Dun-Varley Engineering") +
                                      entry("SHOPLINK stopped (Mode menu / Exit)"));
}

TEST(StartupConfiguration, WithoutDncdataTheProgramEndsBeforeTheScan) {
  TestStation t;
  startup(t.s);
  EXPECT_EQ(t.s.exit_status, 2);
  ASSERT_EQ(t.dialogs.boxes.size(), 1u);
  EXPECT_EQ(t.dialogs.boxes[0].text, "SHOPLINK\nDNCDATA file\nnot found\n");
  EXPECT_FALSE(t.s.Timer1.enabled());
}

}  // namespace
}  // namespace shoplink
