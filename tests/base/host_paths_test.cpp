#include "base/host_paths.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace shoplink {
namespace {

// A fresh station directory and a second directory to map a drive to.
struct HostPathsTest : ::testing::Test {
  fs::path top;
  fs::path dir;
  fs::path nc;
  HostPathsTest() {
    std::string tmpl = (fs::temp_directory_path() / "shoplink-paths-XXXXXX").string();
    top = ::mkdtemp(tmpl.data());
    dir = top / "station";
    nc = top / "nc";
    fs::create_directories(dir);
    fs::create_directories(nc);
  }
  ~HostPathsTest() override { fs::remove_all(top); }
  static void touch(const fs::path& p, const std::string& content = "") {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
};

TEST_F(HostPathsTest, StationTextBecomesAHostPathUnderTheStationDirectory) {
  HostPaths paths(dir.string() + "/");
  EXPECT_EQ(paths.station_dir_text(), dir.string());  // no trailing separator
  EXPECT_EQ(paths.host_path("O1234.NC"), dir / "O1234.NC");
  EXPECT_EQ(paths.host_path("PROGS\\SUB\\O1.NC"), dir / "PROGS/SUB/O1.NC");
  // The form the logic builds: station directory & "\" & name.
  EXPECT_EQ(paths.host_path(paths.station_dir_text() + "\\Scanrate"), dir / "Scanrate");
  EXPECT_EQ(paths.host_path(paths.station_dir_text() + "\\SHOPLINK Queue command3"),
            dir / "SHOPLINK Queue command3");
  // Absolute host paths (the operator's DNCDATA may hold them) are taken as written.
  EXPECT_EQ(paths.host_path("/srv/progs\\O1.NC"), fs::path("/srv/progs/O1.NC"));
  EXPECT_EQ(paths.host_path("\\srv\\progs\\O1.NC"), fs::path("/srv/progs/O1.NC"));
}

TEST_F(HostPathsTest, DisplayFormUsesTheHostsSeparatorAndMappedDrives) {
  HostPaths paths(dir);
  paths.map("C:", "/srv/nc/");
  paths.map("R:", "/");
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"/srv/nc/progs\\O1234", "/srv/nc/progs/O1234"},
      {"NC3\\O1234.NC", "NC3/O1234.NC"},
      {"C:\\NC\\O1", "/srv/nc/NC/O1"},
      {"c:NC\\O1", "/srv/nc/NC/O1"},
      {"C:\\", "/srv/nc"},
      {"R:\\O1", "/O1"},
      {"E:\\NC\\O1", "E:/NC/O1"},  // not mapped: shown, not resolved
      {"..\\x", "../x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(paths.display(c.text), c.shown) << c.text;
}

TEST_F(HostPathsTest, StationDirectoryIsAbsoluteAndServesAsTheProgramDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(top);
  HostPaths paths("station");
  fs::current_path(before);
  EXPECT_EQ(paths.station_dir(), dir);
  // Helper programs and the TRASH file are looked for in the program's folder.
  touch(dir / "Autoprint.exe");
  EXPECT_EQ(paths.existing("AUTOPRINT.EXE"), dir / "Autoprint.exe");
  EXPECT_EQ(paths.host_path("TRASH"), dir / "TRASH");
}

TEST_F(HostPathsTest, DrivesAreLookedUpInTheHostMapWhateverTheirCase) {
  HostPaths paths(dir);
  paths.map("C:", nc.string());
  paths.map("e", "progs");  // a drive written without its colon; relative to the station
  EXPECT_EQ(paths.host_path("C:\\NC\\O1.NC"), nc / "NC/O1.NC");
  EXPECT_EQ(paths.host_path("c:\\nc\\o1.nc"), nc / "nc/o1.nc");
  EXPECT_EQ(paths.host_path("C:\\"), nc / "");
  EXPECT_EQ(paths.host_path("C:O1.NC"), nc / "O1.NC");  // drive-relative
  EXPECT_EQ(paths.host_path("E:\\O1.NC"), dir / "progs/O1.NC");
  // A drive the map does not name stays a literal folder of the station directory.
  EXPECT_EQ(paths.host_path("D:\\NC\\O1.NC"), dir / "D:/NC/O1.NC");
  EXPECT_EQ(HostPaths::drive_of("c:\\x"), 'C');
  EXPECT_EQ(HostPaths::drive_of("1:\\x"), 0);
  EXPECT_EQ(HostPaths::drive_of("C"), 0);
}

TEST_F(HostPathsTest, HostmapFileAndCommandLineEntries) {
  // The file is found whatever the case of its name; CR LF lines, apostrophe comments.
  touch(dir / "hostmap",
        "' where the shop's drives live\r\n"
        "com1 = /dev/ttyUSB0\r\n"
        "\r\n"
        "   \r\n"
        "c:=" +
            nc.string() +
            "   ' the NC share\r\n"
            "F:=/srv/f\r\n"
            "no assignment here\r\n"
            "=/dev/null\r\n");
  HostPaths paths(dir);
  EXPECT_EQ(paths.load_hostmap_file(),
            (std::vector<std::string>{"no assignment here", "=/dev/null"}));
  EXPECT_EQ(paths.lookup("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(paths.lookup("Com1"), "/dev/ttyUSB0");
  EXPECT_EQ(paths.lookup("C"), nc.string());
  EXPECT_EQ(paths.lookup("c:"), nc.string());
  EXPECT_EQ(paths.lookup("D:"), std::nullopt);

  // --map entries come after the file and win.
  EXPECT_TRUE(paths.map_assignment("F:=/srv/other"));
  EXPECT_EQ(paths.host_path("F:\\X"), fs::path("/srv/other/X"));
  for (const char* bad : {"", "=", "F:", "F:=", "=x", "  = x"})
    EXPECT_FALSE(paths.map_assignment(bad)) << bad;
  EXPECT_EQ(paths.lookup("F:"), "/srv/other");
  // Blanks around the name and the value, one or several, are not part of them.
  EXPECT_TRUE(paths.map_assignment(" G: = /srv/g"));
  EXPECT_EQ(paths.lookup("G:"), "/srv/g");
  EXPECT_TRUE(paths.map_assignment("  H:\t=\t /srv/h "));
  EXPECT_EQ(paths.lookup("H:"), "/srv/h");

  HostPaths bare(nc);  // no HOSTMAP at all
  EXPECT_TRUE(bare.load_hostmap_file().empty());
}

TEST_F(HostPathsTest, ComPortsNameDevices) {
  HostPaths paths(dir);
  EXPECT_EQ(paths.com_device("1"), "/dev/ttyS0");
  EXPECT_EQ(paths.com_device("4"), "/dev/ttyS3");
  paths.map_assignment("COM4=/dev/ttyUSB1");
  EXPECT_EQ(paths.com_device("4"), "/dev/ttyUSB1");
  // No COM0, and a letter is no port: the open must fail rather than take ttyS0.
  EXPECT_EQ(paths.com_device("0"), "");
  EXPECT_EQ(paths.com_device("A"), "");
  EXPECT_EQ(paths.com_device(""), "");
}

TEST_F(HostPathsTest, ExistingNamesMatchWithoutRegardToCase) {
  touch(dir / "progs/o1234.nc", "x");
  touch(nc / "Parts/O55");
  HostPaths paths(dir);
  paths.map("C:", nc.string());
  EXPECT_EQ(paths.existing("PROGS\\O1234.NC"), dir / "progs/o1234.nc");
  EXPECT_EQ(paths.existing("progs\\o1234.nc"), dir / "progs/o1234.nc");
  EXPECT_EQ(paths.existing(paths.station_dir_text() + "\\Progs\\O1234.nc"), dir / "progs/o1234.nc");
  EXPECT_EQ(paths.existing("c:\\PARTS\\o55"), nc / "Parts/O55");
  // A new name in an existing folder lands in that folder, spelt as asked.
  EXPECT_EQ(paths.existing("PROGS\\NEW.NC"), dir / "progs/NEW.NC");
  // Nothing to match: the path as written.
  EXPECT_EQ(paths.existing("OTHER\\O1.NC"), dir / "OTHER/O1.NC");
}

TEST_F(HostPathsTest, AmbiguousCaseMatchesAreNotGuessed) {
  touch(dir / "a.nc", "lower");
  touch(dir / "A.NC", "upper");
  HostPaths paths(dir);
  EXPECT_EQ(paths.existing("a.nc"), dir / "a.nc");  // exact names still win
  EXPECT_EQ(paths.existing("A.NC"), dir / "A.NC");
  EXPECT_EQ(paths.existing("A.nc"), dir / "A.nc");  // two candidates: neither is taken
}

TEST_F(HostPathsTest, ConfinementRefusesClimbingSegments) {
  HostPaths paths(dir);
  paths.map("C:", nc.string());
  for (const char* t : {"..", "..\\x", "PROGS\\..\\..\\x", "a/../b", "PROGS\\..", "C:\\NC\\..",
                        "C:..\\x", "c:\\..\\..\\etc\\passwd", "x\\..\\y"})
    EXPECT_FALSE(paths.confined(t)) << t;
  // Dots that do not climb are plain names.
  for (const char* t : {"...", "..x", "x..", ".\\O1.NC", "O1..NC", "C:\\.\\O1"})
    EXPECT_TRUE(paths.confined(t)) << t;
  EXPECT_FALSE(paths.confined(std::string("O1\0/etc", 7)));
}

// The host would end a name at a NUL; the name reads as the log shows it instead.
TEST_F(HostPathsTest, ANulNeverShortensAName) {
  HostPaths paths(dir);
  paths.map("C:", nc.string() + std::string("\0/x", 3));
  EXPECT_EQ(paths.host_path(std::string("O12\0"
                                        "34",
                                        6)),
            dir / "O12<00>34");
  EXPECT_EQ(paths.host_path(std::string("/srv/O1\0\\Q", 10)), fs::path("/srv/O1<00>/Q"));
  EXPECT_EQ(paths.host_path("C:\\O1"), fs::path(nc.string() + "<00>/x/O1"));
  touch(dir / "O12");
  EXPECT_EQ(paths.existing(std::string("O12\0", 4)), dir / "O12<00>");
}

TEST_F(HostPathsTest, ConfinementNeedsAMappedDriveWhateverItsCase) {
  HostPaths paths(dir);
  paths.map("C:", nc.string());
  EXPECT_TRUE(paths.confined("C:\\NC\\O1.NC"));
  EXPECT_TRUE(paths.confined("c:\\nc\\o1.nc"));
  EXPECT_TRUE(paths.confined("C:O1.NC"));
  EXPECT_FALSE(paths.confined("D:\\NC\\O1.NC"));
  EXPECT_FALSE(paths.confined("d:O1.NC"));
  EXPECT_TRUE(paths.confined("O1234.NC"));
  EXPECT_TRUE(paths.confined("PROGS\\O1234.NC"));
}

TEST_F(HostPathsTest, ConfinementKeepsAbsoluteHostPathsInTheStationsDirectories) {
  HostPaths paths(dir);
  paths.map("C:", nc.string());
  EXPECT_FALSE(paths.confined("/etc/passwd"));
  EXPECT_FALSE(paths.confined("\\etc\\passwd"));
  EXPECT_TRUE(paths.confined(paths.station_dir_text() + "\\O1.NC"));
  EXPECT_TRUE(paths.confined(nc.string() + "\\PARTS\\O1.NC"));  // inside the mapped drive
  // A sibling whose name merely begins with the station directory's is outside.
  EXPECT_FALSE(paths.confined(paths.station_dir_text() + "2\\O1.NC"));
  EXPECT_FALSE(paths.confined(top.string() + "\\O1.NC"));
}

}  // namespace
}  // namespace shoplink
