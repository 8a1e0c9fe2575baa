// Machine activity events: one dated record per event in the port's ACTIVITY file (or the
// SABLE CARBON shift file), a log entry, and back to scanning.
#include "requests/activity_events.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock.hpp"
#include "base/text.hpp"
#include "receive/upload_rig.hpp"
#include "support/unprivileged.hpp"
#include "transmit/shift_file.hpp"

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
  rig.send("D12.503\r\n");
  rig.run_ms(200);
  // 06:45 belongs to the night shift that began on the 6th.
  EXPECT_EQ(rig.read("12-06-26.003"), "Port 03: Beginning of 2nd operation :" + kStamp + "\r\n");
  EXPECT_FALSE(rig.exists("UP/ACTIVITY.03"));
  EXPECT_NE(rig.log().find("Port 3 - Probed dimension 12.503  "), std::string::npos);
}

// Records go to the file of the shift they happen in, also before any scan pass has switched
// the shift file, and the night shift keeps one file across midnight.
struct ShiftRecords {
  LocalTime start;  // the first record is made in this second, the second record 5 s later
  const char* first_file;
  const char* second_file;
  const char* second_stamp;
};

const ShiftRecords kShiftRecords[] = {
    {{2026, 12, 7, 14, 59, 59}, "12-07-26.001", "12-07-26.002", "12-07-2026 15:00:04"},
    {{2026, 12, 7, 22, 59, 59}, "12-07-26.002", "12-07-26.003", "12-07-2026 23:00:04"},
    {{2026, 12, 7, 23, 59, 59}, "12-07-26.003", "12-07-26.003", "12-08-2026 00:00:04"},
    {{2026, 12, 31, 23, 59, 59}, "12-31-26.003", "12-31-26.003", "01-01-2027 00:00:04"},
};

TEST(ActivityEvents, SableCarbonRecordsGoToTheirShiftsFile) {
  for (const auto& r : kShiftRecords) {
    SCOPED_TRACE(r.second_stamp);
    UploadRig rig(2);
    rig.clock.set_local(r.start);
    rig.s.Sable_carbon = true;
    Sable_carbon_mod3(rig.s);
    rig.send("S\r\n");
    rig.run_ms(200);
    rig.run_ms(4800);
    rig.stay_on_port(2);
    rig.send("F\r\n");
    rig.run_ms(200);
    const std::string first = "Port 02: Beginning of cycle :  " + std::string(10, ' ') +
                              date_text(r.start) + " " + time_text(r.start) + "\r\n";
    const std::string second =
        "Port 02: Finish of cycle :     " + std::string(10, ' ') + r.second_stamp + "\r\n";
    if (std::string(r.first_file) == r.second_file) {
      EXPECT_EQ(rig.read(r.first_file), first + second);
    } else {
      EXPECT_EQ(rig.read(r.first_file), first);
      EXPECT_EQ(rig.read(r.second_file), second);
    }
  }
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

// A record that cannot be written is reported in the log, after the event's own entry.
TEST(ActivityEvents, AnUnwritableFileIsLogged) {
  {
    UploadRig rig;
    rig.port().receive_dir = rig.s.station_file("NOPE");
    rig.send("S\r\n");
    rig.run_ms(200);
    EXPECT_EQ(rig.log_messages(),
              (std::vector<std::string>{
                  "Port 1 - ASCII command received: <S>", "Port 1 - Beginning of cycle :",
                  "Activity record not written to " +
                      rig.s.paths.display(rig.s.station_file("NOPE\\ACTIVITY.01")) +
                      " (No such file or directory)"}));
    EXPECT_EQ(rig.s.mode, Mode::Settling);
    rig.run_ms(4000);
    EXPECT_EQ(rig.s.mode, Mode::Scanning);
  }
  {
    UploadRig rig(4);
    rig.s.Sable_carbon = true;
    rig.dir.write("SHOPLINK.LOG", "");
    testing::UnprivilegedFor readonly(rig.dir.path(), rig.dir.path());
    rig.send("F\r\n");
    rig.run_ms(200);
    EXPECT_EQ(
        rig.log_messages(),
        (std::vector<std::string>{
            "Port 4 - ASCII command received: <F>", "Port 4 - Finish of cycle    :",
            "Activity record not written to " +
                rig.s.paths.display(rig.s.station_file("12-06-26.003")) + " (Permission denied)"}));
    EXPECT_FALSE(rig.exists("12-06-26.003"));
  }
}

}  // namespace
}  // namespace shoplink
