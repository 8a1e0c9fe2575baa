// How the headless station ends when it cannot serve the shop: status 2 for a configuration
// it can never use (the service manager must not restart it), status 3 when the port
// controller or its line may be there on a later try (the service restarts it). The real
// host line on the real loop, with the scan's waits cut short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "base/host_line.hpp"
#include "base/real_loop.hpp"
#include "station/startup.hpp"
#include "station/wired_station.hpp"
#include "support/station_fixture.hpp"
#include "support/temp_dir.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {
namespace {

using namespace std::chrono_literals;

struct ExitCase {
  const char* name;
  const char* line1;  // nullptr: no DNCDATA at all
  const char* com1;   // the host map's COM1, with {dir}, {pty} and {refused} filled in
  int status;
  const char* code_line = "0";
};

void PrintTo(const ExitCase& c, std::ostream* os) {
  *os << c.name;
}

// A TCP port on loopback that nobody listens on.
std::string refused_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return std::to_string(ntohs(a.sin_port));
}

std::string filled(std::string text, const std::string& key, const std::string& value) {
  for (auto at = text.find(key); at != std::string::npos; at = text.find(key))
    text.replace(at, key.size(), value);
  return text;
}

class ExitStatus : public ::testing::TestWithParam<ExitCase> {
 protected:
  void SetUp() override {
    // A pseudo-terminal whose other end never answers: a controller that is off.
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    pty = ::ptsname(master);
  }
  void TearDown() override {
    if (master >= 0) ::close(master);
  }

  int master = -1;
  std::string pty;
  TempDir dir;
  RealClock clock;
  RealLoop loop{clock};
  RecordingWindow window;
  RecordingDialogs dialogs;
  RecordingPlatform platform;
  HostPaths paths{dir.path()};
  HostLine line{loop, [this](const std::string& d) { return paths.com_device(d); }};
  WiredStation s{{loop, line, window, dialogs, platform, paths}};
};

TEST_P(ExitStatus, TheServiceIsToldWhetherATryLaterCanHelp) {
  const ExitCase& c = GetParam();
  if (c.line1)
    dir.write("DNCDATA",
              make_dncdata(c.line1, "", "SYSTEM.LOG", {std::string("9600\n") + c.code_line}));
  dir.write("PLAIN", "not a device");
  if (c.com1) {
    std::string device = filled(c.com1, "{dir}", dir.path().string());
    device = filled(device, "{pty}", pty);
    device = filled(device, "{refused}", refused_port());
    paths.map("COM1", device);
  }
  s.exit_on_scan_failure = true;
  s.Timer1.set_interval(1);    // the scan at once, not 3 s after start-up
  s.Timer12.set_interval(50);  // and a short wait for the controller's answer
  startup(s);
  const auto end = loop.now() + 10s;
  loop.wait_for([&] { return s.exit_status.has_value() || loop.now() >= end; }, 5ms);
  ASSERT_TRUE(s.exit_status.has_value()) << "the station did not end";
  EXPECT_EQ(*s.exit_status, c.status) << "host line: " << line.open_error();
  ASSERT_FALSE(dialogs.boxes.empty());
  EXPECT_EQ(dialogs.boxes.back().title, "SHOPLINK error message");
}

const ExitCase kExitCases[] = {
    // Never usable: a restart would fail the same way every 30 s for ever.
    {"NoDncdata", nullptr, nullptr, 2},
    {"CodeTypeOutsideTheTables", "COM1:9600", "{pty}", 2, "7"},
    {"Line1WithoutComPort", "9600", nullptr, 2},
    {"Line1Empty", "", nullptr, 2},
    {"ComDigitALetter", "COMX:9600", nullptr, 2},
    {"ComZero", "COM0:9600", nullptr, 2},
    {"NoRate", "COM1", "{pty}", 2},
    {"RateTheLineCannotTake", "COM1:96OO", "{pty}", 2},
    {"DeviceNotASerialLine", "COM1:9600", "/dev/null", 2},
    {"DeviceAPlainFile", "COM1:9600", "{dir}/PLAIN", 2},
    {"DeviceAFolder", "COM1:9600", "{dir}", 2},
    {"DevicePathThroughAFile", "COM1:9600", "{dir}/PLAIN/ttyS0", 2},
    {"DeviceServerAddressWithoutPort", "COM1:9600", "tcp://127.0.0.1", 2},
    {"DeviceServerAddressNotANumber", "COM1:9600", "rfc2217://127.0.0.1:telnet", 2},
    // May be there on a later try: the adapter plugged in, the device server or the
    // controller switched on.
    {"DeviceAbsent", "COM1:9600", "{dir}/ttyUSB9", 3},
    {"DeviceServerRefuses", "COM1:9600", "tcp://127.0.0.1:{refused}", 3},
    {"ControllerSilent", "COM1:9600", "{pty}", 3},
};

INSTANTIATE_TEST_SUITE_P(Headless, ExitStatus, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace shoplink::testing
