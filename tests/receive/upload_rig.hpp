#pragma once
// A station on virtual time with one scripted machine line: what the test puts in `line.input`
// arrives at the next receive poll, everything the station writes is kept. Port 1 stores into
// UP and sends from NC, both under the station directory.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/host_paths.hpp"
#include "base/virtual_loop.hpp"
#include "core/station.hpp"
#include "support/fake_line.hpp"
#include "support/line_station.hpp"
#include "support/temp_dir.hpp"
#include "transmit/code_tables.hpp"
#include "ui/recorder.hpp"

namespace shoplink::testing {

struct UploadRig : LineStation<> {
  explicit UploadRig(int port = 1) {
    std::filesystem::create_directories(dir.path() / "UP");
    std::filesystem::create_directories(dir.path() / "NC");
    build_code_tables(s);
    s.config.log_path = s.station_file("SHOPLINK.LOG");
    for (int p = 1; p <= NumPorts; ++p) {
      s.ports[static_cast<std::size_t>(p)].receive_dir = s.station_file("UP");
      s.ports[static_cast<std::size_t>(p)].send_dir = s.station_file("NC");
    }
    s.port = static_cast<std::int16_t>(port);
    s.showdata = 1;
    s.filetype = 1;
    line.open();
    s.mode = Mode::Scanning;
    s.Timer13.start();
  }
  PortSettings& port() { return s.cur(); }
  // After a transfer the scanning cycle walks the ports; the next command comes from this
  // one again.
  void stay_on_port(int p = 1) {
    s.Timer2.stop();
    s.port = static_cast<std::int16_t>(p);
  }

  void send(const std::string& bytes) { line.input += bytes; }
  void run_ms(int ms) { loop.advance_ms(ms); }
  // The machine's command, then the settling pause.
  void command(const std::string& text) {
    send(text + "\r\n");
    run_ms(1300);
  }
  // The program in one batch, then silence until the reception has ended.
  void upload(const std::string& bytes) {
    send(bytes);
    run_ms(200);
    run_ms(6000);
  }
  std::string read(const std::string& rel) const { return dir.read(rel); }
  bool exists(const std::string& rel) const { return dir.exists(rel); }
  std::string log() const { return dir.read("SHOPLINK.LOG"); }
};

}  // namespace shoplink::testing
