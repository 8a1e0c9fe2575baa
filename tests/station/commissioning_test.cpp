// Commissioning: `init` writes a station directory that start-up accepts as it is, never
// replacing a file; `check` reads a directory as start-up does and names each problem.
#include "station/commissioning.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "station/startup.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"
#include "support/unprivileged.hpp"

namespace shoplink {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// A pseudo-terminal whose slave stands in for the host line's device: it exists and opens.
struct PtyDevice {
  PtyDevice() {
    char name[256];
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
  }
  ~PtyDevice() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  int master = -1, slave = -1;
  std::string path;
};

// A socket listening on 127.0.0.1 (a device server that takes connections), or, closed,
// an address that refuses them.
struct Listener {
  Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 1);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    address = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  }
  ~Listener() { close(); }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fd = -1;
  std::string address;
};

std::string joined(const std::vector<std::string>& v) {
  std::string out;
  for (const auto& s : v) out += s + "\n";
  return out;
}

// A fresh `init` directory with the host line mapped to a pseudo-terminal.
struct InitDir {
  InitDir() {
    std::ostringstream out, err;
    status = init_station_dir(dir.path(), out, err);
    said = out.str();
    maps = {"COM1=" + pty.path};
  }
  // Replaces DNCDATA line n (1-based), comment and all.
  void set_line(std::size_t n, const std::string& text) const {
    std::string t = dir.read("DNCDATA"), out;
    std::size_t start = 0;
    for (std::size_t i = 1; start <= t.size(); ++i) {
      auto end = t.find("\r\n", start);
      if (end == std::string::npos) end = t.size();
      out += (i == n ? text : t.substr(start, end - start));
      if (end == t.size()) break;
      out += "\r\n";
      start = end + 2;
    }
    dir.write("DNCDATA", out);
  }
  CheckReport check() const { return check_station(dir.path(), maps); }

  TempDir dir;
  PtyDevice pty;
  std::vector<std::string> maps;
  int status = -1;
  std::string said;
};

TEST(Init, WritesAStationDirectoryThatCheckFindsClean) {
  InitDir d;
  ASSERT_FALSE(d.pty.path.empty());
  EXPECT_EQ(d.status, 0);
  for (const char* f : {"DNCDATA", "HOSTMAP", kStarterProgram})
    EXPECT_NE(d.said.find("wrote " + (d.dir.path() / f).string()), std::string::npos) << f;
  EXPECT_TRUE(fs::is_directory(d.dir.path() / kStarterProgramDir));

  const CheckReport r = d.check();
  EXPECT_TRUE(r.problems.empty()) << joined(r.problems);
  const std::string lines = joined(r.lines);
  EXPECT_NE(lines.find("Host line: COM1:9600 -> " + d.pty.path + ", 9600 baud"), std::string::npos)
      << lines;
  EXPECT_NE(lines.find("Port 2 (MACHINE 2): 4800 baud, code 3 EIA RS-244-B, end of block LF"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("Port 5 (MACHINE 5): 9600 baud, code 1 ISO, odd parity, end of block "
                       "CR LF"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("receive " + d.dir.path().string() + "/PROGRAMS"), std::string::npos)
      << lines;
  // Check only reads: no log, no copies.
  EXPECT_FALSE(d.dir.exists("SHOPLINK.LOG"));

  std::ostringstream out;
  EXPECT_EQ(print_check(r, out), 0);
  EXPECT_NE(out.str().find("No problems found."), std::string::npos);
}

TEST(Init, StartUpAcceptsTheDirectoryAsItIs) {
  testing::LineStation<> t;
  std::ostringstream out, err;
  ASSERT_EQ(init_station_dir(t.dir.path(), out, err), 0);
  startup(t.s);
  EXPECT_FALSE(t.s.exit_status);
  EXPECT_TRUE(t.dialogs.boxes.empty());
  EXPECT_EQ(t.s.ports[2].code_type, 3);
  EXPECT_EQ(t.s.ports[8].extension, ".NC");
  EXPECT_TRUE(t.s.Timer1.enabled());
}

TEST(Init, NeverReplacesAFileAndSaysWhichItKept) {
  TempDir dir;
  dir.write("DNCDATA", "mine");
  dir.write("PROGRAMS/O0001.NC", "my program");
  std::ostringstream out, err;
  EXPECT_EQ(init_station_dir(dir.path(), out, err), 0);
  EXPECT_EQ(dir.read("DNCDATA"), "mine");
  EXPECT_EQ(dir.read("PROGRAMS/O0001.NC"), "my program");
  EXPECT_NE(out.str().find("kept " + (dir.path() / "DNCDATA").string()), std::string::npos);
  EXPECT_NE(out.str().find("kept " + (dir.path() / "PROGRAMS/O0001.NC").string()),
            std::string::npos);
  EXPECT_NE(out.str().find("wrote " + (dir.path() / "HOSTMAP").string()), std::string::npos);
}

TEST(Init, ADncdata8KeepsTheStarterDncdataOut) {
  TempDir dir;
  dir.write("DNCDATA.8", "mine");
  std::ostringstream out, err;
  EXPECT_EQ(init_station_dir(dir.path(), out, err), 0);
  EXPECT_FALSE(dir.exists("DNCDATA"));
  EXPECT_NE(out.str().find("kept " + (dir.path() / "DNCDATA.8").string()), std::string::npos);
}

// One broken setup each, made from a clean `init` directory.
struct Broken {
  const char* name;
  void (*breaks)(InitDir&);
  const char* problem;  // a part of the one problem reported
};

const Broken kBroken[] = {
    {"NoDncdata", [](InitDir& d) { fs::remove(d.dir.path() / "DNCDATA"); }, "no DNCDATA.8 or"},
    {"DncdataTooLong", [](InitDir& d) { d.dir.write("DNCDATA", std::string(400, '\n')); },
     "more than 350 lines"},
    {"MissingReceiveDirectory", [](InitDir& d) { d.set_line(6, "UPLOADS"); },
     "port 1 receive directory"},
    {"UnmappedDrive", [](InitDir& d) { d.set_line(12, "E:\\NC"); }, "drive E: is not mapped"},
    {"QueueDirectoryMissing", [](InitDir& d) { d.set_line(1, "COM1:9600,QUEUE"); },
     "queue directory"},
    {"HostDeviceMissing", [](InitDir& d) { d.maps = {"COM1=/dev/shoplink-no-such-tty"}; },
     "does not exist"},
    {"HostDeviceUnopenable", [](InitDir& d) { d.maps = {"COM1=" + d.dir.path().string()}; },
     "cannot be opened"},
    {"HostDeviceNotALine",
     [](InitDir& d) { d.maps = {"COM1=" + (d.dir.path() / "HOSTMAP").string()}; },
     "is not a serial line"},
    {"DeviceServerUnreachable",
     [](InitDir& d) {
       Listener gone;
       gone.close();
       d.maps = {"COM1=" + gone.address};
     },
     ": connection refused (HOSTMAP or --map"},
    {"NoComPort", [](InitDir& d) { d.set_line(1, "COMX:9600"); }, "names no COM port"},
    {"HostRate", [](InitDir& d) { d.set_line(1, "COM1:1440"); }, "host line rate \"1440\""},
    {"PortRate", [](InitDir& d) { d.set_line(9, "19200 (MILL)"); },
     "port 2: rate \"19200 (MILL)\" is not one the port controller takes"},
    {"CodeType", [](InitDir& d) { d.set_line(15, "7"); }, "port 3: code type 7 is not one"},
    {"BrokenOptionArea", [](InitDir& d) { d.set_line(23, ",=T"); }, "port 4: the option area"},
    {"HostmapLine", [](InitDir& d) { d.dir.write("HOSTMAP", "COM1\n"); },
     "HOSTMAP: cannot read the line \"COM1\""},
    {"HistoryKeep", [](InitDir& d) { d.dir.write("HOSTMAP", "HISTORY_KEEP=all\n"); },
     "HOSTMAP: HISTORY_KEEP=all is not a whole number from 1 to 100000"},
};

class CheckFinds : public ::testing::TestWithParam<Broken> {};

TEST_P(CheckFinds, TheOneProblem) {
  InitDir d;
  GetParam().breaks(d);
  const CheckReport r = d.check();
  ASSERT_EQ(r.problems.size(), 1u) << joined(r.problems);
  EXPECT_NE(r.problems[0].find(GetParam().problem), std::string::npos) << r.problems[0];
  std::ostringstream out;
  EXPECT_EQ(print_check(r, out), 1);
  EXPECT_NE(out.str().find("1 problem:\n  - "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Commissioning, CheckFinds, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

// A device server that answers: no problem, and it is connected to once and sent nothing.
TEST(Check, AReachableDeviceServerIsNoProblemAndIsSentNothing) {
  InitDir d;
  Listener server;
  d.maps = {"COM1=" + server.address};
  const CheckReport r = d.check();
  EXPECT_TRUE(r.problems.empty()) << joined(r.problems);
  pollfd p{server.fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1) << "check did not connect";
  const int peer = ::accept(server.fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  char c;
  EXPECT_EQ(::recv(peer, &c, 1, 0), 0);
  ::close(peer);
}

TEST(Check, AnUnwritableReceiveDirectoryIsAProblem) {
  InitDir d;
  fs::create_directories(d.dir.path() / "IN");
  d.set_line(6, "IN");
  testing::UnprivilegedFor as_service(d.dir.path(), d.dir.path() / "IN");
  const CheckReport r = d.check();
  // (The service account may also be refused the pseudo-terminal; that is not this case.)
  const std::string all = joined(r.problems);
  EXPECT_NE(
      all.find("port 1 receive directory " + (d.dir.path() / "IN").string() + " is not writable"),
      std::string::npos)
      << all;
}

TEST(Check, AMissingStationDirectoryIsAProblem) {
  const CheckReport r = check_station("/nonexistent/shoplink-station", {});
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("does not exist"), std::string::npos);
}

}  // namespace
}  // namespace shoplink
