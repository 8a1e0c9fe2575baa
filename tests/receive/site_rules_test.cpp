// Uploads with the sites' and controllers' own endings: HADLEY TOOL's two bursts, the
// KESSLER SUPPLY open file, the Burny CLINK end mark; and the manual receive's own start.
#include <gtest/gtest.h>

#include "receive/reception.hpp"
#include "receive/upload_rig.hpp"

namespace shoplink {
namespace {

using testing::UploadRig;

// A manual receive: the operator chose the file, the station waits in mode 2.
void await_manual_upload(UploadRig& rig, const std::string& rel) {
  rig.s.mode = Mode::Receiving;
  rig.s.receiving = 0;
  rig.s.Filename = rig.s.station_file(rel);
  rig.s.Timer6.set_interval(5000);
}

TEST(SiteRules, HadleyToolSecondBurstIsRewrittenAndEndsWithM30) {
  UploadRig rig;
  rig.s.Customer_name = "Hadley Tool & Die";
  rig.command("R1234");
  rig.send("O1234\r\nG0X1\r\n$1 ZERO\r\n");
  rig.run_ms(3000);  // a pause longer than the pause timer
  EXPECT_TRUE(rig.s.Hadley_pause);
  rig.send("H12X-0.5\r\n");
  rig.run_ms(300);
  EXPECT_EQ(rig.s.Timer6.interval(), 1500);
  rig.run_ms(2000);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  EXPECT_EQ(rig.read("UP/O1234.NC"), "O1234\r\nG0X1\r\nO2\r\nG90G10P12R-0.5\r\nM30\r\n");
}

TEST(SiteRules, KesslerOpenFileWaitsForCloseFile) {
  UploadRig rig;
  rig.s.Customer_name = "KESSLER SUPPLY";
  await_manual_upload(rig, "UP/OPEN.TXT");
  rig.s.Asterisk = 1;
  rig.send("LINE 1\r\n");
  rig.run_ms(12000);
  EXPECT_EQ(rig.s.mode, Mode::Receiving);
  rig.send("CLOSE FILE\r\n");
  rig.run_ms(6000);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  EXPECT_EQ(rig.read("UP/OPEN.TXT"), "LINE 1\r\nCLOSE FILE\r\n");
}

TEST(SiteRules, BurnyUploadEndsAtItsEndMarkWithoutWaiting) {
  UploadRig rig;
  await_manual_upload(rig, "UP/CUT.TXT");
  rig.s.BURNY = 1;
  rig.s.BQQ = "!QQ";
  rig.send("N1\r\nN2\r\n\x1a\r\nN3\r\n");
  rig.run_ms(200);
  EXPECT_EQ(rig.s.mode, Mode::Settling);
  EXPECT_EQ(rig.read("UP/CUT.TXT"), "N1\r\nN2\r\n");
}

TEST(SiteRules, ManualReceiveOpensTheFileOnItsFirstDataAndLearnsTheCode) {
  UploadRig rig;
  rig.dir.write("UP/KEEP.TXT", "OLD\r\n");
  await_manual_upload(rig, "UP/KEEP.TXT");
  rig.run_ms(5000);
  EXPECT_EQ(rig.read("UP/KEEP.TXT"), "OLD\r\n");  // nothing before the first data
  rig.upload("O1\rN1\rN2\r");
  EXPECT_EQ(rig.read("UP/KEEP.TXT"), "O1\r\nN1\r\nN2\r\n");
  EXPECT_EQ(rig.s.rx_code, 0);
}

TEST(SiteRules, AutoprintGetsTheFileAsAnArgument) {
  UploadRig rig;
  rig.port().code_line = "0 /P";
  rig.dir.write("autoprint.exe", "");
  rig.command("RO1");
  rig.upload("N1\r\n");
  ASSERT_EQ(rig.platform.started.size(), 1u);
  EXPECT_EQ(rig.platform.started[0].args,
            std::vector<std::string>{(rig.dir.path() / "UP" / "O1").string()});
  EXPECT_TRUE(rig.platform.started[0].minimized);
}

}  // namespace
}  // namespace shoplink
