// Machine activity events: one dated record per event in the port's ACTIVITY file (or the
// SABLE CARBON shift file), a log entry, and back to scanning.
#include "requests/activity_events.hpp"

#include <gtest/gtest.h>

#include "receive/upload_rig.hpp"

namespace shoplink {
namespace {

using testing::UploadRig;

const std::string kStamp = std::string(10, ' ') + "12-07-2026 06:45:30";

TEST(ActivityEvents, ProbedDimensionOnPort3) {
  UploadRig rig(3);
  rig.send("D12.503\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.read("UP/ACTIVITY.03"), "Probed dimension 12.503" + kStamp + "\r\n");
  EXPECT_NE(rig.log().find("Port 3 - Probed dimension 12.503  "), std::string::npos);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  rig.run_ms(4000);
  EXPECT_EQ(rig.s.mode, Mode::Scanning);
}

TEST(ActivityEvents, FirstEventCharacterDecidesAndRecordsAppend) {
  UploadRig rig(2);
  rig.send("FS\r\n");  // S is tested first
  rig.run_ms(200);
  rig.run_ms(4000);
  rig.stay_on_port(2);
  rig.send("F\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.read("UP/ACTIVITY.02"), "Beginning of cycle :  " + kStamp +
                                            "\r\nFinish of cycle :     " + std::string(10, ' ') +
                                            "12-07-2026 06:45:34\r\n");
  EXPECT_NE(rig.log().find("Port 2 - Finish of cycle    :"), std::string::npos);
}

TEST(ActivityEvents, SableCarbonShiftFile) {
  UploadRig rig(3);
  rig.s.Sable_carbon = true;
  rig.s.ShiftFile = "12-07-26.001";
  rig.send("D12.503\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.read("12-07-26.001"), "Port 03: Beginning of 2nd operation :" + kStamp + "\r\n");
  EXPECT_FALSE(rig.exists("UP/ACTIVITY.03"));
  EXPECT_NE(rig.log().find("Port 3 - Probed dimension 12.503  "), std::string::npos);
}

TEST(ActivityEvents, ToolChangesOnlyAtSkylark) {
  {
    UploadRig rig;
    rig.send("E\r\n");
    rig.run_ms(200);
    EXPECT_FALSE(rig.exists("UP/ACTIVITY.01"));
    EXPECT_NE(rig.log().find("Command ignored"), std::string::npos);
  }
  {
    UploadRig rig;
    rig.s.Customer_name = "Skylark Aero";
    rig.send("E\r\n");
    rig.run_ms(200);
    EXPECT_EQ(rig.read("UP/ACTIVITY.01"), "Stop for tool change: " + kStamp + "\r\n");
  }
}

TEST(ActivityEvents, MissingDirectoryLosesTheEventSilently) {
  UploadRig rig;
  rig.port().receive_dir = rig.s.station_file("NOPE");
  rig.send("S\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.log().find("Beginning of cycle"), std::string::npos);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  rig.run_ms(4000);
  EXPECT_EQ(rig.s.mode, Mode::Scanning);
}

}  // namespace
}  // namespace shoplink
