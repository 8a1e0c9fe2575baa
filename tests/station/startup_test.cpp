#include "station/startup.hpp"

#include <gtest/gtest.h>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "core/station.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink {
namespace {

struct StartupTest : ::testing::Test, testing::LineStation<> {
  StartupTest() { dir.write("DNCDATA", "COM1:9600\r\n\r\nSYSTEM.LOG\r\n9600 (LATHE)\r\n0\r\n"); }
  Station& start() {
    startup(s);
    return s;
  }
  void type(const std::string& keys) {
    for (char c : keys) key_press(s, static_cast<unsigned char>(c));
  }
};

TEST_F(StartupTest, SetsTheInitialStateAndTimers) {
  Station& s = start();
  EXPECT_EQ(window.title(), "SHOPLINK 8 port communications system");
  EXPECT_EQ(s.port, 1);
  EXPECT_EQ(s.showdata, 1);
  EXPECT_EQ(s.filetype, 1);
  EXPECT_EQ(s.priority, 20);
  EXPECT_TRUE(s.Timer1.enabled());
  EXPECT_TRUE(s.Timer5.enabled());
  EXPECT_TRUE(s.Timer13.enabled());
  EXPECT_TRUE(s.Timer19.enabled());
  EXPECT_FALSE(s.Timer2.enabled());
  EXPECT_EQ(s.Timer2.interval(), 100);
  EXPECT_FALSE(s.Xoff_wait);
  EXPECT_FALSE(window.menu_enabled(Menu::conf_host));
  EXPECT_EQ(window.status(), " Configuring system ");
}

TEST_F(StartupTest, UploadTemporariesLeftByTheLastRunAreRemoved) {
  dir.write("~O1.upload", "HALF AN UPLOAD\r\n");
  dir.write("NC/~o2.UPLOAD", "HALF\r\n");
  dir.write("O1", "OLD PROGRAM\r\n");
  dir.write("DNCDATA", "COM1:9600\r\n\r\nSYSTEM.LOG\r\n9600 (LATHE)\r\n0\r\n\r\nNC\r\n");
  start();
  EXPECT_FALSE(dir.exists("~O1.upload"));
  EXPECT_FALSE(dir.exists("NC/~o2.UPLOAD"));
  EXPECT_EQ(dir.read("O1"), "OLD PROGRAM\r\n");
}

TEST_F(StartupTest, ScanrateFileSetsTheTickAndTheXoffHold) {
  dir.write("Scanrate", "250\r\n400\r\n");
  Station& s = start();
  EXPECT_EQ(s.Timer2.interval(), 250);
  EXPECT_EQ(s.Timer18.interval(), 400);
  EXPECT_TRUE(s.Xoff_wait);
}

TEST_F(StartupTest, ScanrateOfAtMost100KeepsTheDefaultAndZeroHoldClearsXoffWait) {
  dir.write("scanrate", "100\r\n0\r\n");  // found whatever its case
  Station& s = start();
  EXPECT_EQ(s.Timer2.interval(), 100);
  EXPECT_FALSE(s.Xoff_wait);
}

TEST_F(StartupTest, TheTimer1TickStartsTheScanThreeSecondsLater) {
  Station& s = start();
  loop.advance_ms(2999);
  EXPECT_FALSE(line.is_open());
  loop.advance_ms(1);
  EXPECT_TRUE(line.is_open());
  EXPECT_FALSE(s.Timer1.enabled());
  EXPECT_EQ(s.stopscanning, 1);
}

TEST_F(StartupTest, WindowPlacementIsRestoredAndSavedOnlyFromTheNormalState) {
  dir.write("SHOPLINK Screen status", " 10\r\n 20\r\n 300\r\n 400\r\n");
  Station& s = start();
  auto g = window.geometry();
  EXPECT_EQ(g.left, 10);
  EXPECT_EQ(g.top, 20);
  EXPECT_EQ(g.width, 300);
  EXPECT_EQ(g.height, 400);
  window.set_geometry({5, 6, 700, 800});
  window.set_window_state(WindowState::Minimized);
  shutdown(s);
  EXPECT_EQ(dir.read("SHOPLINK Screen status"), " 10\r\n 20\r\n 300\r\n 400\r\n");
  window.set_window_state(WindowState::Normal);
  s.shut_down = false;  // shutdown runs once a run: this is the next run's
  shutdown(s);
  EXPECT_EQ(dir.read("SHOPLINK Screen status"), " 5\r\n 6\r\n 700\r\n 800\r\n");
}

TEST_F(StartupTest, ShutdownClosesTheLineAndLogsTheStop) {
  Station& s = start();
  loop.advance_ms(3000);  // the scan opens the line
  ASSERT_TRUE(line.is_open());
  shutdown(s);
  EXPECT_FALSE(line.is_open());
  const std::string log = dir.read("SYSTEM.LOG");
  EXPECT_NE(log.find("SHOPLINK stopped (Mode menu / Exit)"), std::string::npos) << log;
}

TEST_F(StartupTest, KeyboardSelectsAPortByNameOrNumber) {
  Station& s = start();
  s.codes.controller_codes[2] =
      "\x14"
      "2\x14Q";
  s.ports[2].machine_name = "Lathe";
  s.ports[3].machine_name = "12";
  // Twelve is no port number, but it is machine 3's name.
  type("12\r");
  EXPECT_EQ(s.port, 3);
  EXPECT_EQ(s.stopscanning, 1);
  EXPECT_TRUE(s.Timer8.enabled());
  EXPECT_FALSE(s.Timer2.enabled());
  // A name typed in lower case selects its port; the select string goes out raw.
  line.written.clear();
  type("lathe\r");
  EXPECT_EQ(s.port, 2);
  EXPECT_EQ(line.written,
            "\x14"
            "2\x14Q");
  EXPECT_TRUE(s.MACHSELECT.empty());
}

TEST_F(StartupTest, KeyboardNumbersBeyondThePortsSelectNothing) {
  Station& s = start();
  type("12\r");
  EXPECT_EQ(s.port, 1);
  EXPECT_TRUE(s.MACHSELECT.empty());
  type("9\r");
  EXPECT_EQ(s.port, 1);
  type("5\r");
  EXPECT_EQ(s.port, 5);
}

TEST_F(StartupTest, KeyboardEditing) {
  Station& s = start();
  type("ab");
  EXPECT_EQ(s.MACHSELECT, "AB");
  EXPECT_TRUE(window.visible(Element::MachineEntry));
  EXPECT_EQ(window.text(Field::MachineEntry), "AB");
  type("\b");
  EXPECT_EQ(s.MACHSELECT, "A");
  type("\x1b");
  EXPECT_EQ(s.MACHSELECT, "");
  // Letters clear the digits-only marker, so "a5" is not port 5; erasing back to empty
  // sets the marker again.
  type("a5\r");
  EXPECT_EQ(s.port, 1);
  EXPECT_EQ(s.MACHSELECT, "");
  type("a\b5\r");
  EXPECT_EQ(s.port, 5);
  s.mode = Mode::Receiving;  // keys select only while scanning
  type("3\r");
  EXPECT_EQ(s.port, 5);
}

TEST_F(StartupTest, Timer8ResumesScanningAfterAKeyboardSelection) {
  Station& s = start();
  type("4\r");
  ASSERT_EQ(s.port, 4);
  s.receiving = 1;
  loop.advance_ms(10000);
  EXPECT_EQ(s.stopscanning, 0);
  EXPECT_TRUE(s.Timer2.enabled());
  EXPECT_EQ(s.receiving, 0);
}

}  // namespace
}  // namespace shoplink
