// What a machine sends, byte for byte and in bursts, from scanning on: command capture, the
// interpreter, the requests it starts (a store request takes the rest as its upload) and the
// transfer that follows, on every code type and a spread of controller words. Checked: no crash, no
// hang of the virtual loop, and no file outside the station directory touched.
#include <cstddef>
#include <cstdint>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "config/dncdata.hpp"
#include "core/scan_selection.hpp"
#include "fuzz_rig.hpp"
#include "station/wired_station.hpp"
#include "transmit/code_tables.hpp"
#include "ui/recorder.hpp"

using namespace shoplink;
namespace fs = std::filesystem;

namespace {

// One code line a port: every code type, and the words that change how requests and
// uploads are read.
constexpr const char* kCodeLines[8] = {
    "0 DELAY=2", "1 AB REPLY=123 DELAY=2", "2 /BAK DELAY=2",          "3 DELAY=2", "4 DELAY=2",
    "5 DELAY=2", "0 /32 WINDOWS DELAY=2",  "1 OKUMA REPLY=O1 DELAY=2"};

std::string dncdata() {
  std::string d = "COM1:9600,Q\r\nPCNC =3\r\nSYSTEM.LOG,4000\r\n";
  for (int k = 0; k < 8; ++k) {
    d += "9600 (M" + std::to_string(k + 1) + ")\r\n";
    d += std::string(kCodeLines[k]) + "\r\n";
    d += "RX,C:\\UP\r\n";
    d += "NC,C:\\NC\r\n";
    d += k % 2 ? "O,+.NC,DIR=RUN,IGNORE=%\r\n" : "\r\n";
  }
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  static fuzzing::FuzzTree tree({{"DNCDATA", dncdata()},
                                 {"NC/O1234.NC", "%\r\nO1234\r\nG0X1.\r\nM30\r\n%\r\n"},
                                 {"NC/PROG0001", "\"O1\"\r\n\"M30\"\r\n"},
                                 {"cdrive/NC/O55.NC", "O55\r\n"},
                                 {"cdrive/UP/keep", ""},
                                 {"RX/keep", ""},
                                 {"Q/keep", ""}},
                                {{"outside/O1234.NC", "not the station's\r\n"}});
  tree.reset();
  // The HOSTMAP names the tree's own folder, known only once the tree is made.
  tree.write("HOSTMAP", "C:=" + (tree.station() / "cdrive").string() + "\r\n");

  fuzzing::FuzzStation st(tree.station());
  VirtualLoop& loop = st.loop;
  testing::FakeLine& line = st.line;
  WiredStation& s = st.s;
  st.paths.load_hostmap_file();
  if (!read_dncdata(s)) fuzzing::fail("the fuzz DNCDATA was refused");
  build_code_tables(s);
  line.open();
  s.port = static_cast<std::int16_t>(data[0] % 8 + 1);
  mode_scan_Click(s);
  s.Timer2.stop();  // stay on the port the input comes from
  s.Timer5.start();
  s.Timer13.start();
  // The machine speaks in bursts: the byte 0xFE starts the next one 2.5 s later, so that an
  // upload or an Xon can follow its command as on a real line.
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t start = 0;
  TimePoint last_burst = loop.now();
  for (int burst = 0; start <= bytes.size(); ++burst) {
    std::size_t end = bytes.find('\xFE', start);
    if (end == std::string_view::npos) end = bytes.size();
    last_burst = loop.now() + millis(2500) * burst;
    loop.post_at(last_burst, [&line, text = std::string(bytes.substr(start, end - start))] {
      line.input += text;
    });
    start = end + 1;
  }
  // 20 s at most; but once every burst is in and the station has gone back to plain
  // scanning, only the port cycle would run on: 2 s of that (every port visited twice over)
  // ends the input early. Most inputs end there, and the scan ticks were most of the cost.
  const TimePoint limit = loop.now() + millis(20000);
  TimePoint idle_since = TimePoint::max();
  while (loop.now() < limit) {
    loop.advance(millis(100));
    if (loop.now() < last_burst || !fuzzing::only_scanning(s, line)) {
      idle_since = TimePoint::max();
    } else if (idle_since == TimePoint::max()) {
      idle_since = loop.now();
    } else if (loop.now() - idle_since >= millis(2000)) {
      break;
    }
  }

  tree.check_outside();
  return 0;
}
